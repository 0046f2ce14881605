#include "support/TestCertificate.h"

#include <functional>
#include <memory>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <stdexcept>

namespace ovalis::test {

namespace {

using KeyPointer = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

QByteArray readBio(const std::function<int(BIO *)> &write)
{
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), &BIO_free);
    if (!bio || write(bio.get()) != 1)
        throw std::runtime_error("could not write PEM");
    char *data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, static_cast<qsizetype>(length));
}

void addExtension(X509 *certificate, int nid, const char *value)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    X509_EXTENSION *extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    if (!extension)
        throw std::runtime_error("could not make certificate extension");
    X509_add_ext(certificate, extension, -1);
    X509_EXTENSION_free(extension);
}

} // namespace

TestCertificate TestCertificate::generate()
{
    KeyPointer key(EVP_EC_gen("P-256"), &EVP_PKEY_free);
    std::unique_ptr<X509, decltype(&X509_free)> certificate(X509_new(), &X509_free);
    if (!key || !certificate)
        throw std::runtime_error("could not make a key");
    X509 *x509 = certificate.get();
    X509_set_version(x509, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x509), 1);
    X509_gmtime_adj(X509_getm_notBefore(x509), -3600);
    X509_gmtime_adj(X509_getm_notAfter(x509), 24 * 3600);
    X509_set_pubkey(x509, key.get());
    X509_NAME *name = X509_get_subject_name(x509);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>("localhost"), -1, -1, 0);
    X509_set_issuer_name(x509, name);
    addExtension(x509, NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1");
    addExtension(x509, NID_basic_constraints, "critical,CA:TRUE");
    if (X509_sign(x509, key.get(), EVP_sha256()) == 0)
        throw std::runtime_error("could not sign the certificate");

    TestCertificate result;
    result.certificate = QSslCertificate(readBio([&](BIO *bio) { return PEM_write_bio_X509(bio, x509); }));
    result.privateKey = QSslKey(readBio([&](BIO *bio) {
                                    return PEM_write_bio_PrivateKey(bio, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
                                }),
                                QSsl::Ec);
    return result;
}

TestSigningKey TestSigningKey::generate()
{
    KeyPointer key(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"), &EVP_PKEY_free);
    if (!key)
        throw std::runtime_error("could not make an Ed25519 key");
    QByteArray publicKey(32, '\0');
    size_t length = static_cast<size_t>(publicKey.size());
    EVP_PKEY_get_raw_public_key(key.get(), reinterpret_cast<unsigned char *>(publicKey.data()), &length);
    TestSigningKey result;
    result.publicKeyBase64 = QString::fromLatin1(publicKey.toBase64());
    result.privateKeyPem = readBio([&](BIO *bio) {
        return PEM_write_bio_PrivateKey(bio, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
    });
    return result;
}

QString TestSigningKey::signBase64(const QByteArray &data) const
{
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(privateKeyPem.constData(), static_cast<int>(privateKeyPem.size())), &BIO_free);
    KeyPointer key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr), &EVP_PKEY_free);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    QByteArray signature(64, '\0');
    size_t length = static_cast<size_t>(signature.size());
    if (!key || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1
        || EVP_DigestSign(context.get(), reinterpret_cast<unsigned char *>(signature.data()), &length,
                          reinterpret_cast<const unsigned char *>(data.constData()), static_cast<size_t>(data.size()))
            != 1)
        throw std::runtime_error("could not sign");
    return QString::fromLatin1(signature.toBase64());
}

} // namespace ovalis::test
