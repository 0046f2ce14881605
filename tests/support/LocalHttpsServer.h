#pragma once

#include "support/TestCertificate.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSslServer>
#include <QString>

namespace ovalis::test {

// A small HTTPS server on 127.0.0.1 for tests: answers GET requests from a
// table of paths and records every request it received with its headers.
class LocalHttpsServer : public QObject
{
    Q_OBJECT

public:
    struct Response {
        int status = 200;
        QByteArray body;
        QList<QPair<QByteArray, QByteArray>> headers;
    };
    struct Request {
        QByteArray path;
        QMap<QByteArray, QList<QByteArray>> headers; // lower-case names
    };

    explicit LocalHttpsServer(QObject *parent = nullptr);

    bool listen();
    quint16 port() const;
    const TestCertificate &certificate() const { return m_certificate; }

    // An address on this server, naming it "localhost" or "127.0.0.1": two
    // host names for one server, to test what is sent to which host.
    QString url(const QString &path, const QString &host = QStringLiteral("localhost")) const;

    void route(const QByteArray &path, Response response) { m_routes.insert(path, std::move(response)); }
    const QList<Request> &requests() const { return m_requests; }

private:
    void serve(QTcpSocket *socket);

    TestCertificate m_certificate;
    QSslServer m_server;
    QHash<QByteArray, Response> m_routes;
    QList<Request> m_requests;
};

} // namespace ovalis::test
