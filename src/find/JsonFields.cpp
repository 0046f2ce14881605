#include "find/JsonFields.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <cmath>

namespace ovalis {

namespace {

// 2001-01-01 00:00:00 UTC in seconds since 1970.
constexpr double referenceDateSinceEpoch = 978307200.0;

} // namespace

JsonFields::JsonFields(const QJsonObject &object)
    : m_object(object)
{
}

void JsonFields::fail(const QString &message)
{
    if (m_error.isEmpty())
        m_error = message;
}

QJsonValue JsonFields::present(const QString &key, bool required)
{
    const QJsonValue value = m_object.value(key);
    if (required && (value.isUndefined() || value.isNull()))
        fail(QStringLiteral("Missing key \"%1\"").arg(key));
    return value.isNull() ? QJsonValue(QJsonValue::Undefined) : value;
}

std::optional<qint64> JsonFields::integer(const QString &key, qint64 minimum, qint64 maximum, bool required)
{
    const QJsonValue value = present(key, required);
    if (value.isUndefined())
        return std::nullopt;
    const double number = value.toDouble();
    if (!value.isDouble() || !std::isfinite(number) || std::trunc(number) != number) {
        fail(QStringLiteral("\"%1\" is not a whole number").arg(key));
        return std::nullopt;
    }
    // toInteger is exact even where the double is not, and answers 0 beyond
    // qint64, which the comparison with the double then catches.
    const qint64 whole = value.toInteger();
    if (double(whole) != number || whole < minimum || whole > maximum) {
        fail(QStringLiteral("\"%1\" is out of range").arg(key));
        return std::nullopt;
    }
    return whole;
}

std::optional<qint64> JsonFields::requiredInteger(const QString &key, qint64 minimum, qint64 maximum)
{
    return integer(key, minimum, maximum, true);
}

std::optional<qint64> JsonFields::optionalInteger(const QString &key, qint64 minimum, qint64 maximum)
{
    return integer(key, minimum, maximum, false);
}

QJsonValue JsonFields::typed(const QString &key, bool required, QJsonValue::Type type, const char *typeName)
{
    const QJsonValue value = present(key, required);
    if (value.isUndefined() || value.type() == type)
        return value;
    fail(QStringLiteral("\"%1\" is not %2").arg(key, QLatin1String(typeName)));
    return QJsonValue(QJsonValue::Undefined);
}

std::optional<QString> JsonFields::string(const QString &key, bool required)
{
    const QJsonValue value = typed(key, required, QJsonValue::String, "a string");
    return value.isUndefined() ? std::nullopt : std::optional<QString>(value.toString());
}

std::optional<QString> JsonFields::requiredString(const QString &key)
{
    return string(key, true);
}

std::optional<QString> JsonFields::optionalString(const QString &key)
{
    return string(key, false);
}

std::optional<QJsonArray> JsonFields::requiredArray(const QString &key)
{
    const QJsonValue value = typed(key, true, QJsonValue::Array, "an array");
    return value.isUndefined() ? std::nullopt : std::optional<QJsonArray>(value.toArray());
}

std::optional<QDateTime> JsonFields::optionalDate(const QString &key)
{
    const QJsonValue value = present(key, false);
    if (value.isUndefined())
        return std::nullopt;
    const double seconds = value.toDouble();
    const double msecs = std::round((seconds + referenceDateSinceEpoch) * 1000.0);
    // Beyond about ±292 million years a date has no QDateTime.
    if (!value.isDouble() || !std::isfinite(msecs) || std::fabs(msecs) > 9.2e18) {
        fail(QStringLiteral("\"%1\" is not a date").arg(key));
        return std::nullopt;
    }
    const QDateTime date = QDateTime::fromMSecsSinceEpoch(qint64(msecs));
    if (!date.isValid()) {
        fail(QStringLiteral("\"%1\" is not a date").arg(key));
        return std::nullopt;
    }
    return date;
}

QByteArray JsonFields::text(const QJsonValue &value)
{
    // QJsonDocument writes arrays and objects only: wrap and unwrap the value.
    const QByteArray wrapped = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return wrapped.mid(1, wrapped.size() - 2);
}

QByteArray JsonFields::orderedObject(const QList<Entry> &entries)
{
    QByteArray json = "{";
    for (const Entry &entry : entries) {
        if (json.size() > 1)
            json += ',';
        json += text(entry.first) + ':' + entry.second;
    }
    return json + '}';
}

double JsonFields::secondsSinceReferenceDate(const QDateTime &date)
{
    return double(date.toMSecsSinceEpoch()) / 1000.0 - referenceDateSinceEpoch;
}

std::optional<QJsonArray> JsonFields::parseArray(const QByteArray &json, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    QString problem;
    if (parseError.error != QJsonParseError::NoError)
        problem = parseError.errorString();
    else if (!document.isArray())
        problem = QStringLiteral("not a JSON array");
    if (!problem.isEmpty()) {
        if (error)
            *error = problem;
        return std::nullopt;
    }
    return document.array();
}

} // namespace ovalis
