#include <gtest/gtest.h>
#include <vector>

#include "ChildPeakMemory.h"

using ovalis::bench::childPeakMemoryKiB;

namespace {

TEST(ChildPeakMemoryTest, ThePeakIsTheProgramsOwnNotThatOfTheProcessRunningIt)
{
    // This process holds 384 MB, every page of it touched.
    constexpr qint64 heldKiB = 384 * 1024;
    std::vector<char> held(size_t(heldKiB) * 1024, 1);

    const qint64 shell = childPeakMemoryKiB(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("exit 0")});
    EXPECT_GT(shell, 0);
    EXPECT_LT(shell, 32 * 1024);
    // A shell holding a 64 MB string.
    const qint64 grown = childPeakMemoryKiB(QStringLiteral("/bin/sh"),
                                            {QStringLiteral("-c"), QStringLiteral("x=$(head -c 67108864 /dev/zero | tr '\\0' a)")});
    EXPECT_GT(grown, 64 * 1024);
    EXPECT_LT(grown, heldKiB);

    EXPECT_EQ(childPeakMemoryKiB(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("exit 3")}), -1);
    EXPECT_EQ(childPeakMemoryKiB(QStringLiteral("/nonexistent/program"), {}), -1);
    EXPECT_EQ(held[held.size() / 2], 1);
}

} // namespace
