#pragma once

#include <QByteArray>
#include <QSslCertificate>
#include <QSslKey>

namespace ovalis::test {

// A self-signed certificate for "localhost" and 127.0.0.1, made afresh for a
// test's local TLS server; clients trust it by adding it as an authority.
struct TestCertificate {
    QSslCertificate certificate;
    QSslKey privateKey;

    static TestCertificate generate();
};

// An Ed25519 key pair for signing test downloads.
struct TestSigningKey {
    QString publicKeyBase64;
    QByteArray privateKeyPem;

    static TestSigningKey generate();
    QString signBase64(const QByteArray &data) const;
};

} // namespace ovalis::test
