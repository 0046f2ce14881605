#include "exchange/EncodedMedia.h"

#include "exchange/CalendarDateText.h"
#include "exchange/JsonRecordFields.h"
#include "exchange/JsonText.h"
#include "store/Media.h"

namespace ovalis {

std::optional<EncodedMedia> EncodedMedia::fromMedia(const Media *media)
{
    const QString uuid = media->uuid();
    if (uuid.isEmpty())
        return std::nullopt;
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
