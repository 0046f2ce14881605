#pragma once

#include <QByteArray>
#include <QString>

namespace ovalis {

// Checks an update download against the Ed25519 signature its feed item
// carries, with the public key this build was configured with.
class UpdateSignature
{
public:
    // Both keys and signatures are Base64 text, as feeds carry them. False
    // with a reason for a malformed key or signature as well as a mismatch.
    static bool verify(const QByteArray &data, const QString &signatureBase64, const QString &publicKeyBase64,
                       QString *error = nullptr);
};

} // namespace ovalis
