#include <gtest/gtest.h>

#include "library/CaseHistory.h"
#include "support/StoreFixture.h"

using namespace ovalis;

namespace {

using CaseHistoryTest = test::StoreFixture;

TEST_F(CaseHistoryTest, PushMovesACaseToTheEndAndKeepsTheLastTen)
{
    CaseHistory history;
    Case *a = newCase(QStringLiteral("ABC1235"));
    Case *b = newCase(QStringLiteral("ABC1236"));
    history.push(a);
    history.push(b);
    history.push(a);
    EXPECT_EQ(history.cases(), (QList<Case *>{b, a}));
    EXPECT_EQ(history.at(0), b);
    EXPECT_EQ(history.at(2), nullptr);

    QList<Case *> cases;
    for (int i = 0; i < 11; ++i)
        cases.append(newCase(QStringLiteral("DEF%1").arg(1000 + i)));
    history.clear();
    for (Case *item : cases)
        history.push(item);
    EXPECT_EQ(history.count(), 10);
    EXPECT_EQ(history.cases(), cases.mid(1));

    // Pushing one already there at the full limit drops nothing else.
    history.push(cases[5]);
    EXPECT_EQ(history.count(), 10);
    EXPECT_EQ(history.cases().first(), cases[1]);
    EXPECT_EQ(history.cases().last(), cases[5]);
    EXPECT_EQ(history.cases().count(cases[5]), 1);
}

} // namespace
