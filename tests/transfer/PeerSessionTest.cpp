#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include "transfer/BusyMainThread.h"
#include "transfer/MultiPeerManager.h"
#include "transfer/IgnoringPeerDelegate.h"
#include "transfer/PeerCertificate.h"
#include "transfer/PeerConnection.h"
#include "transfer/RawPeer.h"
#include "util/Log.h"

using namespace ovalis;
using namespace ovalis::test;

namespace {

// Keeps the resources that reach it, read while their file still exists.
class ResourceRecorder : public IgnoringPeerDelegate
{
public:
    void peerConnected(const PeerID &peer) override { connected.append(peer.displayName); }
    void didReceiveData(MultiPeerManager *, const QByteArray &data) override { messages.append(data); }
    void didFinishReceivingResource(MultiPeerManager *, const QString &name, const QUrl &location) override
    {
        QFile file(location.toLocalFile());
        resources.append({name, file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>")});
        folders.append(QFileInfo(location.toLocalFile()).path());
    }

    QStringList connected;
    QList<QByteArray> messages;
    QList<QPair<QString, QByteArray>> resources;
    QStringList folders;
};

const QString uuid = QStringLiteral("E621E1F8-C36C-495A-93FC-0C247A3E6E5F");

// Bytes whose pattern does not repeat at the sizes of chunks and buffers.
QByteArray patterned(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char(i * 7 + (i >> 12));
    return bytes;
}

} // namespace

TEST(PeerSessionTest, ResourcesAreTakenOnlyFromJoinedPeersUnderUuidNamesAndAsAnnounced)
{
    ASSERT_TRUE(QSslSocket::supportsSsl());
    MultiPeerManager manager(QStringLiteral("Library with 2 cases"), QStringLiteral("ovalis-peer"));
    manager.setDiscovery(nullptr);
    ResourceRecorder recorder;
    manager.setDelegate(&recorder);
    QString shownCode;
    manager.setInvitationHandler([&shownCode](const PeerID &, const QString &code, std::function<void(bool)> reply) {
        shownCode = code;
        reply(true);
    });
    QTemporaryDir resourceDirectory;
    ASSERT_TRUE(resourceDirectory.isValid());
    manager.setResourceDirectory(resourceDirectory.path());
    manager.startAdvertising();
    ASSERT_NE(manager.listeningPort(), 0);

    LogCapture log;
    RawPeer peer;
    peer.connectTo(manager.listeningPort());
    ASSERT_TRUE(QTest::qWaitFor([&peer] { return peer.greeted; }, 10000));
    EXPECT_TRUE(peer.connection().isEncrypted());

    // Before joining the session nothing is taken.
    peer.sendResource(uuid, 3, "abc");
    peer.connection().send(PeerFrame::Type::Data, "early");
    ASSERT_TRUE(QTest::qWaitFor([&log] { return log.contains(QStringLiteral("Unable to receive resource: refused a resource from a peer outside the session")); }, 10000));

    peer.connection().send(PeerFrame::Type::Invite);
    ASSERT_TRUE(QTest::qWaitFor([&peer] { return peer.received.contains(PeerFrame::Type::Accept); }, 10000));
    EXPECT_EQ(shownCode, peer.connection().verificationCode());
    ASSERT_TRUE(QTest::qWaitFor([&recorder] { return !recorder.connected.isEmpty(); }, 10000));
    EXPECT_EQ(recorder.connected, QStringList{QStringLiteral("Raw")});

    peer.sendResource(QStringLiteral("../../.ssh/authorized_keys"), 3, "abc");
    peer.sendResource(uuid, qint64(1) << 60, "abc");
    peer.sendResource(uuid, 2, "abc");
    peer.sendResource(uuid, 4, "abc");
    peer.connection().send(PeerFrame::Type::Data, "late");
    peer.sendResource(uuid, 3, "xyz");
    ASSERT_TRUE(QTest::qWaitFor([&recorder] { return !recorder.resources.isEmpty(); }, 10000));
    EXPECT_EQ(recorder.resources, (QList<QPair<QString, QByteArray>>{{uuid, "xyz"}}));
    EXPECT_EQ(recorder.messages, QList<QByteArray>{"late"});
    EXPECT_EQ(log.countPrefix(QStringLiteral("Unable to receive resource: ")), 5);
    EXPECT_TRUE(log.containsPrefix(QStringLiteral("Unable to receive resource: refused a resource whose name is not a UUID")));
    EXPECT_TRUE(log.containsPrefix(QStringLiteral("Unable to receive resource: resource E621E1F8-C36C-495A-93FC-0C247A3E6E5F of 1152921504606846976 bytes does not fit")));

    // Chunks far larger than the socket reads ahead, as older peers send them.
    const QByteArray large = patterned(3 * 1024 * 1024 + 5);
    peer.sendResource(uuid, large.size(), large);
    ASSERT_TRUE(QTest::qWaitFor([&recorder] { return recorder.resources.size() == 2; }, 10000));
    EXPECT_EQ(recorder.resources.last().second, large);
    // Written where they will be moved to, and gone once reported.
    EXPECT_EQ(recorder.folders, QStringList(2, resourceDirectory.path()));
    EXPECT_TRUE(QDir(resourceDirectory.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
}

TEST(PeerSessionTest, CertificatesAreFreshAndTheCodeIsTheSameFromBothSides)
{
    const PeerCertificate a = PeerCertificate::generate(QStringLiteral("A"));
    const PeerCertificate b = PeerCertificate::generate(QStringLiteral("B"));
    ASSERT_FALSE(a.isNull());
    ASSERT_FALSE(b.isNull());
    EXPECT_NE(a.certificate().digest(), b.certificate().digest());
    const QByteArray nonceA = PeerCertificate::makeNonce();
    const QByteArray nonceB = PeerCertificate::makeNonce();
    EXPECT_NE(nonceA, nonceB);
    const QString code = PeerCertificate::verificationCode(a.certificate(), nonceA, b.certificate(), nonceB);
    EXPECT_EQ(code, PeerCertificate::verificationCode(b.certificate(), nonceB, a.certificate(), nonceA));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{3} \\d{3}$")).match(code).hasMatch()) << code.toStdString();
    // Each nonce counts with its own certificate.
    EXPECT_NE(PeerCertificate::verificationCode(a.certificate(), nonceB, b.certificate(), nonceA), code);
    const PeerCertificate c = PeerCertificate::generate(QStringLiteral("C"));
    EXPECT_NE(PeerCertificate::verificationCode(a.certificate(), nonceA, c.certificate(), nonceB), code);
}

namespace {

// A file of that many bytes at path; its content.
QByteArray writePatternedFile(const QString &path, qsizetype size)
{
    const QByteArray content = patterned(size);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != size)
        return {};
    return content;
}

// The size of the one file in the folder (received resources are hidden
// files); -1 while there is none, or more than one.
qint64 onlyFileSize(const QString &folder)
{
    const QFileInfoList files = QDir(folder).entryInfoList(QDir::Files | QDir::Hidden);
    return files.size() == 1 ? files.first().size() : -1;
}

bool isEmptyFolder(const QString &folder)
{
    return QDir(folder).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

const QByteArray connectionThread = "Peer connection";

} // namespace

TEST(PeerSessionTest, AFileTravelsWhileTheMainThreadIsBusy)
{
    ASSERT_TRUE(QSslSocket::supportsSsl());
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    const QString outgoing = directory.filePath(QStringLiteral("outgoing"));
    const QByteArray content = writePatternedFile(outgoing, 8 * 1024 * 1024 + 3);
    ASSERT_FALSE(content.isEmpty());
    const QString incoming = directory.filePath(QStringLiteral("incoming"));
    ASSERT_TRUE(QDir().mkpath(incoming));

    TlsListener listener;
    std::unique_ptr<RawPeer> receiver;
    listener.onConnection = [&receiver, &incoming](QSslSocket *socket) {
        receiver = std::make_unique<RawPeer>(QStringLiteral("Receiver"), QStringLiteral("receiver"), socket);
        receiver->connection().setResourceDirectory(incoming);
        receiver->connection().setJoined(true);
        receiver->connection().startServer();
    };
    ASSERT_TRUE(listener.listen(QHostAddress::LocalHost));
    RawPeer sender(QStringLiteral("Sender"), QStringLiteral("sender"));
    sender.connectTo(listener.serverPort());
    ASSERT_TRUE(QTest::qWaitFor([&] { return sender.greeted && receiver && receiver->greeted; }, 10000));
    QList<QPair<QString, QByteArray>> received;
    QObject::connect(&receiver->connection(), &PeerConnection::resourceFinished, [&received](const QString &name, const QString &path) {
        QFile file(path);
        received.append({name, file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>")});
    });

    sender.connection().sendFile(outgoing, uuid);
    // The main thread stays away from its event loop: the file is read,
    // encrypted, decrypted and written on the connections' own threads.
    EXPECT_TRUE(becomesTrueWithoutEventLoop([&incoming, &content] { return onlyFileSize(incoming) == content.size(); }))
        << "received " << onlyFileSize(incoming) << " bytes";
    EXPECT_TRUE(received.isEmpty());
    // The main thread is told once it turns again; then the file goes.
    ASSERT_TRUE(QTest::qWaitFor([&received] { return !received.isEmpty(); }, 10000));
    EXPECT_EQ(received, (QList<QPair<QString, QByteArray>>{{uuid, content}}));
    EXPECT_TRUE(QTest::qWaitFor([&incoming] { return isEmptyFolder(incoming); }, 5000));
}

TEST(PeerSessionTest, AManagerGoingMidTransferEndsItsConnectionsAndLeavesNoFileBehind)
{
    ASSERT_TRUE(QSslSocket::supportsSsl());
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    const QString outgoing = directory.filePath(QStringLiteral("outgoing"));
    ASSERT_FALSE(writePatternedFile(outgoing, 32 * 1024 * 1024).isEmpty());
    const QString incoming = directory.filePath(QStringLiteral("incoming"));
    ASSERT_TRUE(QDir().mkpath(incoming));
    const int before = threadsNamed(connectionThread);

    ResourceRecorder recorder;
    auto manager = std::make_unique<MultiPeerManager>(QStringLiteral("Library"), QStringLiteral("ovalis-peer"));
    manager->setDiscovery(nullptr);
    manager->setDelegate(&recorder);
    manager->setInvitationHandler([](const PeerID &, const QString &, std::function<void(bool)> reply) { reply(true); });
    manager->setResourceDirectory(incoming);
    manager->startAdvertising();
    ASSERT_NE(manager->listeningPort(), 0);
    RawPeer sender;
    sender.connectTo(manager->listeningPort());
    ASSERT_TRUE(QTest::qWaitFor([&sender] { return sender.greeted; }, 10000));
    sender.connection().send(PeerFrame::Type::Invite);
    ASSERT_TRUE(QTest::qWaitFor([&recorder] { return !recorder.connected.isEmpty(); }, 10000));
    EXPECT_EQ(threadsNamed(connectionThread), before + 2);

    sender.connection().sendFile(outgoing, uuid);
    // Part of the file is in (the main thread busy meanwhile) when the manager goes.
    ASSERT_TRUE(becomesTrueWithoutEventLoop([&incoming] { return onlyFileSize(incoming) > 0; }));
    manager.reset();
    // Its connection's thread has ended, the half-received file gone with it;
    // the sender's connection sees the end.
    EXPECT_TRUE(threadsNamedSettleAt(connectionThread, before + 1)) << threadsNamed(connectionThread) - before << " threads";
    EXPECT_TRUE(isEmptyFolder(incoming));
    EXPECT_TRUE(QTest::qWaitFor([&sender] { return sender.closed; }, 10000));
    EXPECT_TRUE(recorder.resources.isEmpty());
}
