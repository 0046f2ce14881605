#include <QCryptographicHash>
#include <QCoreApplication>
#include <QHash>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpServer>
#include <QTest>
#include <QtEndian>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include "store/Case.h"
#include "support/StoreFixture.h"
#include "transfer/IgnoringPeerDelegate.h"
#include "transfer/MissingMediaLibrary.h"
#include "transfer/MultiPeerManager.h"
#include "transfer/OvalisMediaTransferViewModel.h"
#include "transfer/RawPeer.h"
#include "util/Log.h"

using namespace ovalis;
using namespace ovalis::test;

// Strangers on the loopback that connect to a library without being asked:
// they must not end another peer's transfer, hold this side's memory, or
// sit between two libraries unnoticed.

namespace {

std::unique_ptr<MultiPeerManager> listeningManager(const QString &name)
{
    auto manager = std::make_unique<MultiPeerManager>(name, QStringLiteral("ovalis-peer"));
    manager->setDiscovery(nullptr);
    manager->startAdvertising();
    return manager;
}

void useIdentity(QSslSocket *socket, const QSslCertificate &certificate, const QSslKey &key)
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(certificate);
    configuration.setPrivateKey(key);
    configuration.setPeerVerifyMode(QSslSocket::QueryPeer);
    socket->setSslConfiguration(configuration);
    QObject::connect(socket, &QSslSocket::sslErrors, socket, [socket] { socket->ignoreSslErrors(); });
}

// The TLS certificate a listening library presents, as anyone connecting learns it.
QSslCertificate probeCertificate(quint16 port, const PeerCertificate &identity)
{
    QSslSocket socket;
    useIdentity(&socket, identity.certificate(), identity.key());
    socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
    if (!QTest::qWaitFor([&socket] { return socket.isEncrypted(); }, 10000))
        return QSslCertificate();
    const QSslCertificate certificate = socket.peerCertificate();
    socket.abort();
    return certificate;
}

// What a machine in the middle does against a code drawn from the two
// certificates alone: it learns both libraries' certificates, then makes
// certificates of its own until one it shows the first library and one it
// shows the second give the same code. A birthday search over one key takes
// a few thousand signatures.
class CertificateMatcher
{
public:
    struct Pair {
        QSslCertificate towardsFirst;
        QSslCertificate towardsSecond;
        QSslKey key;
    };

    static std::optional<Pair> find(const QSslCertificate &first, const QSslCertificate &second)
    {
        std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY *)> key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"), EVP_PKEY_free);
        QHash<quint32, QByteArray> towardsFirst; // code with the first library -> certificate (DER)
        for (int serial = 1; serial < 40000; ++serial) {
            const QByteArray mine = mint(key.get(), serial);
            const bool forFirst = serial % 2;
            const quint32 code = certificateOnlyCode(mine, forFirst ? first : second);
            if (forFirst) {
                towardsFirst.insert(code, mine);
            } else if (towardsFirst.contains(code)) {
                std::unique_ptr<BIO, void (*)(BIO *)> pem(BIO_new(BIO_s_mem()), BIO_free_all);
                PEM_write_bio_PrivateKey(pem.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr);
                char *data = nullptr;
                const long size = BIO_get_mem_data(pem.get(), &data);
                return Pair{QSslCertificate(towardsFirst.value(code), QSsl::Der), QSslCertificate(mine, QSsl::Der),
                            QSslKey(QByteArray(data, int(size)), QSsl::Ec, QSsl::Pem, QSsl::PrivateKey)};
            }
        }
        return std::nullopt;
    }

private:
    static QByteArray mint(EVP_PKEY *key, long serial)
    {
        std::unique_ptr<X509, void (*)(X509 *)> certificate(X509_new(), X509_free);
        X509_set_version(certificate.get(), 2);
        ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), serial);
        X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -3600);
        X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 3600);
        X509_set_pubkey(certificate.get(), key);
        X509_NAME *name = X509_get_subject_name(certificate.get());
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char *>("Library with 2 cases"), -1, -1, 0);
        X509_set_issuer_name(certificate.get(), name);
        X509_sign(certificate.get(), key, EVP_sha256());
        unsigned char *der = nullptr;
        const int length = i2d_X509(certificate.get(), &der);
        QByteArray bytes(reinterpret_cast<const char *>(der), length);
        OPENSSL_free(der);
        return bytes;
    }

    // Six digits from the two certificates' digests in sorted order.
    static quint32 certificateOnlyCode(const QByteArray &mineDer, const QSslCertificate &theirs)
    {
        QByteArray a = QCryptographicHash::hash(mineDer, QCryptographicHash::Sha256);
        QByteArray b = theirs.digest(QCryptographicHash::Sha256);
        if (b < a)
            std::swap(a, b);
        const QByteArray digest = QCryptographicHash::hash(a + b, QCryptographicHash::Sha256);
        return qFromBigEndian<quint32>(digest.constData()) % 1000000;
    }
};

// Sits between a library and the one it means to reach: terminates TLS on
// both sides with its own certificates and passes every byte on.
class Relay
{
public:
    Relay(quint16 targetPort, const CertificateMatcher::Pair &identity)
    {
        m_listener.onConnection = [this, targetPort, identity](QSslSocket *inbound) {
            auto *outbound = new QSslSocket(&m_listener);
            useIdentity(inbound, identity.towardsFirst, identity.key);
            useIdentity(outbound, identity.towardsSecond, identity.key);
            pipe(inbound, outbound);
            pipe(outbound, inbound);
            inbound->startServerEncryption();
            outbound->connectToHostEncrypted(QStringLiteral("127.0.0.1"), targetPort);
        };
        m_listener.listen(QHostAddress::LocalHost);
    }

    quint16 port() const { return m_listener.serverPort(); }

private:
    // Bytes wait until the other side's handshake is done.
    static void pipe(QSslSocket *from, QSslSocket *to)
    {
        const auto pass = [from, to] {
            if (to->isEncrypted() && from->bytesAvailable())
                to->write(from->readAll());
        };
        QObject::connect(from, &QSslSocket::readyRead, to, pass);
        QObject::connect(to, &QSslSocket::encrypted, from, pass);
        QObject::connect(from, &QSslSocket::disconnected, to, &QSslSocket::disconnectFromHost);
    }

    TlsListener m_listener;
};

// The codes a connection shows: the inviting side's and the invited side's.
struct Codes {
    QString inviter;
    QString invited;
};

Codes connectAndCompare(MultiPeerManager &inviter, MultiPeerManager &invited, quint16 port)
{
    QString invitedCode;
    invited.setInvitationHandler([&invitedCode](const PeerID &, const QString &code, std::function<void(bool)> reply) {
        invitedCode = code;
        reply(true);
    });
    inviter.connectToAddress(QStringLiteral("127.0.0.1"), port, 30);
    if (!QTest::qWaitFor([&] { return !invitedCode.isEmpty() && !inviter.connectedPeers().isEmpty(); }, 20000))
        return {};
    const Codes codes{inviter.verificationCode(inviter.connectedPeers().first()), invitedCode};
    inviter.disconnect();
    QTest::qWaitFor([&] { return invited.connectedPeers().isEmpty(); }, 10000);
    invited.setInvitationHandler({});
    return codes;
}

} // namespace

TEST(HostilePeerTest, StrangersThatHaveNotJoinedAreBoundedInFrameSizeNumberAndTime)
{
    ASSERT_TRUE(QSslSocket::supportsSsl());
    std::unique_ptr<MultiPeerManager> library = listeningManager(QStringLiteral("Library with 2 cases"));
    library->setGreetingTimeout(60 * 1000); // no connection here is dropped for its time
    ASSERT_NE(library->listeningPort(), 0);
    const quint16 port = library->listeningPort();

    // A greeting that announces more than a few kilobytes ends the connection
    // at once, before the bytes would be awaited; so does a data message of a
    // peer that greeted but has not joined.
    RawPeer announcing;
    announcing.connectTo(port);
    ASSERT_TRUE(QTest::qWaitFor([&] { return announcing.connection().isEncrypted(); }, 10000));
    RawPeer greeted(QStringLiteral("Greeted"), QStringLiteral("greeted"));
    greeted.connectTo(port);
    ASSERT_TRUE(QTest::qWaitFor([&] { return greeted.greeted; }, 10000));
    announcing.connection().send(PeerFrame::Type::Hello, QByteArray(64 * 1024, '{'));
    greeted.connection().send(PeerFrame::Type::Data, QByteArray(64 * 1024, 'x'));
    EXPECT_TRUE(QTest::qWaitFor([&] { return announcing.closed && greeted.closed; }, 10000));

    // Ten connections that never start TLS: the two oldest make room.
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (int i = 0; i < 10; ++i) {
        idle.push_back(std::make_unique<QTcpSocket>());
        idle.back()->connectToHost(QStringLiteral("127.0.0.1"), port);
    }
    const auto isClosed = [](const std::unique_ptr<QTcpSocket> &socket) { return socket->state() == QAbstractSocket::UnconnectedState; };
    ASSERT_TRUE(QTest::qWaitFor([&] { return isClosed(idle[0]) && isClosed(idle[1]); }, 10000));
    // Whoever joins after the crowd still gets in.
    bool asked = false;
    library->setInvitationHandler([&asked](const PeerID &, const QString &, std::function<void(bool)> reply) {
        asked = true;
        reply(true);
    });
    RawPeer joining(QStringLiteral("Joining"), QStringLiteral("joining"));
    joining.connectTo(port);
    ASSERT_TRUE(QTest::qWaitFor([&] { return joining.greeted; }, 10000));
    joining.connection().send(PeerFrame::Type::Invite);
    ASSERT_TRUE(QTest::qWaitFor([&] { return joining.received.contains(PeerFrame::Type::Accept); }, 10000));
    EXPECT_TRUE(asked);
    // The newest of the crowd are still waiting (one gave way to the peer that joined).
    EXPECT_EQ(std::count_if(idle.begin(), idle.end(), isClosed), 3);
    for (int i = 3; i < 10; ++i)
        EXPECT_FALSE(isClosed(idle[i])) << i;
    // A joined peer may send frames up to the full size.
    class Receiver : public IgnoringPeerDelegate
    {
    public:
        void didReceiveData(MultiPeerManager *, const QByteArray &data) override { size = data.size(); }
        qsizetype size = 0;
    } receiver;
    library->setDelegate(&receiver);
    joining.connection().send(PeerFrame::Type::Data, QByteArray(1024 * 1024, 'y'));
    EXPECT_TRUE(QTest::qWaitFor([&] { return receiver.size == 1024 * 1024; }, 10000));
    EXPECT_FALSE(joining.closed);
    library->setDelegate(nullptr);

    // Connections that do not greet and invite in time are dropped: one that
    // never starts TLS, and one that greets and then waits.
    std::unique_ptr<MultiPeerManager> quick = listeningManager(QStringLiteral("Library with 3 cases"));
    quick->setGreetingTimeout(1000);
    QTcpSocket silent;
    silent.connectToHost(QStringLiteral("127.0.0.1"), quick->listeningPort());
    RawPeer lingering(QStringLiteral("Lingering"), QStringLiteral("lingering"));
    lingering.connectTo(quick->listeningPort());
    EXPECT_TRUE(QTest::qWaitFor([&] { return lingering.closed && silent.state() == QAbstractSocket::UnconnectedState; }, 10000));
    EXPECT_TRUE(lingering.greeted);
}

// This library lacks one file and fetches it from a peer that holds its
// answer back until the strangers are done.
class HostilePeerTransferTest : public StoreFixture
{
protected:
    const QString uuid = QStringLiteral("6F9619FF-8B86-4011-B42D-00C04FC964FF");
};

TEST_F(HostilePeerTransferTest, StrangersConnectingAndLeavingMidTransferDoNotEndIt)
{
    ASSERT_TRUE(QSslSocket::supportsSsl());
    MissingMediaLibrary::addMedia(context(), newCase(QStringLiteral("ZZZ0001")), QStringLiteral("scan.jpg"), uuid);
    auto manager = std::make_unique<MultiPeerManager>(QStringLiteral("This"), QStringLiteral("ovalis-peer"));
    manager->setDiscovery(nullptr);
    manager->setGreetingTimeout(1500);
    // The user here accepts only the library called "Joiner".
    QStringList asked;
    manager->setInvitationHandler([&asked](const PeerID &peer, const QString &, std::function<void(bool)> reply) {
        asked.append(peer.displayName);
        reply(peer.displayName == QStringLiteral("Joiner"));
    });
    std::unique_ptr<OvalisMediaTransferViewModel> model = OvalisMediaTransferViewModel::forLibrary(*m_stack, std::move(manager));
    model->start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->statusString() == QStringLiteral("Missing 1 media item"); }, 10000));
    const quint16 port = model->multiPeerManager()->listeningPort();
    ASSERT_NE(port, 0);

    RawListener holder(QStringLiteral("Holder"), QStringLiteral("holder"));
    model->connectToAddress(QStringLiteral("127.0.0.1"), holder.serverPort());
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->connectionStatus() == ConnectionStatus::connected; }, 20000));
    model->transfer();
    ASSERT_EQ(holder.peers.size(), 1u);
    RawPeer &responder = *holder.peers.front();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !responder.messages.isEmpty(); }, 10000));
    ASSERT_EQ(model->connectionStatus(), ConnectionStatus::transferring);

    LogCapture log;
    // Declined; declined while claiming the connected peer's identity;
    // accepted, then gone; silent until dropped.
    RawPeer declined(QStringLiteral("Stranger"), QStringLiteral("stranger"));
    RawPeer impostor(QStringLiteral("Holder"), QStringLiteral("holder"));
    RawPeer joiner(QStringLiteral("Joiner"), QStringLiteral("joiner"));
    QTcpSocket silent;
    for (RawPeer *peer : {&declined, &impostor, &joiner}) {
        QObject::connect(&peer->connection(), &PeerConnection::greeted, [peer] { peer->connection().send(PeerFrame::Type::Invite); });
        peer->connectTo(port);
    }
    silent.connectToHost(QStringLiteral("127.0.0.1"), port);
    ASSERT_TRUE(QTest::qWaitFor([&] { return joiner.received.contains(PeerFrame::Type::Accept); }, 10000));
    joiner.connection().close();
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return declined.closed && impostor.closed && silent.state() == QAbstractSocket::UnconnectedState
            && log.countPrefix(QStringLiteral("Connection to ")) == 4;
    }, 10000));
    asked.sort();
    EXPECT_EQ(asked, (QStringList{QStringLiteral("Holder"), QStringLiteral("Joiner"), QStringLiteral("Stranger")}));
    // Session events are delivered queued: let them arrive.
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(model->connectionStatus(), ConnectionStatus::transferring);
    ASSERT_TRUE(model->connectedRemote().has_value());
    EXPECT_EQ(model->connectedRemote()->label, QStringLiteral("Holder"));
    EXPECT_EQ(model->multiPeerManager()->connectedPeers().size(), 1);

    // The held answer arrives and the transfer ends as usual.
    responder.sendResource(uuid, 5, "image");
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->statusString() == QStringLiteral("Finished transferring"); }, 10000));
    EXPECT_EQ(model->connectionStatus(), ConnectionStatus::connected);
    EXPECT_EQ(MissingMediaLibrary::readFile(*m_stack, uuid, QStringLiteral("jpg")), QByteArray("image"));

    // The connected peer's own leaving still ends the connection.
    responder.connection().close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return model->connectionStatus() == ConnectionStatus::standby; }, 10000));
}

TEST(HostilePeerTest, CodesAreFreshForEachConnectionAndDifferAcrossARelay)
{
    ASSERT_TRUE(QSslSocket::supportsSsl());
    std::unique_ptr<MultiPeerManager> first = listeningManager(QStringLiteral("Library with 2 cases"));
    std::unique_ptr<MultiPeerManager> second = listeningManager(QStringLiteral("Library with 3 cases"));
    ASSERT_NE(second->listeningPort(), 0);

    // The same two libraries, twice: both sides agree, and not with the last time.
    const Codes once = connectAndCompare(*first, *second, second->listeningPort());
    const Codes twice = connectAndCompare(*first, *second, second->listeningPort());
    ASSERT_FALSE(once.inviter.isEmpty());
    ASSERT_FALSE(twice.inviter.isEmpty());
    EXPECT_EQ(once.inviter, once.invited);
    EXPECT_EQ(twice.inviter, twice.invited);
    EXPECT_NE(once.inviter, twice.inviter);

    // A client without a certificate is refused before any greeting: the
    // code must cover both certificates.
    QSslSocket anonymous;
    bool heard = false;
    QObject::connect(&anonymous, &QSslSocket::sslErrors, &anonymous, [&anonymous] { anonymous.ignoreSslErrors(); });
    QObject::connect(&anonymous, &QSslSocket::readyRead, &anonymous, [&heard] { heard = true; });
    anonymous.connectToHostEncrypted(QStringLiteral("127.0.0.1"), second->listeningPort());
    EXPECT_TRUE(QTest::qWaitFor([&] { return anonymous.state() == QAbstractSocket::UnconnectedState; }, 8000));
    EXPECT_FALSE(heard);

    // A machine in the middle that knows both certificates and chose its own
    // to match them still shows the two users different codes.
    const PeerCertificate prober = PeerCertificate::generate(QStringLiteral("Prober"));
    const QSslCertificate firstCertificate = probeCertificate(first->listeningPort(), prober);
    const QSslCertificate secondCertificate = probeCertificate(second->listeningPort(), prober);
    ASSERT_FALSE(firstCertificate.isNull());
    ASSERT_FALSE(secondCertificate.isNull());
    const std::optional<CertificateMatcher::Pair> chosen = CertificateMatcher::find(firstCertificate, secondCertificate);
    ASSERT_TRUE(chosen.has_value());
    Relay relay(second->listeningPort(), *chosen);
    const Codes relayed = connectAndCompare(*first, *second, relay.port());
    ASSERT_FALSE(relayed.inviter.isEmpty());
    ASSERT_FALSE(relayed.invited.isEmpty());
    EXPECT_NE(relayed.inviter, relayed.invited);
}
