#include "exchange/EncodedCase.h"

#include <QBuffer>
#include <QJsonArray>
#include <QSysInfo>
#include <utility>

#include "exchange/BackupReader.h"
#include "exchange/CalendarDateText.h"
#include "exchange/JsonRecordFields.h"
#include "exchange/JsonText.h"
#include "store/Case.h"
#include "store/Media.h"
#include "store/Sex.h"
#include "store/Tag.h"

namespace ovalis {

namespace {

std::optional<QString> calendarDate(const QDateTime &date)
{
    const QString text = CalendarDateText::format(date);
    return text.isEmpty() ? std::nullopt : std::optional<QString>(text);
}

std::optional<QString> optionalText(const QString &text)
{
    return text.isNull() ? std::nullopt : std::optional<QString>(text);
}

void appendOptional(QString &text, int indent, const char *key, const std::optional<QString> &value)
{
    if (!value)
        return;
    JsonText::beginMember(text, indent, QLatin1StringView(key), false);
    JsonText::appendString(text, *value);
}

} // namespace

EncodedCase EncodedCase::fromCase(const Case *item)
{
    QStringList labels;
    for (const Tag *tag : item->tags())
        labels.append(tag->label());
    return fromCase(item, labels, item->sortedMedia());
}

EncodedCase EncodedCase::fromCase(const Case *item, const QStringList &tagLabels, const QList<Media *> &media)
{
    EncodedCase encoded;
    encoded.patientIdentifier = item->patientID().isNull() ? QStringLiteral("") : item->patientID();
    encoded.sex = sexString(item->sex()).toLower();
    encoded.dateOfBirth = calendarDate(item->dateOfBirth());
    encoded.dateOfDiagnosis = calendarDate(item->dateOfDiagnosis());
    encoded.dateAdded = calendarDate(item->dateAdded());
    encoded.summary = optionalText(item->summary());
    encoded.detail = optionalText(item->detail());
    QStringList labels;
    for (const QString &label : tagLabels)
        if (!label.isEmpty())
            labels.append(label);
    encoded.tags = labels.join(QLatin1Char(','));
    if (!media.isEmpty()) {
        QList<EncodedMedia> list;
        list.reserve(media.size());
        for (const Media *m : media)
            if (std::optional<EncodedMedia> encodedMedia = EncodedMedia::fromMedia(m))
                list.append(std::move(*encodedMedia));
        encoded.media = std::move(list);
    }
    return encoded;
}

std::optional<EncodedCase> EncodedCase::fromJson(const QJsonValue &value, qsizetype number, QString *error)
{
    const auto record = [number] { return QStringLiteral("case record %1").arg(number); };
    JsonRecordFields fields(value, record);
    EncodedCase encoded;
    encoded.patientIdentifier = fields.requiredString(QStringLiteral("patientIdentifier"));
    encoded.sex = fields.requiredString(QStringLiteral("sex"));
    encoded.dateOfBirth = fields.optionalString(QStringLiteral("dateOfBirth"));
    encoded.dateOfDiagnosis = fields.optionalString(QStringLiteral("dateOfDiagnosis"));
    encoded.dateAdded = fields.optionalString(QStringLiteral("dateAdded"));
    encoded.summary = fields.optionalString(QStringLiteral("summary"));
    encoded.detail = fields.optionalString(QStringLiteral("detail"));
    encoded.tags = fields.requiredString(QStringLiteral("tags"));
    const std::optional<QJsonArray> media = fields.optionalArray(QStringLiteral("media"));
    if (fields.failed()) {
        *error = fields.error();
        return std::nullopt;
    }
    if (media) {
        QList<EncodedMedia> list;
        list.reserve(media->size());
        for (qsizetype i = 0; i < media->size(); ++i) {
            std::optional<EncodedMedia> decoded =
                EncodedMedia::fromJson(media->at(i), [&] { return record() + QStringLiteral(", media %1").arg(i + 1); }, error);
            if (!decoded)
                return std::nullopt;
            list.append(std::move(*decoded));
        }
        encoded.media = std::move(list);
    }
    return encoded;
}

QString EncodedCase::restoredPatientID() const
{
    return patientIdentifier.isEmpty() ? QString() : patientIdentifier;
}

QStringList EncodedCase::tagLabels() const
{
    return tags.split(QLatin1Char(','), Qt::SkipEmptyParts);
}

std::optional<int> EncodedCase::sexValue() const
{
    for (const Sex value : allSexes())
        if (sexString(int(value)).toLower() == sex)
            return int(value);
    return std::nullopt;
}

void EncodedCase::appendJson(QString &text, int indent) const
{
    text += QLatin1Char('{');
    JsonText::beginMember(text, indent, QLatin1StringView("patient_identifier"), true);
    JsonText::appendString(text, patientIdentifier);
    JsonText::beginMember(text, indent, QLatin1StringView("sex"), false);
    JsonText::appendString(text, sex);
    appendOptional(text, indent, "date_of_birth", dateOfBirth);
    appendOptional(text, indent, "date_of_diagnosis", dateOfDiagnosis);
    appendOptional(text, indent, "date_added", dateAdded);
    appendOptional(text, indent, "summary", summary);
    appendOptional(text, indent, "detail", detail);
    JsonText::beginMember(text, indent, QLatin1StringView("tags"), false);
    JsonText::appendString(text, tags);
    if (media) {
        JsonText::beginMember(text, indent, QLatin1StringView("media"), false);
        if (media->isEmpty()) {
            text += QLatin1String("[]");
        } else {
            text += QLatin1Char('[');
            const QString itemIndent(indent + 2, QLatin1Char(' '));
            for (qsizetype i = 0; i < media->size(); ++i) {
                text += i == 0 ? QLatin1String("\n") : QLatin1String(",\n");
                text += itemIndent;
                media->at(i).appendJson(text, indent + 4);
            }
            text += QLatin1Char('\n');
            text += QString(indent, QLatin1Char(' '));
            text += QLatin1Char(']');
        }
    }
    JsonText::endObject(text, indent);
}

namespace BackupFile {

QString opening()
{
    return QString(QChar(0xFEFF)) + QLatin1Char('[');
}

QString casesText(const QList<EncodedCase> &cases, bool first)
{
    QString text;
    text.reserve(cases.size() * 400);
    for (qsizetype i = 0; i < cases.size(); ++i) {
        text += i == 0 && first ? QLatin1String("\n  ") : QLatin1String(",\n  ");
        cases[i].appendJson(text, 4);
    }
    return text;
}

QString closing(bool empty)
{
    return empty ? QStringLiteral("\n\n]") : QStringLiteral("\n]");
}

QByteArray fileBytes(const QString &text)
{
    // QString holds UTF-16 in the machine's order, little-endian here.
    QByteArray bytes(reinterpret_cast<const char *>(text.utf16()), text.size() * qsizetype(sizeof(char16_t)));
    if constexpr (QSysInfo::ByteOrder == QSysInfo::BigEndian) {
        for (qsizetype i = 0; i + 1 < bytes.size(); i += 2)
            std::swap(bytes[i], bytes[i + 1]);
    }
    return bytes;
}

QByteArray encode(const QList<EncodedCase> &cases)
{
    return fileBytes(opening() + casesText(cases, true) + closing(cases.isEmpty()));
}

std::optional<QList<EncodedCase>> decode(QByteArray data, QString *errorMessage)
{
    QString ignored;
    QString *error = errorMessage ? errorMessage : &ignored;
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    BackupReader reader(&buffer);
    if (!reader.check(error))
        return std::nullopt;
    QList<EncodedCase> cases;
    cases.reserve(reader.count());
    for (;;) {
        std::optional<QList<EncodedCase>> batch = reader.nextBatch(reader.count(), error);
        if (!batch)
            return std::nullopt;
        if (batch->isEmpty())
            return cases;
        cases.append(std::move(*batch));
    }
}

} // namespace BackupFile

} // namespace ovalis
