#pragma once

#include <QString>
#include <QStringView>

namespace ovalis {

// The pieces of JSON text the backup writer puts together by hand, and the
// key naming of backup files: fields are named in lower camel case
// (patientIdentifier), keys in the file in snake case (patient_identifier).
class JsonText
{
public:
    // Appends value as a quoted JSON string, escaping quotes, backslashes
    // and control characters.
    static void appendString(QString &text, QStringView value);
    // Starts a member of a pretty-printed object: the separator after the
    // previous member (or after the opening brace when first), indent spaces
    // and the quoted key followed by " : ".
    static void beginMember(QString &text, int indent, QLatin1StringView key, bool first);
    // Ends a pretty-printed object whose members were indented by indent spaces.
    static void endObject(QString &text, int indent);
    // "patientIdentifier" → "patient_identifier".
    static QString snakeCase(QStringView fieldName);
    // "patient_identifier" → "patientIdentifier"; a key without an
    // underscore is left as it is, so camel-case keys are read as well.
    static QString camelCaseFromSnakeCase(const QString &key);
};

} // namespace ovalis
