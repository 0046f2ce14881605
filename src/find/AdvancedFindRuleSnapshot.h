#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>

#include "find/AdvancedFindRule.h"

namespace ovalis {

// The stored form of one rule, as favourites keep it. Only the value that
// suits the rule's field and operator is present.
struct AdvancedFindRuleSnapshot {
    int fieldIndex = 0;       // raw value of the field
    int operatorRawValue = 0; // raw value of the operator
    std::optional<QString> stringValue;  // text fields and the tag field
    std::optional<qint16> sexValue;      // sex field
    std::optional<qint64> integerValue;  // date fields with isInTheLastNDays
    std::optional<QDateTime> dateValue;  // date fields with the other operators

    // Takes the value only when it has the type the rule's field and operator need.
    static AdvancedFindRuleSnapshot fromRule(const AdvancedFindRule &rule);
    // The field falls back to summary when fieldIndex is not a field, the
    // operator to the field's first one when the field does not offer it; the
    // value is taken from the key that suits the resulting field and operator.
    AdvancedFindRule toRule() const;

    // The keyed form: fieldIndex and operatorRawValue always, the value keys
    // only when present; a date as seconds relative to 2001-01-01 00:00:00 UTC.
    QJsonObject toJson() const;
    // The same object as JSON text with its keys in the order above (compact).
    QByteArray toOrderedJson() const;
    // Nothing, with an error, when a required key is missing or a key holds a
    // value of the wrong type (a fraction, a sex value out of the 16-bit range,
    // …); a null value counts as absent.
    static std::optional<AdvancedFindRuleSnapshot> fromJson(const QJsonObject &object, QString *error = nullptr);

    // A JSON array of snapshots, as a favourite's "rules" holds them.
    static std::optional<QList<AdvancedFindRuleSnapshot>> listFromJson(const QByteArray &json, QString *error = nullptr);

    bool operator==(const AdvancedFindRuleSnapshot &) const = default;
};

} // namespace ovalis
