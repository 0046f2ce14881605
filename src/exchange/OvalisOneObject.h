#pragma once

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QVariant>
#include <optional>

namespace ovalis {

// One record of a version-1 document as read: its entity, its primary key,
// the attributes that were present with the model's type (binary ones are
// read on demand through the document) and its to-one links by key.
struct OvalisOneObject {
    QString entity;
    qint64 primaryKey = 0;
    QVariantHash values;
    QHash<QString, qint64> toOne;

    std::optional<QString> text(const QString &attribute) const
    {
        const QVariant value = values.value(attribute);
        return value.typeId() == QMetaType::QString ? std::optional<QString>(value.toString()) : std::nullopt;
    }
    std::optional<qint64> integer(const QString &attribute) const
    {
        const QVariant value = values.value(attribute);
        return value.typeId() == QMetaType::LongLong ? std::optional<qint64>(value.toLongLong()) : std::nullopt;
    }
    std::optional<QDateTime> date(const QString &attribute) const
    {
        const QVariant value = values.value(attribute);
        return value.typeId() == QMetaType::QDateTime ? std::optional<QDateTime>(value.toDateTime()) : std::nullopt;
    }
};

} // namespace ovalis
