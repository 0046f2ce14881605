#pragma once

#include <QFile>
#include <QObject>
#include <QQueue>
#include <QSslSocket>
#include <QTemporaryFile>
#include <memory>

#include "transfer/PeerFrame.h"
#include "transfer/PeerGreeting.h"
#include "transfer/ReceivedFile.h"

namespace ovalis {

class PeerCertificate;

// The network side of one PeerConnection: the TLS 1.3 socket and the frames
// that travel over it: the greeting each side sends first (with a commitment
// to a random nonce), the nonce itself once the other side's commitment is
// in, the invitation and its answer, data messages and file resources. Both
// sides must present a certificate.
//
// Files are read and sent in chunks as the socket drains, so that only a few
// hundred kilobytes are in memory at a time; a received resource is written
// to a temporary file as it arrives and handed over once complete.
//
// Lives on its connection's network thread, where it is made to live before
// the socket connects and where it is deleted: decrypting, encrypting and
// the files' reading and writing never wait for the main thread. Every call
// comes queued from its PeerConnection; every signal reaches it queued.
class PeerChannel : public QObject
{
    Q_OBJECT

public:
    // Takes the socket: an accepted one (TLS starts with startServer) or a
    // fresh one that connectToHost() will use.
    PeerChannel(QSslSocket *socket, const PeerCertificate &identity, QByteArray helloPayload);
    ~PeerChannel() override;

    // The socket's peer address, an IPv4 one in its dotted form.
    static QString addressOf(const QAbstractSocket &socket);

    void startServer();
    void connectToHost(const QString &host, quint16 port);

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

signals:
    // The TLS handshake is done and the peer showed a certificate.
    void secured(const QString &remoteAddress);
    void greeted(const ovalis::PeerGreeting &greeting);
    void frameReceived(ovalis::PeerFrame::Type type, const QByteArray &payload);
    void resourceStarted(const QString &name, qint64 size);
    // The file is complete and closed; it goes when the last copy of file does.
    void resourceFinished(const QString &name, const ovalis::ReceivedFile &file);
    void resourceFailed(const QString &message);
    void fileSent(bool sent, const QString &error);
    void closed(const QString &reason);

private:
    void configure(const PeerCertificate &identity);
    qint64 pendingBytes() const;
    void readFrames();
    void sendHello();
    // The peer's greeting, then its nonce.
    void handleGreeting(const PeerFrameView &frame);
    void handle(const PeerFrameView &frame);
    void beginResource(const QByteArray &payload);
    void finishResource();
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
    PeerGreeting m_greeting;
    bool m_helloSent = false;
    bool m_greeted = false;
    bool m_closed = false;
    bool m_acceptsResources = false;
    QByteArray m_nonce;            // this side's, fresh for the connection
    QByteArray m_remoteCommitment; // the hash the peer's greeting gave; empty before

    QQueue<OutgoingFile> m_outgoing;
    std::unique_ptr<QFile> m_sending;

    QString m_resourceDirectory;
    std::unique_ptr<QTemporaryFile> m_receiving;
    QString m_receivingName;
    qint64 m_receivingSize = 0;
    qint64 m_receivedBytes = 0;
};

} // namespace ovalis
