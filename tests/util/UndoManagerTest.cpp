#include "util/UndoManager.h"

#include "util/Log.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace ovalis;

namespace {

class UndoManagerTest : public ::testing::Test
{
protected:
    // Changes the value the way the store does: every change registers the
    // change back, so undoing registers a redo and redoing an undo.
    void set(int newValue)
    {
        const int oldValue = value;
        value = newValue;
        manager.registerUndo([this, oldValue] { set(oldValue); });
    }

    bool finishTurn()
    {
        return QTest::qWaitFor([this] { return manager.groupingLevel() == 0; });
    }

    UndoManager manager;
    int value = 0;
};

TEST_F(UndoManagerTest, OneEventLoopTurnIsOneUndoStep)
{
    QSignalSpy closed(&manager, &UndoManager::didCloseUndoGroup);

    set(1);
    set(2);
    EXPECT_EQ(manager.groupingLevel(), 1);
    EXPECT_TRUE(manager.canUndo());
    ASSERT_TRUE(closed.wait());
    EXPECT_EQ(manager.groupingLevel(), 0);

    set(3);
    ASSERT_TRUE(closed.wait());
    EXPECT_EQ(closed.count(), 2);

    manager.undo();
    EXPECT_EQ(value, 2);
    manager.undo();
    EXPECT_EQ(value, 0);
    EXPECT_FALSE(manager.canUndo());

    manager.redo();
    EXPECT_EQ(value, 2);
    manager.redo();
    EXPECT_EQ(value, 3);
    EXPECT_FALSE(manager.canRedo());

    // Undo closes a group still open in this turn and undoes it whole.
    set(4);
    set(5);
    manager.undo();
    EXPECT_EQ(value, 3);
    EXPECT_EQ(manager.groupingLevel(), 0);
}

TEST_F(UndoManagerTest, UndoBuildsRedoAndRedoBuildsUndo)
{
    QSignalSpy willUndo(&manager, &UndoManager::willUndo);
    QSignalSpy didUndo(&manager, &UndoManager::didUndo);
    QSignalSpy willRedo(&manager, &UndoManager::willRedo);
    QSignalSpy didRedo(&manager, &UndoManager::didRedo);

    for (int step = 1; step <= 3; ++step) {
        set(step * 10);
        manager.closeAutomaticGroup();
    }

    manager.undo();
    EXPECT_EQ(value, 20);
    EXPECT_TRUE(manager.canRedo());
    manager.undo();
    manager.undo();
    EXPECT_EQ(value, 0);
    EXPECT_FALSE(manager.canUndo());

    manager.redo();
    EXPECT_EQ(value, 10);
    // Redoing registers into the undo stack without clearing what is left to redo.
    EXPECT_TRUE(manager.canRedo());
    manager.redo();
    manager.redo();
    EXPECT_EQ(value, 30);
    EXPECT_FALSE(manager.canRedo());

    for (int cycle = 0; cycle < 3; ++cycle) {
        manager.undo();
        EXPECT_EQ(value, 20);
        manager.redo();
        EXPECT_EQ(value, 30);
    }
    EXPECT_EQ(willUndo.count(), 6);
    EXPECT_EQ(didUndo.count(), 6);
    EXPECT_EQ(willRedo.count(), 6);
    EXPECT_EQ(didRedo.count(), 6);

    // Nothing left to redo: a no-op that announces nothing.
    manager.redo();
    EXPECT_EQ(value, 30);
    EXPECT_EQ(willRedo.count(), 6);
}

TEST_F(UndoManagerTest, NewChangeClearsRedo)
{
    set(1);
    manager.closeAutomaticGroup();
    set(2);
    manager.closeAutomaticGroup();
    manager.undo();
    ASSERT_TRUE(manager.canRedo());

    set(7);
    EXPECT_FALSE(manager.canRedo());
    manager.redo();
    EXPECT_EQ(value, 7);

    manager.undo();
    EXPECT_EQ(value, 1);
    manager.undo();
    EXPECT_EQ(value, 0);
    manager.redo();
    manager.redo();
    EXPECT_EQ(value, 7);
}

TEST_F(UndoManagerTest, NestedGroupsFoldIntoTheOutermost)
{
    LogCapture log;
    QSignalSpy closed(&manager, &UndoManager::didCloseUndoGroup);

    manager.beginUndoGrouping();
    set(1);
    manager.beginUndoGrouping();
    set(2);
    EXPECT_EQ(manager.groupingLevel(), 2);
    manager.endUndoGrouping();
    EXPECT_EQ(manager.groupingLevel(), 1);
    EXPECT_FALSE(manager.canUndo());

    manager.undo();
    EXPECT_TRUE(log.containsPrefix(QStringLiteral("Undo requested while an undo group is open")));
    EXPECT_EQ(value, 2);

    set(3);
    manager.endUndoGrouping();
    EXPECT_EQ(manager.groupingLevel(), 0);
    EXPECT_EQ(closed.count(), 1);
    manager.undo();
    EXPECT_EQ(value, 0);
    EXPECT_FALSE(manager.canUndo());

    manager.endUndoGrouping();
    EXPECT_TRUE(log.containsPrefix(QStringLiteral("endUndoGrouping without a matching")));

    // Empty groups are dropped.
    manager.beginUndoGrouping();
    manager.endUndoGrouping();
    EXPECT_EQ(closed.count(), 1);
    EXPECT_FALSE(manager.canUndo());
    EXPECT_TRUE(manager.canRedo());
}

TEST_F(UndoManagerTest, ExplicitGroupInsideATurnStaysPartOfTheTurn)
{
    set(1);
    manager.beginUndoGrouping();
    set(2);
    manager.endUndoGrouping();
    EXPECT_EQ(manager.groupingLevel(), 1);
    set(3);
    ASSERT_TRUE(finishTurn());

    // A group begun in one turn and ended in a later one keeps the turn's step open.
    set(4);
    manager.beginUndoGrouping();
    bool turnEnded = false;
    QTimer::singleShot(0, &manager, [&turnEnded] { turnEnded = true; });
    ASSERT_TRUE(QTest::qWaitFor([&turnEnded] { return turnEnded; }));
    EXPECT_EQ(manager.groupingLevel(), 2);
    set(5);
    manager.endUndoGrouping();
    EXPECT_EQ(manager.groupingLevel(), 0);

    manager.undo();
    EXPECT_EQ(value, 3);
    manager.undo();
    EXPECT_EQ(value, 0);
}

TEST_F(UndoManagerTest, DisabledRegistrationNests)
{
    manager.disableUndoRegistration();
    manager.disableUndoRegistration();
    set(1);
    manager.enableUndoRegistration();
    EXPECT_FALSE(manager.isUndoRegistrationEnabled());
    set(2);
    manager.enableUndoRegistration();
    EXPECT_TRUE(manager.isUndoRegistrationEnabled());
    EXPECT_FALSE(manager.canUndo());

    set(3);
    manager.undo();
    EXPECT_EQ(value, 2);
    EXPECT_FALSE(manager.canUndo());

    // Disabled while undoing, the undo leaves nothing to redo.
    set(4);
    manager.closeAutomaticGroup();
    manager.disableUndoRegistration();
    manager.undo();
    manager.enableUndoRegistration();
    EXPECT_EQ(value, 2);
    EXPECT_FALSE(manager.canRedo());
}

TEST_F(UndoManagerTest, ActionNamesFollowTheirStepsAcrossUndoAndRedo)
{
    QSignalSpy changed(&manager, &UndoManager::changed);
    EXPECT_EQ(manager.undoMenuItemTitle(), QStringLiteral("Undo"));
    EXPECT_EQ(manager.redoMenuItemTitle(), QStringLiteral("Redo"));

    set(1);
    manager.setActionName(QStringLiteral("Rename Tag"));
    EXPECT_EQ(manager.undoMenuItemTitle(), QStringLiteral("Undo Rename Tag"));
    manager.closeAutomaticGroup();

    set(2);
    manager.closeAutomaticGroup();
    EXPECT_EQ(manager.undoMenuItemTitle(), QStringLiteral("Undo"));
    const int changesBefore = changed.count();
    manager.setActionName(QStringLiteral("Delete Case"));
    EXPECT_EQ(changed.count(), changesBefore + 1);
    EXPECT_EQ(manager.undoActionName(), QStringLiteral("Delete Case"));

    manager.undo();
    EXPECT_EQ(manager.undoMenuItemTitle(), QStringLiteral("Undo Rename Tag"));
    EXPECT_EQ(manager.redoMenuItemTitle(), QStringLiteral("Redo Delete Case"));
    manager.undo();
    EXPECT_EQ(manager.undoMenuItemTitle(), QStringLiteral("Undo"));
    EXPECT_EQ(manager.redoActionName(), QStringLiteral("Rename Tag"));

    manager.redo();
    EXPECT_EQ(manager.undoMenuItemTitle(), QStringLiteral("Undo Rename Tag"));
    EXPECT_EQ(manager.redoMenuItemTitle(), QStringLiteral("Redo Delete Case"));
    manager.redo();
    EXPECT_EQ(manager.undoMenuItemTitle(), QStringLiteral("Undo Delete Case"));
    EXPECT_EQ(manager.redoMenuItemTitle(), QStringLiteral("Redo"));
    EXPECT_EQ(value, 2);
}

TEST_F(UndoManagerTest, LevelsOfUndoAndRemoveAllActions)
{
    QSignalSpy changed(&manager, &UndoManager::changed);
    manager.setLevelsOfUndo(2);
    for (int step = 1; step <= 3; ++step) {
        set(step);
        manager.closeAutomaticGroup();
    }
    manager.undo();
    manager.undo();
    EXPECT_EQ(value, 1);
    EXPECT_FALSE(manager.canUndo());

    manager.redo();
    EXPECT_TRUE(manager.canUndo());
    EXPECT_TRUE(manager.canRedo());
    const int changesBefore = changed.count();
    manager.removeAllActions();
    EXPECT_FALSE(manager.canUndo());
    EXPECT_FALSE(manager.canRedo());
    EXPECT_EQ(changed.count(), changesBefore + 1);

    // Lowering the limit drops the oldest steps at once.
    manager.setLevelsOfUndo(0);
    for (int step = 4; step <= 6; ++step) {
        set(step);
        manager.closeAutomaticGroup();
    }
    manager.setLevelsOfUndo(1);
    manager.undo();
    EXPECT_EQ(value, 5);
    EXPECT_FALSE(manager.canUndo());
}

TEST_F(UndoManagerTest, WithoutEventGroupingEachRegistrationIsAStep)
{
    manager.setGroupsByEvent(false);
    set(1);
    set(2);
    EXPECT_EQ(manager.groupingLevel(), 0);
    manager.undo();
    EXPECT_EQ(value, 1);
    manager.undo();
    EXPECT_EQ(value, 0);
}

} // namespace
