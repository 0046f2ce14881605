#include <QMenu>
#include <QWidget>
#include <gtest/gtest.h>

#include "media/ui/CaseDragMenuController.h"
#include "support/MediaState.h"
#include "support/MenuTitles.h"
#include "support/StoreFixture.h"
#include "util/Log.h"
#include "util/UndoManager.h"

namespace ovalis::test {
namespace {

class CaseDragMenuControllerTest : public StoreFixture
{
protected:
    void SetUp() override
    {
        StoreFixture::SetUp();
        m_source = newCase(QStringLiteral("SRC0001"), QStringLiteral("Source summary"));
        m_source->setDetail(QStringLiteral("Source detail"));
        m_source->addToTags(newTag(QStringLiteral("chest")));
        m_source->addMedia("first", QStringLiteral("x.jpg"));
        m_source->addMedia("second", QStringLiteral("y.png"));
        m_destination = newCase(QStringLiteral("DST0001"), QStringLiteral("Own summary"));
        m_destination->addToTags(newTag(QStringLiteral("spine")));
        m_destination->addMedia("own", QStringLiteral("a.jpg"));
        context()->saveWithParent(true);
        undo()->closeAutomaticGroup();
        undo()->removeAllActions();
    }

    UndoManager *undo() const { return m_stack->undoManager(); }

    // Each case's texts, tags and media, and the files of the media directory.
    QStringList libraryState()
    {
        QStringList lines;
        for (const Case *item : fetchCases(QString()))
            lines << QStringList{item->patientID(), item->summary(), item->detail(), item->tagList(), mediaState(item).join(u',')}.join(u'|');
        lines.sort();
        return lines + mediaDirectoryEntries(libraryPath());
    }

    CaseDragMenuController m_controller;
    Case *m_source = nullptr;
    Case *m_destination = nullptr;
};

TEST_F(CaseDragMenuControllerTest, TheMenuOffersLinkingAndThreeMergesForTheLastDrop)
{
    m_controller.showMenu(m_source, m_destination, nullptr, QPoint(10, 10));
    EXPECT_EQ(m_controller.menu(), nullptr);
    EXPECT_EQ(m_controller.sourceCase(), nullptr);

    QWidget view;
    view.show();
    m_controller.showMenu(m_source, m_destination, &view, QPoint(10, 10));
    QMenu *menu = m_controller.menu();
    ASSERT_NE(menu, nullptr);
    EXPECT_TRUE(menu->isVisible());
    EXPECT_EQ(menuTitles(menu), (QStringList{"Link Cases", "---", "Merge Tags", "Merge Images", "Merge All"}));
    for (const QAction *action : menu->actions())
        EXPECT_TRUE(action->shortcut().isEmpty());
    EXPECT_EQ(m_controller.sourceCase(), m_source);
    EXPECT_EQ(m_controller.destinationCase(), m_destination);

    menu->actions().at(2)->trigger();
    EXPECT_EQ(m_destination->tagList(), QStringLiteral("chest | spine"));
    EXPECT_EQ(m_source->tagList(), QStringLiteral("chest"));
}

TEST_F(CaseDragMenuControllerTest, EachCommandIsOneUndoStepThatRestoresTheStateBefore)
{
    struct Command {
        void (CaseDragMenuController::*slot)();
        QString logLine;
        QString actionName;
    };
    const QList<Command> commands = {
        {&CaseDragMenuController::linkCases, QStringLiteral("Link cases"), QStringLiteral("Link cases")},
        {&CaseDragMenuController::copyTags, QStringLiteral("Copy tags"), QStringLiteral("Copy tags")},
        {&CaseDragMenuController::copyImages, QStringLiteral("Copy images"), QStringLiteral("Merge Images")},
        {&CaseDragMenuController::copyAll, QStringLiteral("Copy tags, images, descriptions"), QStringLiteral("Merge All Data")},
    };
    QWidget view;
    m_controller.showMenu(m_source, m_destination, &view, QPoint(10, 10));
    const QStringList before = libraryState();
    for (const Command &command : commands) {
        SCOPED_TRACE(command.actionName.toStdString());
        LogCapture capture;
        (m_controller.*command.slot)();
        EXPECT_TRUE(capture.contains(command.logLine));
        EXPECT_EQ(undo()->undoActionName(), command.actionName);
        const QStringList after = libraryState();
        EXPECT_NE(after, before);
        for (int round = 0; round < 2; ++round) {
            undo()->undo();
            EXPECT_EQ(libraryState(), before);
            EXPECT_FALSE(undo()->canUndo());
            undo()->redo();
            EXPECT_EQ(libraryState(), after);
        }
        undo()->undo();
        EXPECT_EQ(libraryState(), before);
    }
    // Merge All took the tags, the media and the texts.
    m_controller.copyAll();
    EXPECT_EQ(m_destination->tagList(), QStringLiteral("chest | spine"));
    EXPECT_EQ(m_destination->media().size(), 3);
    EXPECT_EQ(m_destination->summary(), QStringLiteral("Own summary\n\nSource summary"));
}

} // namespace
} // namespace ovalis::test
