#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <QSslSocket>
#include <QTcpServer>
#include <functional>
#include <memory>
#include <vector>

#include "transfer/PeerCertificate.h"
#include "transfer/PeerConnection.h"

namespace ovalis::test {

inline QByteArray json(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// A peer that speaks the frames directly, as a hostile one could: it greets
// (the connection does that by itself) and sends only what the test tells it.
class RawPeer
{
public:
    explicit RawPeer(const QString &name = QStringLiteral("Raw"), const QString &id = QStringLiteral("raw"), QSslSocket *socket = new QSslSocket)
        : m_identity(PeerCertificate::generate(name))
        , m_connection(socket, m_identity, json({{QStringLiteral("id"), id}, {QStringLiteral("name"), name}}))
    {
        QObject::connect(&m_connection, &PeerConnection::greeted, [this] { greeted = true; });
        QObject::connect(&m_connection, &PeerConnection::closed, [this] { closed = true; });
        QObject::connect(&m_connection, &PeerConnection::frameReceived, [this](PeerFrame::Type type, const QByteArray &payload) {
            received.append(type);
            if (type == PeerFrame::Type::Data)
                messages.append(payload);
        });
    }

    void connectTo(quint16 port) { m_connection.connectToHost(QStringLiteral("127.0.0.1"), port); }

    void sendResource(const QString &name, qint64 announcedSize, const QByteArray &bytes)
    {
        m_connection.send(PeerFrame::Type::ResourceBegin, json({{QStringLiteral("name"), name}, {QStringLiteral("size"), announcedSize}}));
        if (!bytes.isEmpty())
            m_connection.send(PeerFrame::Type::ResourceChunk, bytes);
        m_connection.send(PeerFrame::Type::ResourceEnd);
    }

    PeerConnection &connection() { return m_connection; }

    bool greeted = false;
    bool closed = false;
    QList<PeerFrame::Type> received;
    QList<QByteArray> messages;

private:
    PeerCertificate m_identity;
    PeerConnection m_connection;
};

// Hands each connection it accepts over as a TLS socket, encryption not yet started.
class TlsListener : public QTcpServer
{
public:
    std::function<void(QSslSocket *)> onConnection;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new QSslSocket(this);
        if (socket->setSocketDescriptor(descriptor))
            onConnection(socket);
        else
            delete socket;
    }
};

// Listens on the loopback and answers every connection with a RawPeer that
// accepts the invitation it gets.
class RawListener : public TlsListener
{
public:
    explicit RawListener(const QString &name = QStringLiteral("Raw"), const QString &id = QStringLiteral("raw"))
    {
        onConnection = [this, name, id](QSslSocket *socket) {
            auto peer = std::make_unique<RawPeer>(name, id, socket);
            RawPeer *raw = peer.get();
            QObject::connect(&raw->connection(), &PeerConnection::frameReceived, [raw](PeerFrame::Type type, const QByteArray &) {
                if (type == PeerFrame::Type::Invite) {
                    raw->connection().send(PeerFrame::Type::Accept);
                    raw->connection().setJoined(true);
                }
            });
            raw->connection().startServer();
            peers.push_back(std::move(peer));
        };
        listen(QHostAddress::LocalHost);
    }

    std::vector<std::unique_ptr<RawPeer>> peers;
};

} // namespace ovalis::test
