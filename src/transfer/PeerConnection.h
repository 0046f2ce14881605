#pragma once

#include <QFile>
#include <QObject>
#include <QPointer>
#include <QQueue>
#include <QSslSocket>
#include <QTemporaryFile>
#include <memory>

#include "transfer/PeerFrame.h"
#include "transfer/PeerID.h"

namespace ovalis {

class PeerCertificate;

// One TLS 1.3 connection to another peer and the frames that travel over it:
// the greeting each side sends first (with a commitment to a random nonce),
// the nonce itself once the other side's commitment is in, the invitation and
// its answer, data messages and file resources. Both sides must present a
// certificate.
//
// Files are read and sent in chunks as the socket drains, so that only a few
// hundred kilobytes are in memory at a time; a received resource is written
// to a temporary file as it arrives and removed once it has been reported.
// Lives on the thread that made it; every signal is emitted from the event
// loop, never from within a call into the connection.
class PeerConnection : public QObject
{
    Q_OBJECT

public:
    // Takes the socket: an accepted one (TLS starts at once) or a fresh one
    // that connectToHost() will use.
    PeerConnection(QSslSocket *socket, const PeerCertificate &identity, QByteArray helloPayload, QObject *parent = nullptr);
    ~PeerConnection() override;

    void startServer();
    void connectToHost(const QString &host, quint16 port);

    const PeerID &remotePeer() const { return m_remotePeer; }
    // The peer's listening port as its greeting gave it (0 when none).
    quint16 remoteListeningPort() const { return m_remoteListeningPort; }
    QString remoteAddress() const;
    const std::optional<DiscoveryInfo> &remoteDiscoveryInfo() const { return m_remoteInfo; }
    bool isEncrypted() const { return m_socket->isEncrypted(); }
    // The code the users compare; empty until the peer has greeted.
    QString verificationCode() const { return m_verificationCode; }

    void send(PeerFrame::Type type, const QByteArray &payload = {});
    // Streams the file as a resource with that name after whatever is queued.
    void sendFile(const QString &path, const QString &resourceName);
    void close();
    // Until the peer has joined the session its resources are refused, so
    // that an uninvited peer cannot fill the disk, and its frames are kept
    // to a few kilobytes, so that it cannot fill the memory.
    void setJoined(bool joined);
    // Where received resources are written as they arrive; best on the file
    // system they are moved to, which makes the move a rename. The system's
    // temporary directory when empty or not a directory.
    void setResourceDirectory(const QString &path) { m_resourceDirectory = path; }
    // Bytes not yet handed to the network; the benchmark reads it.
    qint64 pendingBytes() const;

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
    void configure(const PeerCertificate &identity);
    void readFrames();
    void sendHello();
    // The peer's greeting, then its nonce.
    void handleGreeting(const PeerFrameView &frame);
    void handle(const PeerFrameView &frame);
    void beginResource(const QByteArray &payload);
    void pump();
    void finishOutgoing(bool sent, const QString &error);
    void fail(const QString &reason);
    void finish(const QString &reason);

    struct OutgoingFile {
        QString path;
        QString name;
    };

    QSslSocket *m_socket; // Owned (child).
    QByteArray m_helloPayload;
    PeerFrameReader m_reader;
    PeerID m_remotePeer;
    quint16 m_remoteListeningPort = 0;
    std::optional<DiscoveryInfo> m_remoteInfo;
    bool m_helloSent = false;
    bool m_greeted = false;
    bool m_closed = false;
    bool m_acceptsResources = false;
    QByteArray m_nonce;            // this side's, fresh for the connection
    QByteArray m_remoteCommitment; // the hash the peer's greeting gave; empty before
    QString m_verificationCode;

    QQueue<OutgoingFile> m_outgoing;
    std::unique_ptr<QFile> m_sending;

    QString m_resourceDirectory;
    std::unique_ptr<QTemporaryFile> m_receiving;
    QString m_receivingName;
    qint64 m_receivingSize = 0;
    qint64 m_receivedBytes = 0;
};

} // namespace ovalis
