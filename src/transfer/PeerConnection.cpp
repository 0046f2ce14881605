#include "transfer/PeerConnection.h"

#include <QSslSocket>

#include "transfer/PeerChannel.h"
#include "transfer/ReceivedFile.h"

namespace ovalis {

PeerConnection::PeerConnection(QSslSocket *socket, const PeerCertificate &identity, QByteArray helloPayload, QObject *parent)
    : QObject(parent)
{
    // (Fifteen characters: what the kernel keeps of a thread's name.)
    m_thread.setObjectName(QStringLiteral("Peer connection"));
    if (socket->state() == QAbstractSocket::ConnectedState)
        m_remoteAddress = PeerChannel::addressOf(*socket);
    socket->setParent(nullptr);
    m_channel = new PeerChannel(socket, identity, std::move(helloPayload));
    // The socket goes along as the channel's child. An accepted one's
    // notifiers wake again only once the thread's loop runs, after the
    // startServer() posted before the thread starts.
    m_channel->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_channel, &QObject::deleteLater);
    connect(m_channel, &PeerChannel::secured, this, [this](const QString &address) {
        m_encrypted = true;
        m_remoteAddress = address;
    });
    connect(m_channel, &PeerChannel::greeted, this, &PeerConnection::channelGreeted);
    connect(m_channel, &PeerChannel::frameReceived, this, [this](PeerFrame::Type type, const QByteArray &payload) {
        if (!m_closed)
            emit frameReceived(type, payload);
    });
    connect(m_channel, &PeerChannel::resourceStarted, this, [this](const QString &name, qint64 size) {
        if (!m_closed)
            emit resourceStarted(name, size);
    });
    connect(m_channel, &PeerChannel::resourceFinished, this, &PeerConnection::channelFinishedResource);
    connect(m_channel, &PeerChannel::resourceFailed, this, &PeerConnection::resourceFailed);
    connect(m_channel, &PeerChannel::fileSent, this, &PeerConnection::fileSent);
    connect(m_channel, &PeerChannel::closed, this, &PeerConnection::channelClosed);
}

PeerConnection::~PeerConnection()
{
    QObject::disconnect(m_channel, nullptr, this, nullptr);
    // Ending the thread deletes the channel there, and with it the socket
    // and a half-received file; what it reported and nobody took goes too.
    startThread();
    m_thread.quit();
    m_thread.wait();
}

template<class Work> void PeerConnection::post(Work work)
{
    QMetaObject::invokeMethod(m_channel, [channel = m_channel, work = std::move(work)] { work(channel); }, Qt::QueuedConnection);
}

void PeerConnection::startThread()
{
    if (!m_thread.isRunning())
        m_thread.start();
}

void PeerConnection::startServer()
{
    post([](PeerChannel *channel) { channel->startServer(); });
    startThread();
}

void PeerConnection::connectToHost(const QString &host, quint16 port)
{
    post([host, port](PeerChannel *channel) { channel->connectToHost(host, port); });
    startThread();
}

void PeerConnection::send(PeerFrame::Type type, const QByteArray &payload)
{
    if (m_closed)
        return;
    post([type, payload](PeerChannel *channel) { channel->send(type, payload); });
}

void PeerConnection::sendFile(const QString &path, const QString &resourceName)
{
    post([path, resourceName](PeerChannel *channel) { channel->sendFile(path, resourceName); });
}

void PeerConnection::close()
{
    if (m_closed)
        return;
    m_closed = true;
    post([](PeerChannel *channel) { channel->close(); });
    emit closed(QStringLiteral("the session was left"));
}

void PeerConnection::setJoined(bool joined)
{
    post([joined](PeerChannel *channel) { channel->setJoined(joined); });
}

void PeerConnection::setResourceDirectory(const QString &path)
{
    post([path](PeerChannel *channel) { channel->setResourceDirectory(path); });
}

void PeerConnection::channelGreeted(const PeerGreeting &greeting)
{
    if (m_closed)
        return;
    m_greeting = greeting;
    emit greeted();
}

void PeerConnection::channelFinishedResource(const QString &name, const ReceivedFile &file)
{
    // The file goes with the last copy of file, the one this call was queued with.
    if (!m_closed)
        emit resourceFinished(name, file.path());
}

void PeerConnection::channelClosed(const QString &reason)
{
    if (m_closed)
        return;
    m_closed = true;
    emit closed(reason);
}

} // namespace ovalis
