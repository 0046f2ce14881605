#include "transfer/PeerCertificate.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QtEndian>
#include <memory>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

namespace ovalis {

namespace {

template<class T, void (*Free)(T *)> struct Deleter {
    void operator()(T *p) const { Free(p); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using CertificatePtr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;

QByteArray bioContents(BIO *bio)
{
    char *data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return QByteArray(data, int(size));
}

} // namespace

PeerCertificate PeerCertificate::generate(const QString &commonName, QString *error)
{
    PeerCertificate result;
    const auto fail = [&](const char *what) {
        if (error)
            *error = QString::fromLatin1(what);
        return PeerCertificate();
    };
    KeyPtr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    if (!key)
        return fail("cannot generate a key");
    CertificatePtr certificate(X509_new());
    if (!certificate)
        return fail("cannot make a certificate");
    X509_set_version(certificate.get(), 2);
    unsigned char serial[16];
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    memcpy(serial, words, sizeof serial);
    serial[0] &= 0x7f;
    BIGNUM *number = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(number, X509_get_serialNumber(certificate.get()));
    BN_free(number);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 7L * 24 * 3600);
    X509_set_pubkey(certificate.get(), key.get());
    X509_NAME *name = X509_get_subject_name(certificate.get());
    const QByteArray cn = commonName.left(60).toUtf8();
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char *>(cn.constData()), -1, -1, 0);
    X509_set_issuer_name(certificate.get(), name);
    if (X509_sign(certificate.get(), key.get(), EVP_sha256()) == 0)
        return fail("cannot sign the certificate");

    BioPtr keyBio(BIO_new(BIO_s_mem()));
    BioPtr certificateBio(BIO_new(BIO_s_mem()));
    if (!PEM_write_bio_PrivateKey(keyBio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr)
        || !PEM_write_bio_X509(certificateBio.get(), certificate.get()))
        return fail("cannot write the key or certificate");
    result.m_key = QSslKey(bioContents(keyBio.get()), QSsl::Ec, QSsl::Pem, QSsl::PrivateKey);
    result.m_certificate = QSslCertificate(bioContents(certificateBio.get()), QSsl::Pem);
    if (result.isNull())
        return fail("cannot load the generated key or certificate");
    return result;
}

QByteArray PeerCertificate::makeNonce()
{
    quint32 words[nonceSize / 4];
    QRandomGenerator::system()->fillRange(words);
    return QByteArray(reinterpret_cast<const char *>(words), nonceSize);
}

QByteArray PeerCertificate::commitment(const QByteArray &nonce)
{
    return QCryptographicHash::hash(QByteArrayLiteral("ovalis-peer commitment\0") + nonce, QCryptographicHash::Sha256);
}

QString PeerCertificate::verificationCode(const QSslCertificate &own, const QByteArray &ownNonce, const QSslCertificate &other,
                                          const QByteArray &otherNonce)
{
    // Each side's certificate travels with its own nonce; the pairs are put
    // in one order so that both sides hash the same bytes.
    QByteArray first = own.digest(QCryptographicHash::Sha256) + ownNonce;
    QByteArray second = other.digest(QCryptographicHash::Sha256) + otherNonce;
    if (second < first)
        std::swap(first, second);
    const QByteArray digest = QCryptographicHash::hash(QByteArrayLiteral("ovalis-peer code\0") + first + second, QCryptographicHash::Sha256);
    const quint64 value = qFromBigEndian<quint64>(digest.constData()) % 1000000;
    const QString digits = QStringLiteral("%1").arg(value, 6, 10, QLatin1Char('0'));
    return digits.left(3) + QLatin1Char(' ') + digits.mid(3);
}

} // namespace ovalis
