#include "exchange/JsonRecordFields.h"

#include <QHash>
#include <QJsonArray>
#include <algorithm>

#include "exchange/JsonText.h"

namespace ovalis {

namespace {

// The field name of a key; records repeat the same few keys, so each
// thread remembers its conversions.
QString fieldName(const QString &key)
{
    thread_local QHash<QString, QString> converted;
    const auto known = converted.constFind(key);
    if (known != converted.constEnd())
        return *known;
    const QString field = JsonText::camelCaseFromSnakeCase(key);
    if (converted.size() < 256)
        converted.insert(key, field);
    return field;
}

} // namespace

JsonRecordFields::JsonRecordFields(const QJsonValue &value, std::function<QString()> recordName)
    : m_recordName(std::move(recordName))
{
    if (!value.isObject()) {
        fail(QStringLiteral("not an object"));
        return;
    }
    const QJsonObject object = value.toObject();
    for (auto it = object.begin(); it != object.end(); ++it) {
        const QString field = fieldName(it.key());
        const auto same = std::find_if(m_values.begin(), m_values.end(), [&](const auto &entry) { return entry.first == field; });
        if (same != m_values.end())
            same->second = it.value();
        else
            m_values.append({field, it.value()});
    }
}

std::optional<QJsonValue> JsonRecordFields::value(const QString &field) const
{
    const auto it = std::find_if(m_values.cbegin(), m_values.cend(), [&](const auto &entry) { return entry.first == field; });
    if (it == m_values.cend() || it->second.isNull() || it->second.isUndefined())
        return std::nullopt;
    return it->second;
}

void JsonRecordFields::fail(const QString &message)
{
    if (m_error.isEmpty())
        m_error = m_recordName() + QStringLiteral(": ") + message;
}

void JsonRecordFields::wrongType(const QString &field, const char *expected)
{
    fail(QStringLiteral("\"%1\" is not %2").arg(JsonText::snakeCase(field), QLatin1String(expected)));
}

std::optional<QString> JsonRecordFields::string(const QString &field, bool required)
{
    if (failed())
        return std::nullopt;
    const std::optional<QJsonValue> found = value(field);
    if (!found) {
        if (required)
            fail(QStringLiteral("the key \"%1\" is missing").arg(JsonText::snakeCase(field)));
        return std::nullopt;
    }
    if (!found->isString()) {
        wrongType(field, "a string");
        return std::nullopt;
    }
    // An empty string stays distinct from a missing value.
    const QString text = found->toString();
    // Half of a surrogate pair is no character: stored, it would become "?".
    if (!text.isValidUtf16()) {
        fail(QStringLiteral("\"%1\" holds a lone UTF-16 surrogate").arg(JsonText::snakeCase(field)));
        return std::nullopt;
    }
    return text.isNull() ? QStringLiteral("") : text;
}

QString JsonRecordFields::requiredString(const QString &field)
{
    return string(field, true).value_or(QString());
}

std::optional<QString> JsonRecordFields::optionalString(const QString &field)
{
    return string(field, false);
}

std::optional<QJsonArray> JsonRecordFields::optionalArray(const QString &field)
{
    if (failed())
        return std::nullopt;
    const std::optional<QJsonValue> found = value(field);
    if (!found)
        return std::nullopt;
    if (!found->isArray()) {
        wrongType(field, "an array");
        return std::nullopt;
    }
    return found->toArray();
}

} // namespace ovalis
