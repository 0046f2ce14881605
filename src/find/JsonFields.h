#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>
#include <utility>

namespace ovalis {

// Reads typed values out of a JSON object the way a strict keyed decoder
// does: a required key must be present and not null, a value must have the
// expected type, and an integer must be a whole number in range. The first
// problem is kept; later reads after a problem still answer but do not replace it.
//
// Also writes objects whose keys keep a given order, which QJsonObject (sorted
// by key) cannot.
class JsonFields
{
public:
    explicit JsonFields(const QJsonObject &object);

    std::optional<qint64> requiredInteger(const QString &key, qint64 minimum, qint64 maximum);
    std::optional<qint64> optionalInteger(const QString &key, qint64 minimum, qint64 maximum);
    std::optional<QString> requiredString(const QString &key);
    std::optional<QString> optionalString(const QString &key);
    std::optional<QJsonArray> requiredArray(const QString &key);
    // A number of seconds relative to 2001-01-01 00:00:00 UTC.
    std::optional<QDateTime> optionalDate(const QString &key);

    // Empty while every read succeeded.
    QString errorString() const { return m_error; }

    // A key and the compact JSON text of its value.
    using Entry = std::pair<QString, QByteArray>;
    // The compact JSON text of an object with these entries in this order.
    static QByteArray orderedObject(const QList<Entry> &entries);
    static QByteArray text(const QJsonValue &value);
    static double secondsSinceReferenceDate(const QDateTime &date);

    // The array the JSON text holds; nothing, with an error, for text that
    // does not parse or holds something else.
    static std::optional<QJsonArray> parseArray(const QByteArray &json, QString *error);

    // Decodes every element of the array as an object with
    // decode(const QJsonObject &, QString *error) -> std::optional<T>. On the
    // first element that fails, nothing, with an error naming it by itemName
    // and position.
    template<class T, class Decode>
    static std::optional<QList<T>> decodeObjects(const QJsonArray &array, const QString &itemName, Decode decode,
                                                 QString *error)
    {
        QList<T> items;
        for (qsizetype i = 0; i < array.size(); ++i) {
            QString itemError = QStringLiteral("not an object");
            std::optional<T> item = array.at(i).isObject() ? decode(array.at(i).toObject(), &itemError) : std::nullopt;
            if (!item) {
                if (error)
                    *error = QStringLiteral("%1 %2: %3").arg(itemName).arg(i).arg(itemError);
                return std::nullopt;
            }
            items << *item;
        }
        return items;
    }

private:
    QJsonValue present(const QString &key, bool required);
    std::optional<qint64> integer(const QString &key, qint64 minimum, qint64 maximum, bool required);
    std::optional<QString> string(const QString &key, bool required);
    // The value when present and of the type; else undefined, failing on the wrong type.
    QJsonValue typed(const QString &key, bool required, QJsonValue::Type type, const char *typeName);
    void fail(const QString &message);

    QJsonObject m_object;
    QString m_error;
};

} // namespace ovalis
