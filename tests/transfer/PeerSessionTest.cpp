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
    QByteArray large(3 * 1024 * 1024 + 5, Qt::Uninitialized);
    for (int i = 0; i < large.size(); ++i)
        large[i] = char(i * 7 + (i >> 12));
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
