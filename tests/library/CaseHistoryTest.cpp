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

TEST_F(CaseHistoryTest, DeletedCasesAreNotAnsweredAndGoWithTheNextPruneOrClosedLibrary)
{
    CaseHistory history;
    Case *a = newCase(QStringLiteral("ABC1235"));
    Case *b = newCase(QStringLiteral("ABC1236"));
    history.push(a);
    history.push(b);
    context()->saveWithParent(true);
    UndoManager *undo = m_stack->undoManager();
    undo->removeAllActions();

    // Deleted and saved: still an entry, not answered; undone: the same record again.
    context()->deleteObject(a);
    context()->saveWithParent(true);
    EXPECT_EQ(history.at(0), nullptr);
    undo->closeAutomaticGroup();
    undo->undo();
    EXPECT_EQ(history.at(0), a);
    context()->deleteObject(b);
    history.removeDeletedCases();
    EXPECT_EQ(history.cases(), QList<Case *>{a});

    reopen();
    EXPECT_EQ(history.cases(), QList<Case *>{nullptr});
    history.removeDeletedCases();
    EXPECT_EQ(history.count(), 0);
}

} // namespace
