#include <gtest/gtest.h>

#include "library/CaseHistory.h"
#include "support/StoreFixture.h"
#include "util/UndoManager.h"

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

TEST_F(CaseHistoryTest, DeletedCasesAreNotAnsweredAndGoWithTheNextPushOrPrune)
{
    CaseHistory history;
    Case *a = newCase(QStringLiteral("ABC1235"));
    Case *b = newCase(QStringLiteral("ABC1236"));
    Case *c = newCase(QStringLiteral("ABC1237"));
    for (Case *item : {a, b, c})
        history.push(item);
    context()->saveWithParent(true);
    m_stack->undoManager()->removeAllActions();

    // Deleted, then deleted and saved: still an entry, but not answered.
    context()->deleteObject(b);
    EXPECT_EQ(history.at(1), nullptr);
    EXPECT_EQ(history.count(), 3);
    context()->saveWithParent(true);
    EXPECT_EQ(history.at(1), nullptr);
    // Undoing the deletion brings the same record back.
    m_stack->undoManager()->closeAutomaticGroup();
    m_stack->undoManager()->undo();
    EXPECT_EQ(history.at(1), b);

    context()->deleteObject(a);
    history.removeDeletedCases();
    EXPECT_EQ(history.cases(), (QList<Case *>{b, c}));
    context()->deleteObject(c);
    Case *d = newCase(QStringLiteral("ABC1238"));
    history.push(d);
    EXPECT_EQ(history.cases(), (QList<Case *>{b, d}));

    // The library closed: its cases are never read again.
    context()->saveWithParent(true);
    reopen();
    EXPECT_EQ(history.cases(), (QList<Case *>{nullptr, nullptr}));
    EXPECT_EQ(history.at(0), nullptr);
    history.removeDeletedCases();
    EXPECT_EQ(history.count(), 0);
}

} // namespace
