#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

#include "exchange/EncodedMedia.h"

namespace ovalis {

class Case;
class Media;

// One case of a backup file. Dates are calendar dates ("yyyy-MM-dd" in the
// local time zone), sex one of "v", "male", "female", "non-binary", and the
// tags one comma-joined string of labels.
struct EncodedCase {
    QString patientIdentifier; // empty for a case without one
    QString sex;
    std::optional<QString> dateOfBirth;
    std::optional<QString> dateOfDiagnosis;
    std::optional<QString> dateAdded;
    std::optional<QString> summary;
    std::optional<QString> detail;
    QString tags;
    std::optional<QList<EncodedMedia>> media; // in display order; absent for a case without media

    // Every case gives a record; one without a patient identifier is written
    // with an empty one, so that a restore brings it back.
    static EncodedCase fromCase(const Case *item);
    // The same with the case's tag labels and its media in display order
    // given, as an export of many cases gathers them for all at once.
    static EncodedCase fromCase(const Case *item, const QStringList &tagLabels, const QList<Media *> &sortedMedia);
    // Reads the case object that is record number (from 1) of its file; the
    // number names it in the message of a failure.
    static std::optional<EncodedCase> fromJson(const QJsonValue &value, qsizetype number, QString *error);

    // The patient identifier to give a restored case: none for an empty one.
    QString restoredPatientID() const;
    // The labels of tags, split at every comma; empty pieces give no tag.
    QStringList tagLabels() const;
    // The sex value the string names exactly (case included), if any.
    std::optional<int> sexValue() const;

    // Appends the object as pretty-printed JSON, its members indented by indent spaces.
    void appendJson(QString &text, int indent) const;

    friend bool operator==(const EncodedCase &, const EncodedCase &) = default;
};

// A whole backup file: a JSON array of case objects.
namespace BackupFile {
// Pretty-printed UTF-16 (little-endian) with a byte-order mark.
QByteArray encode(const QList<EncodedCase> &cases);
// The pieces of encode(), for writing a large backup in parts that are
// encoded apart: the opening, the text of consecutive cases (first: whether
// they start the array), the closing (empty: whether the array had no case),
// and the file's bytes for a piece of text.
QString opening();
QString casesText(const QList<EncodedCase> &cases, bool first);
QString closing(bool empty);
QByteArray fileBytes(const QString &text);
// UTF-8, or UTF-16 with a byte-order mark. Any missing required key or
// wrongly typed value fails the whole file, with a message naming the record.
std::optional<QList<EncodedCase>> decode(QByteArray data, QString *error);
} // namespace BackupFile

} // namespace ovalis
