#include "exchange/JsonRecordFields.h"

#include <QJsonArray>

#include "exchange/JsonText.h"

namespace ovalis {

JsonRecordFields::JsonRecordFields(const QJsonValue &value, const QString &record)
    : m_record(record)
{
    if (!value.isObject()) {
        fail(QStringLiteral("not an object"));
        return;
    }
    const QJsonObject object = value.toObject();
    for (auto it = object.begin(); it != object.end(); ++it)
        m_values.insert(JsonText::camelCaseFromSnakeCase(it.key()), it.value());
}

std::optional<QJsonValue> JsonRecordFields::value(const QString &field) const
{
    const auto it = m_values.constFind(field);
    if (it == m_values.constEnd() || it->isNull() || it->isUndefined())
        return std::nullopt;
    return *it;
}

void JsonRecordFields::fail(const QString &message)
{
    if (m_error.isEmpty())
        m_error = m_record + QStringLiteral(": ") + message;
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
