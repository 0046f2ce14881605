#pragma once

#include <QSslCertificate>
#include <QSslKey>

namespace ovalis {

// The identity a peer presents in its TLS sessions: a fresh P-256 key and a
// self-signed certificate made for one run. Peers do not trust each other's
// certificates; the two users compare the verification code instead.
class PeerCertificate
{
public:
    // Null key and certificate (and a message in error) when OpenSSL fails.
    static PeerCertificate generate(const QString &commonName, QString *error = nullptr);

    bool isNull() const { return m_key.isNull() || m_certificate.isNull(); }
    const QSslKey &key() const { return m_key; }
    const QSslCertificate &certificate() const { return m_certificate; }

    // Six digits, grouped "123 456", derived from both certificates and the
    // same whichever side computes it.
    static QString verificationCode(const QSslCertificate &a, const QSslCertificate &b);

private:
    QSslKey m_key;
    QSslCertificate m_certificate;
};

} // namespace ovalis
