#include "transfer/MultiPeerManager.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSslSocket>
#include <QTcpServer>
#include <QTimer>

#include "transfer/AvahiDiscovery.h"
#include "transfer/MultiPeerManagerDelegate.h"
#include "transfer/PeerConnection.h"
#include "transfer/PeerDiscovery.h"
#include "transfer/PeerPicker.h"
#include "util/Log.h"

namespace ovalis {

namespace {

enum SessionState { NotConnected, Connecting, Connected };

// Hands accepted sockets over as TLS sockets, encryption not yet started.
class TlsServer : public QTcpServer
{
public:
    using QTcpServer::QTcpServer;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new QSslSocket(this);
        if (socket->setSocketDescriptor(descriptor))
            addPendingConnection(socket);
        else
            delete socket;
    }
};

const QString peerIDKey = QStringLiteral("peerID");
// Connections from others that have not yet greeted and invited: each costs a
// TLS session, so only the newest few may wait.
constexpr int maximumGreetingConnections = 8;
// How long the user has to answer an invitation.
constexpr int invitationTimeout = 30 * 1000;

} // namespace

struct MultiPeerManager::Link {
    enum class Stage { Greeting, Inviting, Invited, Connected };

    std::unique_ptr<PeerConnection, void (*)(PeerConnection *)> connection{nullptr, [](PeerConnection *c) { c->deleteLater(); }};
    bool outgoing = false;
    Stage stage = Stage::Greeting;
    PeerID peer; // the peer reported to the delegate; null until known
    QString address; // "host:port" of a connection made on the direct path
    bool reported = false; // the delegate has heard of the peer through this link
    bool answered = false; // the invitation handler replied to this link's invitation
    QTimer timeout;
};

MultiPeerManager::MultiPeerManager(const QString &name, const QString &serviceType, QObject *parent)
    : QObject(parent)
    , m_name(name)
    , m_serviceType(serviceType)
    , m_peerID(PeerID::make(name))
{
    Log::info(LogArea::Multipeer, QStringLiteral("Init MultiPeerManager with '%1' and '%2'").arg(name, serviceType));
    QString error;
    m_identity = PeerCertificate::generate(name, &error);
    if (m_identity.isNull()) {
        m_lastError = QStringLiteral("Unable to make the session's certificate: ") + error;
        Log::error(LogArea::Multipeer, m_lastError);
    }
    setDiscovery(std::make_unique<AvahiDiscovery>());
}

MultiPeerManager::~MultiPeerManager()
{
    if (m_advertising)
        stopAdvertising();
    for (auto &link : m_links)
        link->connection->disconnect(this);
}

void MultiPeerManager::setDiscovery(std::unique_ptr<PeerDiscovery> discovery)
{
    m_discovery = std::move(discovery);
    if (!m_discovery)
        return;
    connect(m_discovery.get(), &PeerDiscovery::availabilityChanged, this, &MultiPeerManager::reachabilityChanged);
    connect(m_discovery.get(), &PeerDiscovery::serviceFound, this, [this](const PeerDiscovery::Service &service) {
        const QString id = service.txt.value(peerIDKey, QStringLiteral("dnssd:") + service.name);
        if (id == m_peerID.uniqueID)
            return;
        DiscoveryInfo txt = service.txt;
        txt.remove(peerIDKey);
        m_serviceNames.insert(service.name, id);
        rememberPeer({{id, service.name}, service.host, service.port, txt.isEmpty() ? std::nullopt : std::optional(txt), true});
    });
    connect(m_discovery.get(), &PeerDiscovery::serviceLost, this, [this](const QString &name) {
        const QString id = m_serviceNames.take(name);
        if (!id.isEmpty())
            forgetPeer(id, true);
    });
}

quint16 MultiPeerManager::listeningPort() const
{
    return m_server && m_server->isListening() ? m_server->serverPort() : 0;
}

QByteArray MultiPeerManager::helloPayload() const
{
    QJsonObject info;
    const std::optional<DiscoveryInfo> advertised = m_advertisedInfo ? m_advertisedInfo
                                                   : m_delegate       ? m_delegate->discoveryInfo()
                                                                      : std::nullopt;
    if (advertised) {
        for (auto it = advertised->cbegin(); it != advertised->cend(); ++it)
            info.insert(it.key(), it.value());
    }
    QJsonObject hello{{QStringLiteral("id"), m_peerID.uniqueID},
                      {QStringLiteral("name"), m_name},
                      {QStringLiteral("port"), int(listeningPort())}};
    if (advertised)
        hello.insert(QStringLiteral("info"), info);
    return QJsonDocument(hello).toJson(QJsonDocument::Compact);
}

void MultiPeerManager::startAdvertising()
{
    Log::info(LogArea::Multipeer, QStringLiteral("Start advertiser assistant"));
    m_advertisedInfo = m_delegate ? m_delegate->discoveryInfo() : std::nullopt;
    m_advertising = true;
    if (!m_server) {
        m_server = new TlsServer(this);
        connect(m_server, &QTcpServer::newConnection, this, &MultiPeerManager::acceptPendingConnections);
    }
    if (!m_server->isListening()) {
        const quint16 port = m_requestedPort ? m_requestedPort : m_lastPort;
        if (!m_server->listen(QHostAddress::Any, port) && !(port && !m_requestedPort && m_server->listen(QHostAddress::Any, 0))) {
            m_lastError = QStringLiteral("Unable to listen on port %1: %2").arg(port).arg(m_server->errorString());
            Log::error(LogArea::Networking, m_lastError);
        } else {
            m_lastPort = m_server->serverPort();
            Log::info(LogArea::Networking, QStringLiteral("Listening for peers on port %1").arg(m_lastPort));
        }
    }
    if (m_discovery && listeningPort()) {
        DiscoveryInfo txt = m_advertisedInfo.value_or(DiscoveryInfo());
        txt.insert(peerIDKey, m_peerID.uniqueID);
        m_discovery->publish(QStringLiteral("_%1._tcp").arg(m_serviceType), m_name, listeningPort(), txt);
    }
    emit reachabilityChanged();
}

void MultiPeerManager::stopAdvertising()
{
    Log::info(LogArea::Multipeer, QStringLiteral("Stop advertiser assistant"));
    m_advertising = false;
    if (m_discovery)
        m_discovery->unpublish();
    if (m_server)
        m_server->close();
    emit reachabilityChanged();
}

void MultiPeerManager::startBrowsing()
{
    Log::info(LogArea::Multipeer, QStringLiteral("Start browsing"));
    m_browsing = true;
    if (m_discovery)
        m_discovery->startBrowsing(QStringLiteral("_%1._tcp").arg(m_serviceType));
    const QString reason = m_discovery ? m_discovery->unavailableReason() : QStringLiteral("no discovery service");
    if (!reason.isEmpty())
        Log::error(LogArea::Multipeer, QStringLiteral("MultiPeerManager did not start browsing for peers with error: %1").arg(reason));
}

void MultiPeerManager::stopBrowsing()
{
    Log::info(LogArea::Multipeer, QStringLiteral("Stop browsing"));
    m_browsing = false;
    if (m_discovery)
        m_discovery->stopBrowsing();
}

PeerConnection *MultiPeerManager::makeConnection(QSslSocket *socket)
{
    auto link = std::make_unique<Link>();
    auto *connection = new PeerConnection(socket, m_identity, helloPayload(), this);
    connection->setResourceDirectory(m_resourceDirectory);
    link->connection.reset(connection);
    link->timeout.setSingleShot(true);
    connect(&link->timeout, &QTimer::timeout, connection, [this, connection] {
        const Link *link = linkFor(connection);
        if (link && !link->outgoing && link->stage == Link::Stage::Greeting)
            Log::info(LogArea::Networking, QStringLiteral("Dropping the connection from %1: it did not greet in time").arg(connection->remoteAddress()));
        connection->close();
    });
    connect(connection, &PeerConnection::greeted, this, [this, connection] { greeted(connection); });
    connect(connection, &PeerConnection::frameReceived, this,
            [this, connection](PeerFrame::Type type, const QByteArray &payload) { frameReceived(connection, int(type), payload); });
    connect(connection, &PeerConnection::closed, this, [this, connection](const QString &reason) { connectionClosed(connection, reason); });
    connect(connection, &PeerConnection::resourceStarted, this, [this, connection](const QString &name, qint64 size) {
        Link *link = linkFor(connection);
        if (link && link->stage == Link::Stage::Connected && m_delegate)
            m_delegate->didStartReceivingResource(this, name, size);
    });
    connect(connection, &PeerConnection::resourceFinished, this, [this, connection](const QString &name, const QString &path) {
        Link *link = linkFor(connection);
        if (link && link->stage == Link::Stage::Connected && m_delegate)
            m_delegate->didFinishReceivingResource(this, name, QUrl::fromLocalFile(path));
    });
    connect(connection, &PeerConnection::resourceFailed, this, [](const QString &message) {
        Log::error(LogArea::Multipeer, QStringLiteral("Unable to receive resource: %1").arg(message));
    });
    connect(connection, &PeerConnection::fileSent, this, [this](bool sent, const QString &error) {
        if (!sent)
            Log::error(LogArea::Multipeer, QStringLiteral("Failed to send file with error: %1").arg(error));
        if (m_delegate)
            m_delegate->didFinishSendingFile(this);
    });
    m_links.push_back(std::move(link));
    return connection;
}

MultiPeerManager::Link *MultiPeerManager::linkFor(PeerConnection *connection)
{
    for (auto &link : m_links) {
        if (link->connection.get() == connection)
            return link.get();
    }
    return nullptr;
}

void MultiPeerManager::acceptPendingConnections()
{
    while (QTcpSocket *pending = m_server->nextPendingConnection()) {
        auto *socket = static_cast<QSslSocket *>(pending);
        makeRoomForGreeting();
        PeerConnection *connection = makeConnection(socket);
        Link *link = linkFor(connection);
        link->timeout.start(m_greetingTimeout); // greeting and invitation
        Log::info(LogArea::Networking, QStringLiteral("Connection from %1").arg(connection->remoteAddress()));
        connection->startServer();
    }
}

void MultiPeerManager::makeRoomForGreeting()
{
    QList<PeerConnection *> greeting; // oldest first
    for (const auto &link : m_links) {
        if (!link->outgoing && link->stage == Link::Stage::Greeting)
            greeting.append(link->connection.get());
    }
    while (greeting.size() >= maximumGreetingConnections) {
        PeerConnection *oldest = greeting.takeFirst();
        Log::info(LogArea::Networking,
                  QStringLiteral("Dropping the connection from %1: too many connections have not greeted").arg(oldest->remoteAddress()));
        oldest->close();
    }
}

void MultiPeerManager::invite(const PeerID &peer, int timeoutSeconds)
{
    const KnownPeer known = m_known.value(peer.uniqueID);
    if (known.peer.isNull() || known.host.isEmpty() || !known.port) {
        Log::error(LogArea::Multipeer, QStringLiteral("Unable to invite %1: its address is not known").arg(peer.displayName));
        changeState(peer, NotConnected);
        return;
    }
    auto *socket = new QSslSocket;
    PeerConnection *connection = makeConnection(socket);
    Link *link = linkFor(connection);
    link->outgoing = true;
    link->peer = known.peer;
    link->reported = true;
    link->timeout.start(timeoutSeconds * 1000);
    changeState(known.peer, Connecting);
    connection->connectToHost(known.host, known.port);
}

void MultiPeerManager::connectToAddress(const QString &host, quint16 port, int timeoutSeconds)
{
    Log::info(LogArea::Networking, QStringLiteral("Connect to address %1 port %2").arg(host).arg(port));
    auto *socket = new QSslSocket;
    PeerConnection *connection = makeConnection(socket);
    Link *link = linkFor(connection);
    link->outgoing = true;
    link->address = QStringLiteral("%1:%2").arg(host).arg(port);
    link->timeout.start(timeoutSeconds * 1000);
    connection->connectToHost(host, port);
}

void MultiPeerManager::greeted(PeerConnection *connection)
{
    Link *link = linkFor(connection);
    if (!link)
        return;
    const PeerID remote = connection->remotePeer();
    if (remote == m_peerID) {
        Log::error(LogArea::Networking, QStringLiteral("Refused a connection to this library itself"));
        connection->close();
        return;
    }
    if (!m_known.contains(remote.uniqueID) || !m_known.value(remote.uniqueID).discovered) {
        // A peer reached directly (or one that reached us) is listed while its connection lasts.
        QString host = connection->remoteAddress();
        rememberPeer({remote, host, connection->remoteListeningPort(), connection->remoteDiscoveryInfo(), false});
    }
    emit reachabilityChanged(); // the verification code can be shown now
    if (!link->outgoing)
        return;
    if (link->peer.isNull())
        link->peer = m_known.value(remote.uniqueID).peer;
    if (!link->reported) {
        link->reported = true;
        changeState(link->peer, Connecting);
    }
    link->stage = Link::Stage::Inviting;
    connection->send(PeerFrame::Type::Invite);
}

void MultiPeerManager::frameReceived(PeerConnection *connection, int type, const QByteArray &payload)
{
    Link *link = linkFor(connection);
    if (!link)
        return;
    switch (PeerFrame::Type(type)) {
    case PeerFrame::Type::Invite:
        if (!link->outgoing && link->stage == Link::Stage::Greeting)
            answerInvitation(connection);
        return;
    case PeerFrame::Type::Accept:
        if (link->outgoing && link->stage == Link::Stage::Inviting)
            becomeConnected(connection);
        return;
    case PeerFrame::Type::Decline:
        Log::info(LogArea::Multipeer, QStringLiteral("%1 declined the invitation").arg(link->peer.displayName));
        connection->close();
        return;
    case PeerFrame::Type::Data:
        if (link->stage == Link::Stage::Connected && m_delegate)
            m_delegate->didReceiveData(this, payload);
        return;
    default:
        return;
    }
}

void MultiPeerManager::answerInvitation(PeerConnection *connection)
{
    Link *link = linkFor(connection);
    link->peer = m_known.value(connection->remotePeer().uniqueID).peer;
    link->stage = Link::Stage::Invited;
    link->timeout.start(invitationTimeout);
    // The session hears of the peer only once it is accepted: an invitation
    // declined or left unanswered changes no state, whoever sent it.
    const PeerID peer = link->peer;
    QPointer<PeerConnection> guard(connection);
    auto reply = [this, guard](bool accept) {
        if (!guard)
            return;
        Link *link = linkFor(guard);
        if (!link || link->stage != Link::Stage::Invited)
            return;
        link->answered = true;
        if (accept) {
            guard->send(PeerFrame::Type::Accept);
            becomeConnected(guard);
        } else {
            guard->send(PeerFrame::Type::Decline);
            guard->close();
        }
    };
    if (!m_invitationHandler) {
        reply(false);
        return;
    }
    m_invitationHandler(peer, connection->verificationCode(), reply);
}

void MultiPeerManager::becomeConnected(PeerConnection *connection)
{
    Link *link = linkFor(connection);
    link->stage = Link::Stage::Connected;
    link->timeout.stop();
    connection->setJoined(true);
    m_connected.append(connection);
    const bool alreadyConnected = peerReportedElsewhere(link, true);
    link->reported = true;
    if (!alreadyConnected)
        changeState(link->peer, Connected);
}

bool MultiPeerManager::peerReportedElsewhere(const Link *link, bool connectedOnly) const
{
    // Identities are what peers say they are: a second connection claiming
    // a connected peer's identity must not end that peer's session.
    return std::any_of(m_links.begin(), m_links.end(), [link, connectedOnly](const auto &other) {
        return other.get() != link && other->reported && other->peer == link->peer
            && (!connectedOnly || other->stage == Link::Stage::Connected);
    });
}

void MultiPeerManager::connectionClosed(PeerConnection *connection, const QString &reason)
{
    auto it = std::find_if(m_links.begin(), m_links.end(), [connection](const auto &link) { return link->connection.get() == connection; });
    if (it == m_links.end())
        return;
    std::unique_ptr<Link> link = std::move(*it);
    m_links.erase(it);
    m_connected.removeAll(connection);
    Log::info(LogArea::Networking, QStringLiteral("Connection to %1 closed: %2")
                                       .arg(link->peer.isNull() ? connection->remoteAddress() : link->peer.displayName, reason));
    if (link->stage == Link::Stage::Invited && !link->answered)
        emit invitationEnded(link->peer);
    if (link->reported && !peerReportedElsewhere(link.get(), false))
        changeState(link->peer, NotConnected);
    else if (link->outgoing && link->peer.isNull())
        // The direct path failed before the peer greeted: the session knows it only by its address.
        changeState({QStringLiteral("address:") + link->address, link->address}, NotConnected);
    const QString id = connection->remotePeer().isNull() ? link->peer.uniqueID : connection->remotePeer().uniqueID;
    const bool stillLinked = std::any_of(m_links.begin(), m_links.end(), [&id](const auto &other) {
        return other->connection->remotePeer().uniqueID == id || other->peer.uniqueID == id;
    });
    if (!id.isEmpty() && !stillLinked)
        forgetPeer(id, false);
}

void MultiPeerManager::rememberPeer(const KnownPeer &known)
{
    KnownPeer merged = known;
    const auto existing = m_known.constFind(known.peer.uniqueID);
    if (existing != m_known.cend() && existing->discovered && !known.discovered)
        merged = *existing; // discovery's entry stays the one used for invitations
    m_known.insert(known.peer.uniqueID, merged);
    Log::info(LogArea::Multipeer, QStringLiteral("MultiPeerManager found peer: %1").arg(merged.peer.displayName));
    if (m_delegate)
        m_delegate->foundPeer(this, merged.peer, merged.info);
    emit peersChanged();
}

void MultiPeerManager::forgetPeer(const QString &uniqueID, bool discoveredOnly)
{
    const auto it = m_known.constFind(uniqueID);
    if (it == m_known.cend() || it->discovered != discoveredOnly)
        return;
    const PeerID peer = it->peer;
    m_known.remove(uniqueID);
    Log::info(LogArea::Multipeer, QStringLiteral("MultiPeerManager lost peer: %1").arg(peer.displayName));
    if (m_delegate)
        m_delegate->lostPeer(this, peer);
    emit peersChanged();
}

void MultiPeerManager::changeState(const PeerID &peer, int state)
{
    Log::info(LogArea::Multipeer, QStringLiteral("Session did change state"));
    switch (state) {
    case NotConnected:
        Log::info(LogArea::Multipeer, QStringLiteral("Not Connected: %1").arg(peer.displayName));
        break;
    case Connecting:
        Log::info(LogArea::Multipeer, QStringLiteral("Connecting: %1").arg(peer.displayName));
        break;
    case Connected:
        Log::info(LogArea::Multipeer, QStringLiteral("Connected: %1").arg(peer.displayName));
        break;
    default:
        Log::info(LogArea::Multipeer, QStringLiteral("Unknown session state: %1").arg(peer.displayName));
        return;
    }
    QPointer<MultiPeerManager> self(this);
    QMetaObject::invokeMethod(
        this,
        [self, peer, state] {
            if (!self || !self->m_delegate)
                return;
            if (state == NotConnected)
                self->m_delegate->peerDisconnected(peer);
            else if (state == Connecting)
                self->m_delegate->peerConnecting(peer);
            else
                self->m_delegate->peerConnected(peer);
        },
        Qt::QueuedConnection);
    emit peerStateChanged(peer, state == Connecting);
    emit peersChanged();
}

void MultiPeerManager::disconnect()
{
    Log::info(LogArea::Multipeer, QStringLiteral("Disconnect session"));
    QList<PeerConnection *> open;
    for (auto &link : m_links)
        open.append(link->connection.get());
    for (PeerConnection *connection : open)
        connection->close();
}

void MultiPeerManager::sendData(const QByteArray &data)
{
    if (m_connected.isEmpty())
        return;
    if (data.size() > PeerFrame::maximumPayloadSize) {
        Log::error(LogArea::Multipeer, QStringLiteral("Failed to send with error: a message of %1 bytes is too large").arg(data.size()));
        return;
    }
    for (PeerConnection *connection : std::as_const(m_connected))
        connection->send(PeerFrame::Type::Data, data);
}

void MultiPeerManager::sendFile(const QUrl &url, const QString &resourceName)
{
    if (m_connected.isEmpty())
        return;
    Log::info(LogArea::Multipeer, QStringLiteral("Send file at %1").arg(url.toString(QUrl::FullyEncoded)));
    m_connected.first()->sendFile(url.toLocalFile(), resourceName);
}

QList<PeerID> MultiPeerManager::nearbyPeers() const
{
    QList<PeerID> peers;
    for (const KnownPeer &known : m_known)
        peers.append(known.peer);
    return peers;
}

void MultiPeerManager::showBrowser(std::optional<int> maximumNumberOfPeers)
{
    Log::info(LogArea::Multipeer, QStringLiteral("Show browser"));
    auto *picker = new PeerPicker(this, maximumNumberOfPeers, this);
    const auto dismiss = [this, picker](const QString &logLine) {
        Log::info(LogArea::Multipeer, logLine);
        if (m_delegate)
            m_delegate->dismissBrowser(this, picker);
        picker->deleteLater();
    };
    connect(picker, &PeerPicker::finished, this, [dismiss] { dismiss(QStringLiteral("Session browserViewControllerDidFinish")); });
    connect(picker, &PeerPicker::cancelled, this,
            [dismiss] { dismiss(QStringLiteral("Session browserViewControllerWasCancelled")); });
    if (m_delegate)
        m_delegate->presentBrowser(this, picker);
}

QList<PeerID> MultiPeerManager::connectedPeers() const
{
    QList<PeerID> peers;
    for (PeerConnection *connection : m_connected) {
        for (const auto &link : m_links) {
            if (link->connection.get() == connection)
                peers.append(link->peer);
        }
    }
    return peers;
}

QString MultiPeerManager::verificationCode(const PeerID &peer) const
{
    for (const auto &link : m_links) {
        if (link->peer == peer && link->connection->isEncrypted())
            return link->connection->verificationCode();
    }
    return QString();
}

} // namespace ovalis
