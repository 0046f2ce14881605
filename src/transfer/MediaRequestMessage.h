#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace ovalis {

// The message both sides of a media transfer exchange: a keyed archive of a
// string dictionary with "UUID" and "File_Extension". A request names the
// media wanted; the not-available reply is the same dictionary with an empty
// "UUID".
struct MediaRequestMessage {
    QString uuid;
    QString fileExtension;

    bool isNotAvailableReply() const { return uuid.isEmpty(); }
    MediaRequestMessage notAvailableReply() const { return {QString(), fileExtension}; }

    // Nothing, with a message in error, when archiving fails.
    std::optional<QByteArray> encode(QString *error = nullptr) const;

    enum class DecodeResult { Decoded, Undecodable, Ignored };
    // Undecodable: not a keyed archive (error says why). Ignored: an archive
    // of anything but a dictionary of strings holding both keys.
    static DecodeResult decode(const QByteArray &data, MediaRequestMessage *message, QString *error = nullptr);

    // A uuid in its canonical text form (8-4-4-4-12 hexadecimal digits), as
    // the media file store requires of every uuid it makes a path of.
    static bool isCanonicalUuid(const QString &text);
    // An extension that names nothing but an extension: letters, digits,
    // "_" and "-" only, at most 16 of them (may be empty).
    static bool isPlainExtension(const QString &text);
};

} // namespace ovalis
