#include "transfer/PeerChannel.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSslConfiguration>
#include <QStorageInfo>

#include "transfer/MediaRequestMessage.h"
#include "transfer/PeerCertificate.h"

namespace ovalis {

namespace {

// Small enough that the chunk, its encrypted form and the socket's buffers
// stay in the processor's cache and out of the allocator's mapped blocks:
// 512 KB chunks cost each side half as much CPU again. Receivers take any
// size up to PeerFrame::maximumPayloadSize.
constexpr qint64 chunkSize = 64 * 1024;
// Chunks are read while less than this is waiting to be written.
constexpr qint64 writeWindow = 2 * 1024 * 1024;
// What the socket reads ahead of the frames handled: two chunk frames.
constexpr qint64 readBufferSize = 2 * (chunkSize + PeerFrame::headerSize);

} // namespace

PeerChannel::PeerChannel(QSslSocket *socket, const PeerCertificate &identity, QByteArray helloPayload)
    : m_socket(socket)
    , m_helloPayload(std::move(helloPayload))
    , m_nonce(PeerCertificate::makeNonce())
{
    m_socket->setParent(this);
    m_reader.setMaximumPayloadSize(PeerFrame::maximumPayloadSizeBeforeJoining);
    configure(identity);
    connect(m_socket, &QSslSocket::encrypted, this, [this] {
        // The code covers both certificates: a peer that shows none is not one.
        if (m_socket->peerCertificate().isNull()) {
            fail(QStringLiteral("the peer presented no certificate"));
            return;
        }
        emit secured(addressOf(*m_socket));
        sendHello();
    });
    connect(m_socket, &QSslSocket::readyRead, this, &PeerChannel::readFrames);
    connect(m_socket, &QSslSocket::encryptedBytesWritten, this, &PeerChannel::pump);
    connect(m_socket, &QSslSocket::sslErrors, this, [this](const QList<QSslError> &errors) {
        // Self-signed certificates are expected: the users compare the
        // verification code instead. Anything else ends the connection.
        QList<QSslError> expected;
        for (const QSslError &error : errors) {
            switch (error.error()) {
            case QSslError::SelfSignedCertificate:
            case QSslError::SelfSignedCertificateInChain:
            case QSslError::HostNameMismatch:
            case QSslError::CertificateUntrusted:
            case QSslError::UnableToGetLocalIssuerCertificate:
            case QSslError::UnableToVerifyFirstCertificate:
                expected.append(error);
                break;
            default:
                break;
            }
        }
        m_socket->ignoreSslErrors(expected);
    });
    connect(m_socket, &QSslSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) { fail(m_socket->errorString()); });
    connect(m_socket, &QSslSocket::disconnected, this, [this] { fail(QStringLiteral("the peer closed the connection")); });
}

PeerChannel::~PeerChannel()
{
    m_socket->disconnect(this);
}

void PeerChannel::configure(const PeerCertificate &identity)
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setProtocol(QSsl::TlsV1_3OrLater);
    configuration.setLocalCertificate(identity.certificate());
    configuration.setPrivateKey(identity.key());
    // Both sides present a certificate; neither can be checked against an
    // authority, so the check is the users' comparison of the code.
    configuration.setPeerVerifyMode(QSslSocket::QueryPeer);
    m_socket->setSslConfiguration(configuration);
    // Bytes wait in the kernel rather than in this process when files arrive
    // faster than they are written.
    m_socket->setReadBufferSize(readBufferSize);
    // Requests are small and answered one at a time: Nagle's algorithm would
    // hold each back for the peer's delayed acknowledgement. The option only
    // takes on a connected socket.
    const auto noDelay = [this] { m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1); };
    noDelay();
    connect(m_socket, &QSslSocket::connected, this, noDelay);
}

void PeerChannel::startServer()
{
    // A client that shows no certificate fails the handshake (the expected
    // errors ignored below do not include a missing certificate).
    m_socket->setPeerVerifyMode(QSslSocket::VerifyPeer);
    m_socket->startServerEncryption();
}

void PeerChannel::connectToHost(const QString &host, quint16 port)
{
    m_socket->connectToHostEncrypted(host, port);
}

QString PeerChannel::addressOf(const QAbstractSocket &socket)
{
    QHostAddress address = socket.peerAddress();
    bool ok = false;
    const QHostAddress v4(address.toIPv4Address(&ok));
    return ok ? v4.toString() : address.toString();
}

qint64 PeerChannel::pendingBytes() const
{
    return m_socket->bytesToWrite() + m_socket->encryptedBytesToWrite();
}

void PeerChannel::send(PeerFrame::Type type, const QByteArray &payload)
{
    if (m_closed)
        return;
    m_socket->write(PeerFrame::encode(type, payload));
}

void PeerChannel::setJoined(bool joined)
{
    m_acceptsResources = joined;
    m_reader.setMaximumPayloadSize(joined ? PeerFrame::maximumPayloadSize : PeerFrame::maximumPayloadSizeBeforeJoining);
}

void PeerChannel::sendHello()
{
    if (m_helloSent)
        return;
    m_helloSent = true;
    QJsonObject hello = QJsonDocument::fromJson(m_helloPayload).object();
    hello.insert(QStringLiteral("commitment"), QString::fromLatin1(PeerCertificate::commitment(m_nonce).toHex()));
    send(PeerFrame::Type::Hello, QJsonDocument(hello).toJson(QJsonDocument::Compact));
}

void PeerChannel::sendFile(const QString &path, const QString &resourceName)
{
    m_outgoing.enqueue({path, resourceName});
    QMetaObject::invokeMethod(this, &PeerChannel::pump, Qt::QueuedConnection);
}

void PeerChannel::close()
{
    if (m_closed)
        return;
    // What is already written (a decline, say) still goes out before the close.
    finish(QStringLiteral("the session was left"));
    m_socket->disconnectFromHost();
}

void PeerChannel::fail(const QString &reason)
{
    if (m_closed)
        return;
    m_socket->abort();
    finish(reason);
}

void PeerChannel::finish(const QString &reason)
{
    m_closed = true;
    if (m_sending)
        finishOutgoing(false, reason);
    while (!m_outgoing.isEmpty()) {
        m_outgoing.dequeue();
        emit fileSent(false, reason);
    }
    m_receiving.reset();
    emit closed(reason);
}

void PeerChannel::finishOutgoing(bool sent, const QString &error)
{
    m_sending.reset();
    emit fileSent(sent, error);
}

void PeerChannel::pump()
{
    while (!m_closed && m_socket->isEncrypted() && pendingBytes() < writeWindow) {
        if (!m_sending) {
            if (m_outgoing.isEmpty())
                return;
            const OutgoingFile next = m_outgoing.dequeue();
            auto file = std::make_unique<QFile>(next.path);
            if (!file->open(QIODevice::ReadOnly)) {
                emit fileSent(false, file->errorString());
                continue;
            }
            const QJsonObject begin{{QStringLiteral("name"), next.name}, {QStringLiteral("size"), file->size()}};
            send(PeerFrame::Type::ResourceBegin, QJsonDocument(begin).toJson(QJsonDocument::Compact));
            m_sending = std::move(file);
        }
        // The socket keeps the chunk itself rather than a copy of it.
        const QByteArray chunk = m_sending->read(chunkSize);
        if (chunk.isEmpty()) {
            if (m_sending->error() != QFileDevice::NoError) {
                // The receiver cannot be told to drop half a file: end the connection.
                fail(m_sending->errorString());
                return;
            }
            send(PeerFrame::Type::ResourceEnd);
            finishOutgoing(true, QString());
            continue;
        }
        m_socket->write(PeerFrame::header(PeerFrame::Type::ResourceChunk, chunk.size()));
        m_socket->write(chunk);
    }
}

void PeerChannel::readFrames()
{
    while (!m_closed) {
        m_reader.readFrom(m_socket);
        const std::optional<PeerFrameView> frame = m_reader.nextView();
        if (!frame)
            break;
        handle(*frame);
    }
    if (m_reader.failed())
        fail(m_reader.error());
}

void PeerChannel::handleGreeting(const PeerFrameView &frame)
{
    if (m_remoteCommitment.isEmpty()) {
        const QJsonObject hello = QJsonDocument::fromJson(frame.payload.toByteArray()).object();
        const QString id = hello.value(QStringLiteral("id")).toString();
        const QByteArray commitment = QByteArray::fromHex(hello.value(QStringLiteral("commitment")).toString().toLatin1());
        if (frame.type != PeerFrame::Type::Hello || id.isEmpty()) {
            fail(QStringLiteral("the peer did not greet"));
            return;
        }
        // Without a commitment the code would rest on the certificates alone,
        // which a machine in the middle can choose to match.
        if (commitment.size() != QCryptographicHash::hashLength(QCryptographicHash::Sha256)) {
            fail(QStringLiteral("the peer's greeting holds no commitment"));
            return;
        }
        m_greeting.peer = {id, hello.value(QStringLiteral("name")).toString()};
        m_greeting.listeningPort = quint16(hello.value(QStringLiteral("port")).toInt());
        if (hello.value(QStringLiteral("info")).isObject()) {
            DiscoveryInfo info;
            const QJsonObject object = hello.value(QStringLiteral("info")).toObject();
            for (auto it = object.begin(); it != object.end(); ++it)
                info.insert(it.key(), it.value().toString());
            m_greeting.info = info;
        }
        m_remoteCommitment = commitment;
        // Our nonce goes out only now that the peer is bound to its own.
        sendHello();
        send(PeerFrame::Type::Nonce, m_nonce);
        return;
    }
    const QByteArray nonce = frame.payload.toByteArray();
    if (frame.type != PeerFrame::Type::Nonce || nonce.size() != PeerCertificate::nonceSize
        || PeerCertificate::commitment(nonce) != m_remoteCommitment) {
        fail(QStringLiteral("the peer's nonce does not match its commitment"));
        return;
    }
    m_greeting.verificationCode = PeerCertificate::verificationCode(m_socket->sslConfiguration().localCertificate(), m_nonce,
                                                                    m_socket->peerCertificate(), nonce);
    m_greeted = true;
    emit greeted(m_greeting);
}

void PeerChannel::handle(const PeerFrameView &frame)
{
    if (!m_greeted) {
        handleGreeting(frame);
        return;
    }
    switch (frame.type) {
    case PeerFrame::Type::ResourceBegin:
        beginResource(frame.payload.toByteArray());
        return;
    case PeerFrame::Type::ResourceChunk:
        if (m_receiving) {
            m_receivedBytes += frame.payload.size();
            if (m_receivedBytes > m_receivingSize
                || m_receiving->write(frame.payload.data(), frame.payload.size()) != frame.payload.size()) {
                emit resourceFailed(m_receivedBytes > m_receivingSize ? QStringLiteral("more bytes than announced")
                                                                      : m_receiving->errorString());
                m_receiving.reset();
            }
        }
        return;
    case PeerFrame::Type::ResourceEnd:
        finishResource();
        return;
    default:
        emit frameReceived(frame.type, frame.payload.toByteArray());
        return;
    }
}

void PeerChannel::finishResource()
{
    if (!m_receiving)
        return;
    if (m_receivedBytes != m_receivingSize) {
        emit resourceFailed(QStringLiteral("resource %1 ended after %2 of %3 bytes")
                                .arg(m_receivingName).arg(m_receivedBytes).arg(m_receivingSize));
        m_receiving.reset(); // removes the file
        return;
    }
    if (!m_receiving->flush()) {
        emit resourceFailed(m_receiving->errorString());
        m_receiving.reset();
        return;
    }
    // From here the file is the hand-over's to remove.
    m_receiving->setAutoRemove(false);
    const ReceivedFile file(m_receiving->fileName());
    m_receiving.reset();
    emit resourceFinished(m_receivingName, file);
}

void PeerChannel::beginResource(const QByteArray &payload)
{
    m_receiving.reset();
    if (!m_acceptsResources) {
        emit resourceFailed(QStringLiteral("refused a resource from a peer outside the session"));
        return;
    }
    const QJsonObject begin = QJsonDocument::fromJson(payload).object();
    const QString name = begin.value(QStringLiteral("name")).toString();
    const qint64 size = qint64(begin.value(QStringLiteral("size")).toDouble(-1));
    // A resource names a media by its uuid; any other name could be used
    // to place a file where it does not belong.
    if (!MediaRequestMessage::isCanonicalUuid(name)) {
        emit resourceFailed(QStringLiteral("refused a resource whose name is not a UUID: '%1'").arg(name.left(64)));
        return;
    }
    if (size < 0) {
        emit resourceFailed(QStringLiteral("resource %1 without a size").arg(name));
        return;
    }
    const QString directory = !m_resourceDirectory.isEmpty() && QFileInfo(m_resourceDirectory).isDir() ? m_resourceDirectory : QDir::tempPath();
    const QStorageInfo storage(directory);
    if (storage.isValid() && storage.bytesAvailable() >= 0 && size > storage.bytesAvailable()) {
        emit resourceFailed(QStringLiteral("resource %1 of %2 bytes does not fit in the free disk space").arg(name).arg(size));
        return;
    }
    auto file = std::make_unique<QTemporaryFile>(directory + QStringLiteral("/.ovalis-resource-XXXXXX"));
    if (!file->open()) {
        emit resourceFailed(file->errorString());
        return;
    }
    m_receiving = std::move(file);
    m_receivingName = name;
    m_receivingSize = size;
    m_receivedBytes = 0;
    emit resourceStarted(name, size);
}

} // namespace ovalis
