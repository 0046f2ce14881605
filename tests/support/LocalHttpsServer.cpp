#include "support/LocalHttpsServer.h"

#include <QSslConfiguration>
#include <QSslSocket>

namespace ovalis::test {

LocalHttpsServer::LocalHttpsServer(QObject *parent)
    : QObject(parent)
    , m_certificate(TestCertificate::generate())
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(m_certificate.certificate);
    configuration.setPrivateKey(m_certificate.privateKey);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    m_server.setSslConfiguration(configuration);
    connect(&m_server, &QTcpServer::pendingConnectionAvailable, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection())
            serve(socket);
    });
}

bool LocalHttpsServer::listen()
{
    return m_server.listen(QHostAddress::LocalHost);
}

quint16 LocalHttpsServer::port() const
{
    return m_server.serverPort();
}

QString LocalHttpsServer::url(const QString &path, const QString &host) const
{
    return QStringLiteral("https://%1:%2%3").arg(host).arg(port()).arg(path);
}

void LocalHttpsServer::serve(QTcpSocket *socket)
{
    auto buffer = std::make_shared<QByteArray>();
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer] {
        buffer->append(socket->readAll());
        const qsizetype end = buffer->indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QList<QByteArray> lines = buffer->left(end).split('\n');
        buffer->remove(0, end + 4);
        Request request;
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        request.path = requestLine.value(1);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines.at(i).indexOf(':');
            if (colon > 0)
                request.headers[lines.at(i).left(colon).trimmed().toLower()].append(lines.at(i).mid(colon + 1).trimmed());
        }
        m_requests.append(request);
        const Response response = m_routes.value(request.path, Response{404, QByteArrayLiteral("not found"), {}});
        QByteArray reply = "HTTP/1.1 " + QByteArray::number(response.status) + " Test\r\n";
        for (const auto &[name, value] : response.headers)
            reply += name + ": " + value + "\r\n";
        reply += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\nConnection: close\r\n\r\n";
        reply += response.body;
        socket->write(reply);
        socket->disconnectFromHost();
    });
}

} // namespace ovalis::test
