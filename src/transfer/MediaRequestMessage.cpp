#include "transfer/MediaRequestMessage.h"

#include <QRegularExpression>
#include <QVariantMap>

#include "store/MediaUuid.h"
#include "util/KeyedArchive.h"

namespace ovalis {

namespace {

const QString uuidKey = QStringLiteral("UUID");
const QString extensionKey = QStringLiteral("File_Extension");

} // namespace

std::optional<QByteArray> MediaRequestMessage::encode(QString *error) const
{
    QVariantMap dictionary;
    dictionary.insert(uuidKey, uuid.isNull() ? QStringLiteral("") : uuid);
    dictionary.insert(extensionKey, fileExtension.isNull() ? QStringLiteral("") : fileExtension);
    return KeyedArchive::archive(dictionary, error);
}

MediaRequestMessage::DecodeResult MediaRequestMessage::decode(const QByteArray &data, MediaRequestMessage *message,
                                                              QString *error)
{
    const std::optional<QVariant> root = KeyedArchive::unarchive(data, error);
    if (!root)
        return DecodeResult::Undecodable;
    // Only a dictionary whose every value is a string is a message.
    if (root->typeId() != QMetaType::QVariantMap)
        return DecodeResult::Ignored;
    const QVariantMap dictionary = root->toMap();
    for (auto it = dictionary.cbegin(); it != dictionary.cend(); ++it) {
        if (it.value().typeId() != QMetaType::QString)
            return DecodeResult::Ignored;
    }
    if (!dictionary.contains(uuidKey) || !dictionary.contains(extensionKey))
        return DecodeResult::Ignored;
    if (message)
        *message = {dictionary.value(uuidKey).toString(), dictionary.value(extensionKey).toString()};
    return DecodeResult::Decoded;
}

bool MediaRequestMessage::isCanonicalUuid(const QString &text)
{
    return MediaUuid::isValid(text);
}

bool MediaRequestMessage::isPlainExtension(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("\\A[A-Za-z0-9_-]{0,16}\\z"));
    return pattern.match(text).hasMatch();
}

} // namespace ovalis
