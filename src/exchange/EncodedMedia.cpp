#include "exchange/EncodedMedia.h"

#include "exchange/CalendarDateText.h"
#include "exchange/JsonRecordFields.h"
#include "exchange/JsonText.h"
#include "store/Media.h"
#include "store/MediaUuid.h"
#include "util/Log.h"

namespace ovalis {

std::optional<EncodedMedia> EncodedMedia::fromMedia(const Media *media)
{
    const QString uuid = media->uuid();
    if (uuid.isEmpty())
        return std::nullopt;
    // A restore refuses a file holding an identifier that is not a uuid; the
    // record is left out so that the rest of the backup can be restored.
    if (!MediaUuid::isValid(uuid)) {
        Log::error(LogArea::Filing, QStringLiteral("Left out of the backup, its identifier is not a UUID: ") + media->description());
        return std::nullopt;
    }
    EncodedMedia encoded;
    encoded.identifier = uuid;
    const QString fileName = media->fileName();
    if (!fileName.isNull())
        encoded.filename = fileName;
    const QString created = CalendarDateText::format(media->creationDate());
    if (!created.isEmpty())
        encoded.dateOfCreation = created;
    return encoded;
}

std::optional<EncodedMedia> EncodedMedia::fromJson(const QJsonValue &value, const std::function<QString()> &recordName,
                                                   QString *error)
{
    JsonRecordFields fields(value, recordName);
    EncodedMedia media;
    media.identifier = fields.requiredString(QStringLiteral("identifier"));
    media.filename = fields.optionalString(QStringLiteral("filename"));
    media.dateOfCreation = fields.optionalString(QStringLiteral("dateOfCreation"));
    if (!fields.failed()) {
        // The identifier names the media's file; nothing but a uuid may.
        if (const std::optional<QString> uuid = MediaUuid::canonical(media.identifier))
            media.identifier = *uuid;
        else
            fields.fail(QStringLiteral("\"identifier\" is not a UUID"));
    }
    if (fields.failed()) {
        *error = fields.error();
        return std::nullopt;
    }
    return media;
}

void EncodedMedia::appendJson(QString &text, int indent) const
{
    text += QLatin1Char('{');
    JsonText::beginMember(text, indent, QLatin1StringView("identifier"), true);
    JsonText::appendString(text, identifier);
    if (filename) {
        JsonText::beginMember(text, indent, QLatin1StringView("filename"), false);
        JsonText::appendString(text, *filename);
    }
    if (dateOfCreation) {
        JsonText::beginMember(text, indent, QLatin1StringView("date_of_creation"), false);
        JsonText::appendString(text, *dateOfCreation);
    }
    JsonText::endObject(text, indent);
}

} // namespace ovalis
