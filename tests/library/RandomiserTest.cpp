#include <QSet>
#include <gtest/gtest.h>

#include "library/Randomiser.h"
#include "support/StoreFixture.h"

using namespace ovalis;

namespace {

using RandomiserTest = test::StoreFixture;

// A source that answers the given draws in turn, counting what it was asked for.
struct ScriptedSource {
    QList<quint32> draws;
    int taken = 0;
    quint32 operator()() { return draws.at(taken++); }
};

TEST(RandomiserIndexTest, BiasedDrawsAreRejectedAndTheRestMapEvenly)
{
    // 2^32 = 3 * 1431655765 + 1: the draw 0 would give index 0 one chance too many.
    ScriptedSource source{{0, 0, 7}};
    EXPECT_EQ(Randomiser::uniformIndex(3, std::ref(source)), 1u);
    EXPECT_EQ(source.taken, 3);

    // 2^32 mod (2^31 + 1) = 2^31 - 1: everything below that is drawn again.
    const quint32 bound = 0x80000001u;
    ScriptedSource wide{{0x7FFFFFFEu, 0x7FFFFFFFu}};
    EXPECT_EQ(Randomiser::uniformIndex(bound, std::ref(wide)), 0x7FFFFFFFu);
    EXPECT_EQ(wide.taken, 2);
    ScriptedSource top{{0xFFFFFFFFu}};
    EXPECT_EQ(Randomiser::uniformIndex(bound, std::ref(top)), 0x7FFFFFFEu);

    // Every accepted draw of a whole cycle of 5 lands each index exactly once.
    const quint32 threshold = quint32(0x100000000ull % 5);
    QList<int> hits(5, 0);
    for (quint32 draw = threshold; draw < threshold + 5 * 40; ++draw) {
        ScriptedSource one{{draw}};
        ++hits[int(Randomiser::uniformIndex(5, std::ref(one)))];
    }
    EXPECT_EQ(hits, QList<int>(5, 40));

    EXPECT_EQ(Randomiser::uniformIndex(1, [] { return 0xFFFFFFFFu; }), 0u);
}

TEST_F(RandomiserTest, EachDistinctCandidateIsAnsweredOnceThenNothing)
{
    Case *a = newCase(QStringLiteral("A"));
    Case *b = newCase(QStringLiteral("B"));
    Case *c = newCase(QStringLiteral("C"));

    // Duplicates count once: index 1 of the distinct candidates a, b is b.
    ScriptedSource source{{1, 0, 0, 0}};
    Randomiser scripted(std::ref(source));
    EXPECT_EQ(scripted.randomCase({a, a, b}), b);
    EXPECT_EQ(scripted.randomCase({a, b, nullptr, c}), a);
    EXPECT_EQ(scripted.randomCase({c, a, b}), c);
    EXPECT_EQ(scripted.randomCase({a, b, c}), nullptr);
    EXPECT_EQ(source.taken, 3);
    EXPECT_EQ(scripted.shownCases(), (QList<Case *>{b, a, c}));
    EXPECT_EQ(scripted.randomCase({}), nullptr);

    // The system's source over the same three: each once, in some order.
    Randomiser randomiser;
    QSet<Case *> answered;
    for (int i = 0; i < 3; ++i)
        answered.insert(randomiser.randomCase({a, b, c}));
    EXPECT_EQ(answered, (QSet<Case *>{a, b, c}));
    EXPECT_EQ(randomiser.randomCase({a, b, c}), nullptr);
    EXPECT_EQ(randomiser.shownCases().size(), 3);

    // A new case is still offered after the others have all been shown.
    Case *d = newCase(QStringLiteral("D"));
    EXPECT_EQ(randomiser.randomCase({a, b, c, d}), d);
}

TEST_F(RandomiserTest, CasesOfAClosedLibraryAreNeverMistakenForNewOnes)
{
    Randomiser randomiser;
    Case *first = newCase(QStringLiteral("A"));
    ASSERT_EQ(randomiser.randomCase({first}), first);
    reopen();
    EXPECT_EQ(randomiser.shownCases(), QList<Case *>{nullptr});
    Case *again = newCase(QStringLiteral("B"));
    EXPECT_EQ(randomiser.randomCase({again}), again);
}

} // namespace
