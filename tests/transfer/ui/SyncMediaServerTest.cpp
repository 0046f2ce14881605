#include <QAction>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include "library/ui/LibraryWindowController.h"
#include "support/StoreFixture.h"
#include "transfer/MirrorService.h"
#include "transfer/RecordingMultiPeerManager.h"
#include "transfer/ScriptedMissingMediaManager.h"
#include "transfer/ui/MediaTransferView.h"

using namespace ovalis;
using namespace ovalis::test;

namespace {

// No server listens on a socket there: the mirror goes offline at once.
const QString unreachable = QStringLiteral("host=/nonexistent dbname=teaching");

class SyncMediaServerTest : public StoreFixture
{
protected:
    std::unique_ptr<MediaTransferView> openWindow(MirrorService *mirror)
    {
        auto model = std::make_unique<MediaTransferViewModel>(QStringLiteral("Library"), QStringLiteral("ovalis-peer"),
                                                              std::make_unique<ScriptedMissingMediaManager>(),
                                                              std::make_unique<RecordingMultiPeerManager>());
        auto view = std::make_unique<MediaTransferView>(std::move(model));
        view->setMirrorService(mirror);
        view->show();
        return view;
    }

    // Restarts the mirror on another server and waits for its first sync to fail.
    void restart(MirrorService &mirror, const QString &conninfo)
    {
        mirror.stop();
        mirror.setServer(conninfo);
        mirror.start();
        ASSERT_TRUE(QTest::qWaitFor([&] { return mirror.state() != MirrorService::State::Syncing; }));
    }

    // The count runs on a thread that reads the library: it ends before the test.
    static void waitForCount(MediaTransferView &view)
    {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !view.serverCountLabel()->text().startsWith(QStringLiteral("Counting")); }));
    }

    // Everything the window says, tool tips included.
    static QStringList shownText(const MediaTransferView &view)
    {
        QStringList texts{view.windowTitle()};
        for (const QLabel *label : view.findChildren<QLabel *>())
            texts << label->text() << label->toolTip();
        return texts;
    }
};

} // namespace

TEST_F(SyncMediaServerTest, TheServerIsOfferedOnlyByARunningMirrorThatKeepsMediaOnIt)
{
    MirrorService mirror(m_stack.get());
    const auto without = openWindow(nullptr);
    EXPECT_TRUE(without->serverSection()->isHidden());

    const auto view = openWindow(&mirror);
    EXPECT_TRUE(view->serverSection()->isHidden()); // no server, not running

    restart(mirror, unreachable);
    EXPECT_FALSE(view->serverSection()->isHidden());
    EXPECT_EQ(view->size(), QSize(500, 500));
    waitForCount(*view);
    EXPECT_EQ(view->serverCountLabel()->text(), QStringLiteral("The server cannot say which files it has."));
    EXPECT_TRUE(view->serverCountLabel()->toolTip().contains(QStringLiteral("/nonexistent"))); // the connection's error

    mirror.stop();
    EXPECT_TRUE(view->serverSection()->isHidden());

    mirror.setKeepsMediaOnServer(false);
    restart(mirror, unreachable);
    EXPECT_TRUE(view->serverSection()->isHidden());
    EXPECT_TRUE(openWindow(&mirror)->serverSection()->isHidden());
}

TEST_F(SyncMediaServerTest, FetchFromServerAsksTheMirrorAndShowsItsAnswer)
{
    MirrorService mirror(m_stack.get());
    restart(mirror, unreachable);
    const auto view = openWindow(&mirror);
    waitForCount(*view);
    QPushButton *fetch = view->fetchFromServerButton();
    ASSERT_TRUE(fetch->isEnabled());
    EXPECT_TRUE(view->serverStatusLabel()->text().isEmpty());
    EXPECT_EQ(view->serverStatusLabel()->textFormat(), Qt::PlainText);

    int requested = 0;
    QObject::connect(&mirror, &MirrorService::syncFinished, [&](const LibraryMirror::Report &, bool byUser) { requested += byUser; });
    QTest::mouseClick(fetch, Qt::LeftButton);
    EXPECT_FALSE(fetch->isEnabled());
    ASSERT_EQ(mirror.state(), MirrorService::State::Syncing);
    EXPECT_EQ(view->serverStatusLabel()->text(), mirror.stateText());
    ASSERT_TRUE(QTest::qWaitFor([&] { return fetch->isEnabled(); }));
    EXPECT_EQ(requested, 1);
    // The server could not be reached: its error, as the mirror has it.
    EXPECT_FALSE(mirror.lastResult().isEmpty());
    EXPECT_EQ(view->serverStatusLabel()->text(), mirror.lastResult().simplified());
}

TEST_F(SyncMediaServerTest, TheServerIsNamedWithoutItsPassword)
{
    MirrorService mirror(m_stack.get());
    const auto view = openWindow(&mirror);
    for (const QString &conninfo : {QStringLiteral("host=/nonexistent dbname=teaching password=s3cret"),
                                    QStringLiteral("postgresql://ann:s3cret@/teaching?host=/nonexistent"),
                                    QStringLiteral("password = 's3cret word' host=/nonexistent dbname='teaching' sslpassword=s3cret")}) {
        SCOPED_TRACE(conninfo.toStdString());
        restart(mirror, conninfo);
        waitForCount(*view);
        EXPECT_EQ(view->serverNameLabel()->text(), QStringLiteral("teaching on /nonexistent"));
        EXPECT_TRUE(view->serverNameLabel()->toolTip().contains(QStringLiteral("dbname=teaching")));
        for (const QString &text : shownText(*view))
            EXPECT_FALSE(text.contains(QStringLiteral("s3cret"))) << text.toStdString();
    }

    // A string libpq cannot read is not shown at all.
    restart(mirror, QStringLiteral("password=s3cret host='/nonexistent"));
    EXPECT_EQ(view->serverNameLabel()->text(), QStringLiteral("A server whose connection string cannot be read"));
    EXPECT_TRUE(view->serverNameLabel()->toolTip().isEmpty());
    waitForCount(*view);
    for (const QString &text : shownText(*view))
        EXPECT_FALSE(text.contains(QStringLiteral("s3cret"))) << text.toStdString();
}

TEST_F(SyncMediaServerTest, TheLibraryWindowHandsItsMirrorToTheSyncMediaWindow)
{
    newCase(QStringLiteral("ABC1234"));
    context()->saveWithParent(true);
    MirrorService mirror(m_stack.get());
    restart(mirror, unreachable);
    LibraryWindowController library(*m_stack);
    library.setMirrorService(&mirror);
    library.show();
    library.syncMediaToolbarItem()->trigger();
    QPointer<MediaTransferView> window = library.syncMediaWindowController();
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(window->serverSection()->isHidden());
    waitForCount(*window);
    window->close();
    ASSERT_TRUE(QTest::qWaitFor([&window] { return window.isNull(); }));
}
