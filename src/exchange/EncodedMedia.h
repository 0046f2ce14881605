#pragma once

#include <QJsonObject>
#include <QString>
#include <functional>
#include <optional>

namespace ovalis {

class JsonRecordFields;
class Media;

// One media record of a backup file: its uuid, the name of the file it was
// added from and its creation date as a calendar date. The file's contents
// are not part of a backup.
struct EncodedMedia {
    QString identifier;
    std::optional<QString> filename;
    std::optional<QString> dateOfCreation; // "yyyy-MM-dd"

    // Nothing for a media without a uuid, or with one that is not in the
    // 8-4-4-4-12 form (logged).
    static std::optional<EncodedMedia> fromMedia(const Media *media);
    // Reads one media object; recordName names it in the message of a
    // failure. The identifier must be a uuid (either letter case); it is
    // kept in upper case.
    static std::optional<EncodedMedia> fromJson(const QJsonValue &value, const std::function<QString()> &recordName, QString *error);

    // Appends the object as pretty-printed JSON, its members indented by indent spaces.
    void appendJson(QString &text, int indent) const;

    friend bool operator==(const EncodedMedia &, const EncodedMedia &) = default;
};

} // namespace ovalis
