#include "util/UpdateSignature.h"

#include <memory>
#include <openssl/evp.h>

namespace ovalis {

namespace {

constexpr int ed25519KeyLength = 32;
constexpr int ed25519SignatureLength = 64;

bool fail(QString *error, const QString &reason)
{
    if (error)
        *error = reason;
    return false;
}

QByteArray strictBase64(const QString &text)
{
    const auto result = QByteArray::fromBase64Encoding(text.trimmed().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    return result ? *result : QByteArray();
}

} // namespace

bool UpdateSignature::verify(const QByteArray &data, const QString &signatureBase64, const QString &publicKeyBase64, QString *error)
{
    const QByteArray key = strictBase64(publicKeyBase64);
    if (key.size() != ed25519KeyLength)
        return fail(error, QStringLiteral("The update public key of this build is not a valid Ed25519 key."));
    const QByteArray signature = strictBase64(signatureBase64);
    if (signature.size() != ed25519SignatureLength)
        return fail(error, QStringLiteral("The update's signature is not a valid Ed25519 signature."));

    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> publicKey(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char *>(key.constData()),
                                    static_cast<size_t>(key.size())),
        &EVP_PKEY_free);
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!publicKey || !context || EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, publicKey.get()) != 1)
        return fail(error, QStringLiteral("The update's signature could not be checked."));
    const int verified = EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char *>(signature.constData()),
                                          static_cast<size_t>(signature.size()),
                                          reinterpret_cast<const unsigned char *>(data.constData()), static_cast<size_t>(data.size()));
    if (verified != 1)
        return fail(error, QStringLiteral("The downloaded update does not match its signature."));
    return true;
}

} // namespace ovalis
