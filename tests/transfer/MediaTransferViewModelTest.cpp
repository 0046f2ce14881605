#include "transfer/MediaTransferViewModel.h"

#include <QCoreApplication>
#include <QTest>
#include <gtest/gtest.h>

#include "store/LibraryNotifications.h"
#include "transfer/KeepAwakeActivity.h"
#include "transfer/MediaRequestMessage.h"
#include "transfer/MissingMediaManager.h"
#include "transfer/OvalisMediaTransferViewModel.h"
#include "transfer/RecordingMultiPeerManager.h"
#include "transfer/ScriptedMissingMediaManager.h"
#include "util/KeyedArchive.h"
#include "util/Log.h"
#include "util/NotificationCenter.h"
#include "util/ObserverToken.h"

using namespace ovalis;
using namespace ovalis::test;

namespace {

QString uuidNumber(int i)
{
    return QStringLiteral("00000000-0000-4000-8000-%1").arg(i, 12, 10, QLatin1Char('0'));
}

class MediaTransferViewModelTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto missing = std::make_unique<ScriptedMissingMediaManager>();
        m_missing = missing.get();
        auto peer = std::make_unique<RecordingMultiPeerManager>();
        m_peer = peer.get();
        m_model = std::make_unique<OvalisMediaTransferViewModel>(QStringLiteral("Library with 2 cases"), QStringLiteral("ovalis-peer"),
                                                                 std::move(missing), std::move(peer));
        m_model->setDelays(50, 50);
    }

    void setMissing(int count, int unrequestable = 0)
    {
        m_missing->stillMissing.clear();
        for (int i = 0; i < count; ++i)
            m_missing->stillMissing.append({uuidNumber(i), QStringLiteral("jpg")});
        m_missing->unrequestable = unrequestable;
    }

    void start()
    {
        m_model->start();
        ASSERT_TRUE(QTest::qWaitFor([this] { return m_peer->browsing; }));
    }

    PeerID found(const QString &name, const QString &device = QStringLiteral("Mac"), const QString &id = {})
    {
        const PeerID peer{id.isEmpty() ? name : id, name};
        m_model->foundPeer(m_peer, peer, DiscoveryInfo{{QStringLiteral("deviceType"), device}});
        return peer;
    }

    void connectTo(const PeerID &peer)
    {
        m_model->connectRemote(m_model->remoteLibraries().value(0));
        m_model->peerConnecting(peer);
        m_model->peerConnected(peer);
    }

    QStringList requestedUuids() const
    {
        QStringList uuids;
        for (const QByteArray &data : std::as_const(m_peer->sentData)) {
            MediaRequestMessage message;
            MediaRequestMessage::decode(data, &message);
            uuids.append(message.uuid);
        }
        return uuids;
    }

    ScriptedMissingMediaManager *m_missing = nullptr;
    RecordingMultiPeerManager *m_peer = nullptr;
    std::unique_ptr<OvalisMediaTransferViewModel> m_model;
};

} // namespace

TEST_F(MediaTransferViewModelTest, StartCountsTheMissingMediaThenAdvertisesAndBrowses)
{
    EXPECT_EQ(m_model->statusString(), QStringLiteral("Checking for missing media…"));
    EXPECT_EQ(m_model->connectionStatus(), ConnectionStatus::standby);
    setMissing(1);
    LogCapture log;
    start();
    EXPECT_EQ(m_model->statusString(), QStringLiteral("Missing 1 media item"));
    EXPECT_EQ(m_peer->calls, (QStringList{QStringLiteral("startAdvertising"), QStringLiteral("startBrowsing")}));
    EXPECT_TRUE(log.contains(QStringLiteral("MediaTransferViewModel update display for 1 missing media")));
    EXPECT_EQ(m_model->discoveryInfo(), (DiscoveryInfo{{QStringLiteral("deviceType"), QStringLiteral("Mac")}}));

    m_model->stop();
    EXPECT_EQ(m_peer->calls.mid(2), (QStringList{QStringLiteral("disconnect"), QStringLiteral("stopBrowsing"), QStringLiteral("stopAdvertising")}));
}

TEST_F(MediaTransferViewModelTest, NearbyLibrariesAreListedOnceWithTheirLatestNameAndDevice)
{
    const PeerID a = found(QStringLiteral("Library with 1 case"), QStringLiteral("Mac"), QStringLiteral("a"));
    found(QStringLiteral("Library with 5 cases"), QStringLiteral("iPhone"), QStringLiteral("b"));
    const PeerID aAgain = found(QStringLiteral("Library with 2 cases"), QStringLiteral("iPad"), QStringLiteral("a"));
    m_model->foundPeer(m_peer, {QStringLiteral("c"), QStringLiteral("Silent")}, std::nullopt);
    ASSERT_EQ(m_model->remoteLibraries().size(), 3);
    EXPECT_EQ(m_model->remoteLibraries()[0].device, DeviceType::iPhone);
    EXPECT_EQ(m_model->remoteLibraries()[1].label, QStringLiteral("Library with 2 cases"));
    EXPECT_EQ(m_model->remoteLibraries()[1].device, DeviceType::unknown);
    EXPECT_EQ(m_model->remoteLibraries()[2].device, DeviceType::unknown);

    connectTo(aAgain);
    m_model->lostPeer(m_peer, a);
    EXPECT_EQ(m_model->remoteLibraries().size(), 2);
    EXPECT_FALSE(m_model->connectedRemote().has_value());
}

TEST_F(MediaTransferViewModelTest, TheConnectionFollowsItsStateTable)
{
    setMissing(2);
    start();
    const PeerID peer = found(QStringLiteral("Library with 9 cases"));
    const RemoteMediaLibrary remote = m_model->remoteLibraries().first();

    // Commands outside their state do nothing.
    m_model->transfer();
    m_model->stopTransfer();
    m_model->disconnectRemote();
    EXPECT_EQ(m_model->connectionStatus(), ConnectionStatus::standby);
    EXPECT_FALSE(m_peer->calls.contains(QStringLiteral("disconnect")));

    m_model->connectRemote(remote);
    EXPECT_EQ(m_model->connectionStatus(), ConnectionStatus::connecting);
    EXPECT_EQ(m_peer->calls.last(), QStringLiteral("invite Library with 9 cases 30"));
    m_model->connectRemote(remote);
    EXPECT_EQ(m_peer->calls.count(QStringLiteral("invite Library with 9 cases 30")), 1);

    m_model->peerDisconnected(peer); // declined or timed out
    EXPECT_EQ(m_model->connectionStatus(), ConnectionStatus::standby);
    EXPECT_EQ(m_model->statusString(), QStringLiteral("Missing 2 media items"));

    // A connection that arrives through an accepted invitation, from standby.
    m_model->peerConnected(peer);
    EXPECT_EQ(m_model->connectionStatus(), ConnectionStatus::connected);
    EXPECT_TRUE(m_model->isConnected(remote));
    // A connection alone keeps neither the screen awake nor the machine from idle sleep.
    EXPECT_EQ(m_model->energyActivityToken(), nullptr);

    m_model->transfer();
    EXPECT_EQ(m_model->connectionStatus(), ConnectionStatus::transferring);
    EXPECT_TRUE(m_model->isConnected(remote));
    m_model->stopTransfer();
    EXPECT_EQ(m_model->connectionStatus(), ConnectionStatus::connected);
    // Both files were asked for and neither has arrived; the scan that
    // follows counts them once.
    EXPECT_EQ(m_model->statusString(), QStringLiteral("Missing 2 media items"));
    int changes = 0;
    QObject receiver;
    QObject::connect(m_model.get(), &MediaTransferViewModel::changed, &receiver, [&changes] { ++changes; });
    ASSERT_TRUE(QTest::qWaitFor([&changes] { return changes > 0; }));
    EXPECT_EQ(m_missing->refreshes, 2);
    EXPECT_EQ(m_model->statusString(), QStringLiteral("Missing 2 media items"));

    m_model->disconnectRemote();
    EXPECT_EQ(m_peer->calls.last(), QStringLiteral("disconnect"));
    m_model->peerDisconnected(peer);
    EXPECT_EQ(m_model->connectionStatus(), ConnectionStatus::standby);
    EXPECT_FALSE(m_model->connectedRemote().has_value());
    EXPECT_EQ(m_model->energyActivityToken(), nullptr);
    EXPECT_FALSE(m_model->isConnected(remote));
}

TEST_F(MediaTransferViewModelTest, AConnectionWithoutExactlyOneListedPeerChangesNothing)
{
    m_model->peerConnected({QStringLiteral("unlisted"), QStringLiteral("Unlisted")});
    EXPECT_EQ(m_model->connectionStatus(), ConnectionStatus::standby);
    EXPECT_EQ(m_model->energyActivityToken(), nullptr);

    // The direct path: connecting before the peer is known, listed when it greets.
    m_model->connectToAddress(QStringLiteral("127.0.0.1"), 4242);
    EXPECT_EQ(m_peer->calls.last(), QStringLiteral("connectToAddress 127.0.0.1:4242 30"));
    EXPECT_EQ(m_model->connectionStatus(), ConnectionStatus::connecting);
    const PeerID peer = found(QStringLiteral("Library with 3 cases"));
    m_model->peerConnected(peer);
    EXPECT_EQ(m_model->connectionStatus(), ConnectionStatus::connected);
}

TEST_F(MediaTransferViewModelTest, OnlyTheConnectedPeerLeavingEndsATransfer)
{
    setMissing(2);
    start();
    const PeerID peer = found(QStringLiteral("Library with 9 cases"), QStringLiteral("Mac"), QStringLiteral("a"));
    const PeerID other = found(QStringLiteral("Library with 4 cases"), QStringLiteral("Mac"), QStringLiteral("b"));
    connectTo(peer);
    m_model->transfer();
    ASSERT_EQ(m_model->connectionStatus(), ConnectionStatus::transferring);

    // Another library joins (a second invitation accepted) and leaves.
    m_model->peerConnected(other);
    m_model->peerDisconnected(other);
    EXPECT_EQ(m_model->connectionStatus(), ConnectionStatus::transferring);
    ASSERT_TRUE(m_model->connectedRemote().has_value());
    EXPECT_EQ(m_model->connectedRemote()->id, peer);

    // The connected peer stops advertising, then leaves.
    m_model->lostPeer(m_peer, peer);
    EXPECT_EQ(m_model->connectionStatus(), ConnectionStatus::transferring);
    m_model->peerDisconnected(peer);
    EXPECT_EQ(m_model->connectionStatus(), ConnectionStatus::standby);
    EXPECT_EQ(m_model->energyActivityToken(), nullptr);
}

TEST_F(MediaTransferViewModelTest, ATransferKeepsThreeRequestsOutstandingAndFinishesWithTheMissingCount)
{
    setMissing(12);
    start();
    connectTo(found(QStringLiteral("Library with 9 cases")));
    int updatedMedia = 0;
    ObserverToken token = NotificationCenter::defaultCenter().addObserver(LibraryNotifications::updatedMedia, nullptr,
                                                                          [&updatedMedia](const Notification &) { ++updatedMedia; });
    QStringList statuses;
    QObject receiver; // disconnects the recording when the test ends
    QObject::connect(m_model.get(), &MediaTransferViewModel::changed, &receiver, [&] {
        if (statuses.isEmpty() || statuses.last() != m_model->statusString())
            statuses.append(m_model->statusString());
    });

    // Requests go out from the end of the worklist, three at once; the file
    // streaming first is not counted as remaining.
    m_model->transfer();
    EXPECT_EQ(requestedUuids(), (QStringList{uuidNumber(11), uuidNumber(10), uuidNumber(9)}));
    EXPECT_EQ(m_model->statusString(), QStringLiteral("11 of 12 remaining"));
    EXPECT_EQ(m_model->fractionTransferred(), 0.0f);

    // A stored file moves the bar on by one file, not by the requests
    // outstanding, and asks for the next; a not-available reply asks for the
    // next without moving it.
    m_model->didFinishReceivingResource(m_peer, uuidNumber(11), QUrl::fromLocalFile(QStringLiteral("/tmp/x")));
    ASSERT_TRUE(QTest::qWaitFor([this] { return m_peer->sentData.size() == 4; }));
    EXPECT_EQ(m_missing->stored, QStringList{uuidNumber(11)});
    EXPECT_FLOAT_EQ(m_model->fractionTransferred(), 1.0f / 12.0f);
    EXPECT_EQ(requestedUuids().last(), uuidNumber(8));
    EXPECT_EQ(m_model->statusString(), QStringLiteral("10 of 12 remaining"));
    m_model->didReceiveData(m_peer, *MediaRequestMessage{QString(), QStringLiteral("jpg")}.encode());
    ASSERT_TRUE(QTest::qWaitFor([this] { return m_peer->sentData.size() == 5; }));
    EXPECT_EQ(m_model->statusString(), QStringLiteral("9 of 12 remaining"));
    EXPECT_FLOAT_EQ(m_model->fractionTransferred(), 1.0f / 12.0f);

    // A file that cannot be stored asks for nothing more.
    m_missing->storeSucceeds = false;
    m_model->didFinishReceivingResource(m_peer, uuidNumber(9), QUrl::fromLocalFile(QStringLiteral("/tmp/x")));
    QCoreApplication::processEvents();
    EXPECT_EQ(m_peer->sentData.size(), 5);
    EXPECT_EQ(m_model->connectionStatus(), ConnectionStatus::transferring);
    m_missing->storeSucceeds = true;

    // Answer the rest in the order asked (the failed file comes again and is
    // stored): the count goes down by one per answer, the requests still
    // outstanding are answered once the worklist is empty, and the run ends
    // with the finished line, the announcement, and the missing count two
    // seconds (here 50 ms) later.
    m_missing->stillMissing.clear();
    QStringList unanswered = requestedUuids().mid(2);
    while (!unanswered.isEmpty()) {
        const int sent = int(m_peer->sentData.size());
        const QString before = m_model->statusString();
        m_model->didFinishReceivingResource(m_peer, unanswered.takeFirst(), QUrl());
        ASSERT_TRUE(QTest::qWaitFor([&] { return m_model->statusString() != before; }));
        unanswered += requestedUuids().mid(sent);
        if (!unanswered.isEmpty()) {
            EXPECT_LT(m_model->fractionTransferred(), 1.0f);
        }
    }
    QStringList expectedUuids;
    for (int i = 11; i >= 0; --i)
        expectedUuids.append(uuidNumber(i));
    EXPECT_EQ(requestedUuids(), expectedUuids);
    QStringList expectedStatuses;
    for (int left = 11; left >= 0; --left)
        expectedStatuses.append(QStringLiteral("%1 of 12 remaining").arg(left));
    expectedStatuses.append(QStringLiteral("Finished transferring"));
    EXPECT_EQ(statuses.mid(statuses.indexOf(QStringLiteral("11 of 12 remaining"))), expectedStatuses);
    EXPECT_FLOAT_EQ(m_model->fractionTransferred(), 1.0f);
    EXPECT_EQ(m_model->connectionStatus(), ConnectionStatus::connected);
    EXPECT_EQ(updatedMedia, 1);
    ASSERT_TRUE(QTest::qWaitFor([this] { return m_model->statusString() == QStringLiteral("Missing 0 media items"); }));
}

TEST_F(MediaTransferViewModelTest, OnlyFilesBeingReceivedDelaySleepAndNothingInhibitsIdle)
{
    const auto expectDelayedSleep = [this] {
        ASSERT_NE(m_model->energyActivityToken(), nullptr);
        EXPECT_EQ(m_model->energyActivityToken()->what(), QStringLiteral("sleep"));
        EXPECT_EQ(m_model->energyActivityToken()->mode(), QStringLiteral("delay"));
        EXPECT_EQ(m_model->energyActivityToken()->reason(), QStringLiteral("Receiving media files"));
    };
    const auto transferAgain = [this] {
        ASSERT_TRUE(QTest::qWaitFor([this] { return m_missing->missingCount() == 2; }));
        m_model->transfer();
        EXPECT_EQ(m_model->energyActivityToken(), nullptr);
        m_model->didStartReceivingResource(m_peer, uuidNumber(1), 100);
    };
    setMissing(2);
    start();
    const PeerID peer = found(QStringLiteral("Library with 9 cases"));
    connectTo(peer);
    EXPECT_EQ(m_model->energyActivityToken(), nullptr);
    // A file the peer sends unasked takes nothing.
    m_model->didStartReceivingResource(m_peer, uuidNumber(1), 100);
    EXPECT_EQ(m_model->energyActivityToken(), nullptr);

    // One lock from the first file of a run to its end.
    transferAgain();
    expectDelayedSleep();
    const KeepAwakeActivity *held = m_model->energyActivityToken();
    m_model->didFinishReceivingResource(m_peer, uuidNumber(1), QUrl());
    ASSERT_TRUE(QTest::qWaitFor([this] { return m_missing->stored.size() == 1; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(m_model->energyActivityToken(), held);
    m_model->didStartReceivingResource(m_peer, uuidNumber(0), 100);
    EXPECT_EQ(m_model->energyActivityToken(), held);
    m_model->didFinishReceivingResource(m_peer, uuidNumber(0), QUrl());
    ASSERT_TRUE(QTest::qWaitFor([this] { return m_model->statusString() == QStringLiteral("Finished transferring"); }));
    EXPECT_EQ(m_model->energyActivityToken(), nullptr);

    // Stopping a run, or the peer leaving while a file arrives, lets go too.
    transferAgain();
    expectDelayedSleep();
    m_model->stopTransfer();
    EXPECT_EQ(m_model->energyActivityToken(), nullptr);
    transferAgain();
    expectDelayedSleep();
    m_model->peerDisconnected(peer);
    EXPECT_EQ(m_model->energyActivityToken(), nullptr);
}

TEST_F(MediaTransferViewModelTest, TheShareSymbolStaysUntilTheResetAfterTheLastFileSent)
{
    m_model->setDelays(1500, 50);
    LogCapture log;
    m_model->didFinishSendingFile(m_peer);
    EXPECT_TRUE(m_model->sentMedia());
    QTest::qWait(1000);
    m_model->didFinishSendingFile(m_peer);
    QTest::qWait(1000);
    // 2 s after the first file, 1 s after the second: still shown.
    EXPECT_TRUE(m_model->sentMedia());
    EXPECT_FALSE(log.contains(QStringLiteral("Set sentMedia to false")));
    ASSERT_TRUE(QTest::qWaitFor([this] { return !m_model->sentMedia(); }));
    EXPECT_EQ(log.count(QStringLiteral("Set sentMedia to true")), 2);
    EXPECT_EQ(log.count(QStringLiteral("Set sentMedia to false")), 1);
}

TEST_F(MediaTransferViewModelTest, ARunWhoseLastAnswerIsANotAvailableReplyEndsWithTheBarFull)
{
    setMissing(2);
    start();
    connectTo(found(QStringLiteral("Library with 9 cases")));
    m_model->transfer();
    ASSERT_EQ(requestedUuids(), (QStringList{uuidNumber(1), uuidNumber(0)}));
    m_model->didFinishReceivingResource(m_peer, uuidNumber(1), QUrl());
    ASSERT_TRUE(QTest::qWaitFor([this] { return m_model->fractionTransferred() > 0.0f; }));
    EXPECT_FLOAT_EQ(m_model->fractionTransferred(), 0.5f);
    m_model->didReceiveData(m_peer, *MediaRequestMessage{QString(), QStringLiteral("jpg")}.encode());
    ASSERT_TRUE(QTest::qWaitFor([this] { return m_model->statusString() == QStringLiteral("Finished transferring"); }));
    EXPECT_FLOAT_EQ(m_model->fractionTransferred(), 1.0f);
}

TEST_F(MediaTransferViewModelTest, FilesThatCameAnotherWayAreCountedAgainButNotDuringATransfer)
{
    setMissing(3);
    start();
    EXPECT_EQ(m_model->statusString(), QStringLiteral("Missing 3 media items"));
    setMissing(1);
    m_model->recountMissingMedia();
    ASSERT_TRUE(QTest::qWaitFor([this] { return m_model->statusString() == QStringLiteral("Missing 1 media item"); }));

    connectTo(found(QStringLiteral("Library with 9 cases")));
    m_model->transfer();
    const int refreshes = m_missing->refreshes;
    m_model->recountMissingMedia();
    EXPECT_EQ(m_missing->refreshes, refreshes);
    EXPECT_EQ(m_model->connectionStatus(), ConnectionStatus::transferring);
}
