#include "transfer/ui/MediaTransferView.h"

#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include "transfer/RecordingMultiPeerManager.h"
#include "transfer/ScriptedMissingMediaManager.h"
#include "transfer/ui/ConnectedImageView.h"
#include "transfer/ui/RemoteLibraryView.h"

using namespace ovalis;
using namespace ovalis::test;

namespace {

class MediaTransferViewTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto missing = std::make_unique<ScriptedMissingMediaManager>();
        missing->stillMissing = {{QStringLiteral("00000000-0000-4000-8000-000000000001"), QStringLiteral("jpg")},
                                 {QStringLiteral("00000000-0000-4000-8000-000000000002"), QStringLiteral("jpg")}};
        auto peer = std::make_unique<RecordingMultiPeerManager>();
        m_peer = peer.get();
        auto model = std::make_unique<MediaTransferViewModel>(QStringLiteral("Library with 1 case"), QStringLiteral("ovalis-peer"),
                                                              std::move(missing), std::move(peer));
        m_model = model.get();
        m_view = std::make_unique<MediaTransferView>(std::move(model));
        m_view->show();
        ASSERT_TRUE(QTest::qWaitFor([this] { return m_peer->browsing; }));
    }

    PeerID found(const QString &id, const QString &name, const QString &device)
    {
        const PeerID peer{id, name};
        m_model->foundPeer(m_peer, peer, DiscoveryInfo{{QStringLiteral("deviceType"), device}});
        return peer;
    }

    RemoteLibraryView *row(int i) const
    {
        return qobject_cast<RemoteLibraryView *>(m_view->libraryList()->itemWidget(m_view->libraryList()->item(i)));
    }

    // Connect, Disconnect, Stop, Fetch.
    QList<bool> enabled() const
    {
        return {m_view->connectButton()->isEnabled(), m_view->disconnectButton()->isEnabled(), m_view->stopButton()->isEnabled(),
                m_view->fetchButton()->isEnabled()};
    }

    RecordingMultiPeerManager *m_peer = nullptr;
    MediaTransferViewModel *m_model = nullptr;
    std::unique_ptr<MediaTransferView> m_view;
};

} // namespace

TEST_F(MediaTransferViewTest, ButtonsAndProgressFollowTheConnection)
{
    EXPECT_EQ(m_view->size(), QSize(500, 500));
    EXPECT_EQ(m_view->windowTitle(), QStringLiteral("Sync Media"));
    EXPECT_EQ(m_view->statusLabel()->text(), QStringLiteral("Missing 2 media items"));
    const PeerID peer = found(QStringLiteral("a"), QStringLiteral("Library with 4 cases"), QStringLiteral("Mac"));
    ASSERT_EQ(m_view->libraryList()->count(), 1);
    EXPECT_EQ(enabled(), (QList<bool>{false, false, false, false})); // nothing selected
    EXPECT_TRUE(m_view->progressBar()->isHidden());

    m_view->libraryList()->item(0)->setSelected(true);
    EXPECT_EQ(enabled(), (QList<bool>{true, false, false, false}));
    QTest::mouseClick(m_view->connectButton(), Qt::LeftButton);
    EXPECT_EQ(m_peer->calls.last(), QStringLiteral("invite Library with 4 cases 30"));
    EXPECT_EQ(enabled(), (QList<bool>{false, false, false, false}));
    EXPECT_FALSE(m_view->progressBar()->isHidden());
    EXPECT_EQ(m_view->progressBar()->maximum(), 0); // indeterminate

    m_model->peerConnected(peer);
    EXPECT_EQ(enabled(), (QList<bool>{false, true, false, true}));
    EXPECT_TRUE(row(0)->connectedImageView()->isConnected());
    EXPECT_TRUE(m_view->progressBar()->isHidden());

    QTest::mouseClick(m_view->fetchButton(), Qt::LeftButton);
    EXPECT_EQ(enabled(), (QList<bool>{false, false, true, false}));
    EXPECT_EQ(m_view->statusLabel()->text(), QStringLiteral("1 of 2 remaining"));
    EXPECT_FALSE(m_view->progressBar()->isHidden());
    EXPECT_EQ(m_view->progressBar()->maximum(), 1000);
    EXPECT_EQ(m_view->progressBar()->value(), 0);

    QTest::mouseClick(m_view->stopButton(), Qt::LeftButton);
    EXPECT_EQ(enabled(), (QList<bool>{false, true, false, true}));
    m_model->peerDisconnected(peer);
    EXPECT_EQ(enabled(), (QList<bool>{true, false, false, false}));
    EXPECT_FALSE(row(0)->connectedImageView()->isConnected());
}

TEST_F(MediaTransferViewTest, AReappearingLibraryIsListedOnceAndKeepsItsSelection)
{
    found(QStringLiteral("a"), QStringLiteral("Library with 4 cases"), QStringLiteral("Mac"));
    found(QStringLiteral("b"), QStringLiteral("Library with 9 cases"), QStringLiteral("iPhone"));
    m_view->libraryList()->item(1)->setSelected(true);
    found(QStringLiteral("b"), QStringLiteral("Library with 10 cases"), QStringLiteral("iPhone"));
    ASSERT_EQ(m_view->libraryList()->count(), 2);
    EXPECT_EQ(row(1)->remote().label, QStringLiteral("Library with 10 cases"));
    EXPECT_EQ(row(1)->remote().device, DeviceType::iPhone);
    EXPECT_TRUE(m_view->libraryList()->item(1)->isSelected());
    EXPECT_TRUE(m_view->connectButton()->isEnabled());

    EXPECT_TRUE(m_view->shareSymbol()->isHidden());
    m_model->didFinishSendingFile(m_peer);
    EXPECT_FALSE(m_view->shareSymbol()->isHidden());
}

TEST_F(MediaTransferViewTest, ClosingTheWindowStopsThePeerService)
{
    m_view->close();
    EXPECT_EQ(m_peer->calls.mid(m_peer->calls.size() - 3),
              (QStringList{QStringLiteral("disconnect"), QStringLiteral("stopBrowsing"), QStringLiteral("stopAdvertising")}));
}
