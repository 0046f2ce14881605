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

    // The code the two users compare is drawn from both certificates and a
    // random nonce from each side. Each side commits to its nonce (sends its
    // hash) before it sees the other's and reveals it only after, so a
    // machine in the middle cannot pick certificates or nonces that make the
    // codes of its two connections agree: they agree by chance, one time in
    // a million, for each attempt the users see.
    static constexpr int nonceSize = 32;
    static QByteArray makeNonce();
    static QByteArray commitment(const QByteArray &nonce);
    // Six digits, grouped "123 456"; the same whichever side computes it.
    static QString verificationCode(const QSslCertificate &own, const QByteArray &ownNonce, const QSslCertificate &other,
                                    const QByteArray &otherNonce);

private:
    QSslKey m_key;
    QSslCertificate m_certificate;
};

} // namespace ovalis
