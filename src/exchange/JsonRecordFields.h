#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QVarLengthArray>
#include <functional>
#include <optional>
#include <utility>

namespace ovalis {

// The members of one JSON object of a backup file, looked up by field name
// after their keys were converted from snake case. Keys that name no field
// are never asked for, so they are ignored. The first failure is kept, with
// the record it was found in, and later reads do nothing.
class JsonRecordFields
{
public:
    // recordName names the object in messages ("case record 3"), asked only
    // when something fails; a value that is not an object fails at once.
    JsonRecordFields(const QJsonValue &value, std::function<QString()> recordName);

    // Strings holding a lone UTF-16 surrogate fail like mistyped values.
    // A string that must be present.
    QString requiredString(const QString &field);
    // A string, null or missing (no value).
    std::optional<QString> optionalString(const QString &field);
    // An array, null or missing (no value).
    std::optional<QJsonArray> optionalArray(const QString &field);

    bool failed() const { return !m_error.isEmpty(); }
    QString error() const { return m_error; }
    void fail(const QString &message);

private:
    // The value, or nothing when missing or null.
    std::optional<QJsonValue> value(const QString &field) const;
    void wrongType(const QString &field, const char *expected);
    std::optional<QString> string(const QString &field, bool required);

    // A record has a handful of members: a short list searched in order is
    // cheaper than a hash. A repeated key keeps its last value.
    QVarLengthArray<std::pair<QString, QJsonValue>, 12> m_values;
    std::function<QString()> m_recordName;
    QString m_error;
};

} // namespace ovalis
