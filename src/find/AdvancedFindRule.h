#pragma once

#include <QDateTime>
#include <QString>
#include <QVariant>
#include <optional>

#include "find/AdvancedFindField.h"
#include "find/AdvancedFindOperator.h"

namespace ovalis {

// One rule of an advanced find. Held through std::shared_ptr: a rule row and
// the predicate builder share one instance.
//
// The value, when present, is one of:
// - a string (QString) for the text fields and the tag field;
// - a sex raw value as qint16 (QMetaType::Short) for the sex field;
// - a day count as int or qint64 for a date field with isInTheLastNDays;
// - a date (a valid QDateTime) for a date field with the other operators.
// Use the make… functions to build values of the right type; a value of
// another type counts as no value where the rule needs one.
class AdvancedFindRule
{
public:
    AdvancedFindRule() = default;
    AdvancedFindRule(AdvancedFindField field, AdvancedFindOperator ruleOperator, const QVariant &value = {});

    static QVariant makeStringValue(const QString &text);
    static QVariant makeSexValue(qint16 rawValue);
    static QVariant makeDayCountValue(qint64 days);
    static QVariant makeDateValue(const QDateTime &date);

    // The value read as each kind; nothing when it is absent or of another type.
    std::optional<QString> stringValue() const;
    std::optional<qint16> sexValue() const;
    std::optional<qint64> dayCountValue() const;
    std::optional<QDateTime> dateValue() const;

    AdvancedFindField field = AdvancedFindField::summary;
    AdvancedFindOperator ruleOperator = AdvancedFindOperator::contains;
    QVariant value; // invalid when absent
};

} // namespace ovalis
