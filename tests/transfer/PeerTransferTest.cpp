#include <QSslSocket>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "store/Case.h"
#include "support/StoreFixture.h"
#include "transfer/MissingMediaLibrary.h"
#include "transfer/MultiPeerManager.h"
#include "transfer/PeerDiscovery.h"
#include "transfer/OvalisMediaTransferViewModel.h"
#include "transfer/OvalisMissingMediaManager.h"
#include "util/Log.h"

using namespace ovalis;
using namespace ovalis::test;

namespace {

// Two libraries in one process: this one (the fixture's) lacks the files
// that the other one holds, and fetches them over TLS on the loopback.
class PeerTransferTest : public StoreFixture
{
protected:
    void SetUp() override
    {
        StoreFixture::SetUp();
        ASSERT_TRUE(QSslSocket::supportsSsl());
        ASSERT_TRUE(m_otherDirectory.isValid());
        m_other = std::make_unique<CoreDataStack>(m_otherDirectory.filePath(QStringLiteral("Ovalis")));
        QString error;
        ASSERT_TRUE(m_other->loadPersistentStores(&error)) << error.toStdString();
    }

    void TearDown() override
    {
        m_requester.reset();
        m_responder.reset();
        m_other.reset();
        StoreFixture::TearDown();
    }

    static std::unique_ptr<MultiPeerManager> managerWithoutDiscovery(const QString &name)
    {
        auto manager = std::make_unique<MultiPeerManager>(name, QStringLiteral("ovalis-peer"));
        manager->setDiscovery(nullptr);
        return manager;
    }

    // The other library holds these files; this one has the records only,
    // and before the file at lackingAt one that neither library has a file for.
    void makeLibraries(const QList<QPair<QString, QByteArray>> &files, int lackingAt = -1)
    {
        Case *otherCase = m_other->mainContext()->insertNew<Case>();
        otherCase->setPatientID(QStringLiteral("ZZZ0001"));
        Case *item = newCase(QStringLiteral("ZZZ0001"));
        for (const auto &[name, bytes] : files) {
            if (m_uuids.size() == lackingAt)
                m_lacking = MissingMediaLibrary::addMedia(context(), item, QStringLiteral("lost.tif"));
            Media *media = otherCase->addMedia(bytes, name);
            ASSERT_NE(media, nullptr);
            m_uuids.append(media->uuid());
            MissingMediaLibrary::addMedia(context(), item, name, media->uuid());
        }
        m_other->mainContext()->saveWithParent(true);
    }

    void startBoth(bool accept)
    {
        m_responder = OvalisMediaTransferViewModel::forLibrary(*m_other, managerWithoutDiscovery(QStringLiteral("Other")));
        m_responder->multiPeerManager()->setInvitationHandler(
            [this, accept](const PeerID &peer, const QString &code, std::function<void(bool)> reply) {
                m_invitedBy = peer.displayName;
                m_responderCode = code;
                reply(accept);
            });
        m_requester = OvalisMediaTransferViewModel::forLibrary(*m_stack, managerWithoutDiscovery(QStringLiteral("This")));
        m_responder->start();
        m_requester->start();
        ASSERT_TRUE(QTest::qWaitFor([this] { return m_responder->multiPeerManager()->listeningPort() != 0; }, 10000));
        ASSERT_TRUE(QTest::qWaitFor([this] { return m_requester->multiPeerManager()->listeningPort() != 0; }, 10000));
    }

    void connect()
    {
        m_requester->connectToAddress(QStringLiteral("127.0.0.1"), m_responder->multiPeerManager()->listeningPort());
        EXPECT_EQ(m_requester->connectionStatus(), ConnectionStatus::connecting);
    }

    QTemporaryDir m_otherDirectory;
    std::unique_ptr<CoreDataStack> m_other;
    std::unique_ptr<OvalisMediaTransferViewModel> m_responder;
    std::unique_ptr<OvalisMediaTransferViewModel> m_requester;
    QStringList m_uuids;
    Media *m_lacking = nullptr;
    QString m_invitedBy;
    QString m_responderCode;
};

QByteArray patterned(int size, char seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char(seed + i * 31 + (i >> 9));
    return bytes;
}

} // namespace

TEST_F(PeerTransferTest, MissingFilesArriveByteIdenticalUnderTheirPaths)
{
    const QList<QPair<QString, QByteArray>> files{{QStringLiteral("large.jpg"), patterned(1536 * 1024 + 17, 'a')},
                                                  {QStringLiteral("movie.mov"), patterned(300000, 'b')},
                                                  {QStringLiteral("empty.png"), QByteArray()},
                                                  {QStringLiteral("bare"), patterned(1000, 'c')}};
    ASSERT_NO_FATAL_FAILURE(makeLibraries(files));
    // One record whose file the other library lacks as well.
    Media *nowhere = MissingMediaLibrary::addMedia(context(), newCase(QStringLiteral("NOW0001")), QStringLiteral("lost.tif"));
    ASSERT_NO_FATAL_FAILURE(startBoth(true));
    ASSERT_TRUE(QTest::qWaitFor([this] { return m_requester->statusString() == QStringLiteral("Missing 5 media items"); }, 10000));
    EXPECT_EQ(m_responder->statusString(), QStringLiteral("Missing 0 media items"));

    LogCapture log;
    connect();
    ASSERT_TRUE(QTest::qWaitFor([this] { return m_requester->connectionStatus() == ConnectionStatus::connected; }, 20000));
    ASSERT_TRUE(QTest::qWaitFor([this] { return m_responder->connectionStatus() == ConnectionStatus::connected; }, 20000));
    EXPECT_EQ(m_invitedBy, QStringLiteral("This"));
    ASSERT_TRUE(m_requester->connectedRemote().has_value());
    EXPECT_EQ(m_requester->connectedRemote()->label, QStringLiteral("Other"));
    EXPECT_EQ(m_requester->connectedRemote()->device, DeviceType::mac);
    EXPECT_EQ(m_requester->multiPeerManager()->verificationCode(m_requester->connectedRemote()->id), m_responderCode);
    EXPECT_EQ(m_responderCode.size(), 7);

    bool sawShareSymbol = false;
    QObject::connect(m_responder.get(), &MediaTransferViewModel::changed, [&] { sawShareSymbol |= m_responder->sentMedia(); });
    m_requester->transfer();
    ASSERT_TRUE(QTest::qWaitFor([this] { return m_requester->statusString() == QStringLiteral("Finished transferring"); }, 60000));
    EXPECT_EQ(m_requester->connectionStatus(), ConnectionStatus::connected);
    EXPECT_FLOAT_EQ(m_requester->fractionTransferred(), 1.0f); // every file asked for
    EXPECT_TRUE(sawShareSymbol);
    EXPECT_EQ(log.count(QStringLiteral("Empty file UUID - file does not exist on peer")), 1);
    for (int i = 0; i < files.size(); ++i) {
        const QString extension = files[i].first.contains(QLatin1Char('.')) ? files[i].first.section(QLatin1Char('.'), -1) : QString();
        EXPECT_EQ(MissingMediaLibrary::readFile(*m_stack, m_uuids[i], extension), files[i].second) << files[i].first.toStdString();
    }
    EXPECT_FALSE(nowhere->fileExists());
    EXPECT_EQ(m_requester->multiPeerManager()->resourceDirectory(), MediaFileStore::mediaDirectoryURL(*m_stack).toLocalFile());
    ASSERT_TRUE(QTest::qWaitFor([this] { return m_requester->statusString() == QStringLiteral("Missing 1 media item"); }, 10000));

    m_requester->disconnectRemote();
    ASSERT_TRUE(QTest::qWaitFor([this] { return m_responder->connectionStatus() == ConnectionStatus::standby; }, 10000));
    EXPECT_EQ(m_requester->connectionStatus(), ConnectionStatus::standby);
}

TEST_F(PeerTransferTest, PipelinedRequestsArriveByteIdenticalAroundAFileThePeerLacks)
{
    QList<QPair<QString, QByteArray>> files;
    for (int i = 0; i < 7; ++i)
        files.append({QStringLiteral("scan%1.jpg").arg(i), patterned(i % 2 ? 700000 + i : 3000 + i, char('a' + i))});
    ASSERT_NO_FATAL_FAILURE(makeLibraries(files, 3));
    ASSERT_NO_FATAL_FAILURE(startBoth(true));
    ASSERT_TRUE(QTest::qWaitFor([this] { return m_requester->statusString() == QStringLiteral("Missing 8 media items"); }, 10000));
    connect();
    ASSERT_TRUE(QTest::qWaitFor([this] { return m_requester->connectionStatus() == ConnectionStatus::connected; }, 20000));

    LogCapture log;
    QStringList statuses;
    QObject receiver; // disconnects the recording when the test ends
    QObject::connect(m_requester.get(), &MediaTransferViewModel::changed, &receiver, [&] {
        if (statuses.isEmpty() || statuses.last() != m_requester->statusString())
            statuses.append(m_requester->statusString());
    });
    m_requester->transfer();
    ASSERT_TRUE(QTest::qWaitFor([this] { return m_requester->statusString() == QStringLiteral("Finished transferring"); }, 60000));
    // One step down per answer, whether a file or the not-available reply.
    QStringList expected{QStringLiteral("Transferring files")};
    for (int left = 7; left >= 0; --left)
        expected.append(QStringLiteral("%1 of 8 remaining").arg(left));
    expected.append(QStringLiteral("Finished transferring"));
    EXPECT_EQ(statuses, expected);
    EXPECT_EQ(log.count(QStringLiteral("Empty file UUID - file does not exist on peer")), 1);
    EXPECT_FLOAT_EQ(m_requester->fractionTransferred(), 1.0f);
    for (int i = 0; i < files.size(); ++i)
        EXPECT_EQ(MissingMediaLibrary::readFile(*m_stack, m_uuids[i], QStringLiteral("jpg")), files[i].second) << i;
    ASSERT_NE(m_lacking, nullptr);
    EXPECT_FALSE(m_lacking->fileExists());
    // The scan that ends the run counts it again.
    ASSERT_TRUE(QTest::qWaitFor([this] { return m_requester->statusString() == QStringLiteral("Missing 1 media item"); }, 10000));
}

TEST_F(PeerTransferTest, ADeclinedInvitationLeavesBothSidesInStandby)
{
    ASSERT_NO_FATAL_FAILURE(makeLibraries({{QStringLiteral("a.jpg"), "a"}}));
    ASSERT_NO_FATAL_FAILURE(startBoth(false));
    connect();
    ASSERT_TRUE(QTest::qWaitFor([this] { return !m_invitedBy.isEmpty(); }, 20000));
    ASSERT_TRUE(QTest::qWaitFor([this] { return m_requester->connectionStatus() == ConnectionStatus::standby; }, 20000));
    EXPECT_EQ(m_responder->connectionStatus(), ConnectionStatus::standby);
    EXPECT_TRUE(m_requester->multiPeerManager()->connectedPeers().isEmpty());
    EXPECT_TRUE(m_responder->multiPeerManager()->connectedPeers().isEmpty());
    // The peer reached directly is no longer listed once its connection is gone.
    ASSERT_TRUE(QTest::qWaitFor([this] { return m_requester->remoteLibraries().isEmpty(); }, 10000));
    EXPECT_FALSE(MissingMediaLibrary::readFile(*m_stack, m_uuids[0], QStringLiteral("jpg")).size());
}
