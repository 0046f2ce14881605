#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

#include "transfer/PeerCertificate.h"
#include "transfer/PeerDiscovery.h"
#include "transfer/PeerID.h"

class QSslSocket;
class QTcpServer;

namespace ovalis {

class MultiPeerManagerDelegate;
class PeerConnection;
class PeerDiscovery;

// A peer-to-peer session with nearby libraries: advertising this peer and
// browsing for others (DNS-SD through the discovery given), invitations, and
// one encrypted session (TLS 1.3, an ephemeral self-signed certificate per
// manager) carrying reliable data messages to all connected peers and named
// file resources to the first connected peer.
//
// Every operation and every event happens on the thread that made the
// manager (the main thread). Session state changes reach the delegate queued;
// the other events are reported as they are read from the network.
class MultiPeerManager : public QObject
{
    Q_OBJECT

public:
    // Asked when a peer invites this one; reply(true) accepts. The reply may
    // come later; it is ignored once the invitation has timed out.
    using InvitationHandler = std::function<void(const PeerID &peer, const QString &verificationCode,
                                                 std::function<void(bool accept)> reply)>;

    // Discovery defaults to the system's DNS-SD daemon; pass a discovery of
    // your own, or set none with setDiscovery(nullptr).
    MultiPeerManager(const QString &name, const QString &serviceType, QObject *parent = nullptr);
    ~MultiPeerManager() override;

    void setDelegate(MultiPeerManagerDelegate *delegate) { m_delegate = delegate; } // Not owned.
    MultiPeerManagerDelegate *delegate() const { return m_delegate; }
    void setDiscovery(std::unique_ptr<PeerDiscovery> discovery);
    PeerDiscovery *discovery() const { return m_discovery.get(); }
    void setInvitationHandler(InvitationHandler handler) { m_invitationHandler = std::move(handler); }
    // The port to listen on when advertising starts; 0 (the default) lets the system choose.
    void setRequestedPort(quint16 port) { m_requestedPort = port; }
    // How long a connection that reached this peer has to greet and send its
    // invitation before it is dropped (10 s by default).
    void setGreetingTimeout(int milliseconds) { m_greetingTimeout = milliseconds; }
    // Where received resources are written as they arrive (see PeerConnection).
    void setResourceDirectory(const QString &path) { m_resourceDirectory = path; }
    QString resourceDirectory() const { return m_resourceDirectory; }

    QString name() const { return m_name; }
    QString serviceType() const { return m_serviceType; }
    const PeerID &peerID() const { return m_peerID; }
    // The port this peer listens on while advertising; 0 otherwise.
    quint16 listeningPort() const;
    virtual bool isBrowsing() const { return m_browsing; }
    // Set when the peer cannot listen or discovery does not work.
    QString lastError() const { return m_lastError; }

    virtual void startAdvertising();
    virtual void stopAdvertising();
    virtual void startBrowsing();
    virtual void stopBrowsing();
    // Invites a peer found by discovery (or through a connection) into the session.
    virtual void invite(const PeerID &peer, int timeoutSeconds);
    // The direct path: connects to a peer's address, reports it as found once
    // it greets, and invites it.
    virtual void connectToAddress(const QString &host, quint16 port, int timeoutSeconds);
    virtual void disconnect();
    virtual void sendData(const QByteArray &data);
    virtual void sendFile(const QUrl &url, const QString &resourceName);
    virtual QList<PeerID> connectedPeers() const;
    // The peers found by discovery or known through a connection.
    QList<PeerID> nearbyPeers() const;
    // Makes a peer picker for this session (limited to that many peers in the
    // session when given) and hands it to the delegate to present; the
    // delegate is asked to dismiss it when the user finishes or cancels it.
    void showBrowser(std::optional<int> maximumNumberOfPeers = std::nullopt);
    // The code both users compare for a peer being invited or connected; empty otherwise.
    QString verificationCode(const PeerID &peer) const;

signals:
    // Listening started or stopped, discovery changed its availability, or a
    // peer's connection was secured (its verification code is known).
    void reachabilityChanged();
    // A peer was found or lost, or its session state changed.
    void peersChanged();
    // A peer's session state changed: connecting, or else connected or not connected.
    void peerStateChanged(const ovalis::PeerID &peer, bool connecting);
    // An invitation handed to the invitation handler ended before it was
    // answered (it timed out, or its sender went): its question is moot.
    void invitationEnded(const ovalis::PeerID &peer);

private:
    struct Link;
    struct KnownPeer {
        PeerID peer;
        QString host;
        quint16 port = 0;
        std::optional<DiscoveryInfo> info;
        bool discovered = false; // else known only through a connection
    };

    PeerConnection *makeConnection(QSslSocket *socket);
    void acceptPendingConnections();
    void greeted(PeerConnection *connection);
    void frameReceived(PeerConnection *connection, int type, const QByteArray &payload);
    void connectionClosed(PeerConnection *connection, const QString &reason);
    void inviteGreeted(PeerConnection *connection);
    void answerInvitation(PeerConnection *connection);
    void becomeConnected(PeerConnection *connection);
    // Whether another link than this one carries the peer's reported state.
    bool peerReportedElsewhere(const Link *link, bool connectedOnly) const;
    // Drops the oldest connections still greeting so that one more fits.
    void makeRoomForGreeting();
    void changeState(const PeerID &peer, int state);
    void rememberPeer(const KnownPeer &known);
    void forgetPeer(const QString &uniqueID, bool discoveredOnly);
    QByteArray helloPayload() const;
    Link *linkFor(PeerConnection *connection);

    QString m_name;
    QString m_serviceType;
    PeerID m_peerID;
    PeerCertificate m_identity;
    MultiPeerManagerDelegate *m_delegate = nullptr; // Not owned.
    std::unique_ptr<PeerDiscovery> m_discovery;
    InvitationHandler m_invitationHandler;
    QTcpServer *m_server = nullptr; // Owned (child).
    quint16 m_requestedPort = 0;
    int m_greetingTimeout = 10 * 1000;
    QString m_resourceDirectory;
    quint16 m_lastPort = 0;
    bool m_advertising = false;
    bool m_browsing = false;
    QString m_lastError;
    std::optional<DiscoveryInfo> m_advertisedInfo;

    std::vector<std::unique_ptr<Link>> m_links; // every open connection, oldest first
    QList<PeerConnection *> m_connected;        // in the order they joined the session
    QHash<QString, KnownPeer> m_known;          // by unique id
    QHash<QString, QString> m_serviceNames;     // DNS-SD service name -> unique id
};

} // namespace ovalis
