#pragma once

#include <QObject>
#include <QThread>

#include "transfer/PeerFrame.h"
#include "transfer/PeerGreeting.h"
#include "transfer/PeerID.h"

class QSslSocket;

namespace ovalis {

class PeerCertificate;
class PeerChannel;
class ReceivedFile;

// One TLS 1.3 connection to another peer, as the thread that made it sees
// it (see PeerChannel for what travels over it).
//
// The socket, the encryption and the files' reading and writing live on a
// network thread of the connection's own, in its PeerChannel, so that a
// transfer is not bound to a busy main thread. Calls are handed to that
// thread queued, in the order made; what the channel reports arrives here
// queued and is emitted from the event loop. What the peer said of itself is
// kept here once it greeted. The channel is deleted on its own thread, and
// the thread ends, when the connection is deleted.
class PeerConnection : public QObject
{
    Q_OBJECT

public:
    // Takes the socket (made on this thread, without a parent): an accepted
    // one (TLS starts with startServer()) or a fresh one that connectToHost()
    // will use. The network thread starts with either.
    PeerConnection(QSslSocket *socket, const PeerCertificate &identity, QByteArray helloPayload, QObject *parent = nullptr);
    ~PeerConnection() override;

    void startServer();
    void connectToHost(const QString &host, quint16 port);

    const PeerID &remotePeer() const { return m_greeting.peer; }
    // The peer's listening port as its greeting gave it (0 when none).
    quint16 remoteListeningPort() const { return m_greeting.listeningPort; }
    // Known at once for an accepted socket, else once the connection is secured.
    QString remoteAddress() const { return m_remoteAddress; }
    const std::optional<DiscoveryInfo> &remoteDiscoveryInfo() const { return m_greeting.info; }
    bool isEncrypted() const { return m_encrypted; }
    // The code the users compare; empty until the peer has greeted.
    QString verificationCode() const { return m_greeting.verificationCode; }

    void send(PeerFrame::Type type, const QByteArray &payload = {});
    // Streams the file as a resource with that name after whatever is queued.
    void sendFile(const QString &path, const QString &resourceName);
    // Reports closed at once; what is already queued (a decline, say) still
    // goes out before the socket closes.
    void close();
    // See PeerChannel::setJoined.
    void setJoined(bool joined);
    // See PeerChannel::setResourceDirectory.
    void setResourceDirectory(const QString &path);

signals:
    void greeted();
    void frameReceived(ovalis::PeerFrame::Type type, const QByteArray &payload);
    void resourceStarted(const QString &name, qint64 size);
    // The file at path is removed after this signal returns.
    void resourceFinished(const QString &name, const QString &path);
    void resourceFailed(const QString &message);
    void fileSent(bool sent, const QString &error);
    void closed(const QString &reason);

private:
    // Runs the work on the network thread, after the work handed over before.
    template<class Work> void post(Work work);
    void startThread();
    void channelGreeted(const PeerGreeting &greeting);
    void channelFinishedResource(const QString &name, const ReceivedFile &file);
    void channelClosed(const QString &reason);

    QThread m_thread;
    PeerChannel *m_channel; // Lives on m_thread, which deletes it as it ends.
    QString m_remoteAddress;
    PeerGreeting m_greeting;
    bool m_encrypted = false;
    bool m_closed = false;
};

} // namespace ovalis
