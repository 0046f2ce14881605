#include "find/AdvancedFindRule.h"

namespace ovalis {

AdvancedFindRule::AdvancedFindRule(AdvancedFindField field, AdvancedFindOperator ruleOperator, const QVariant &value)
    : field(field)
    , ruleOperator(ruleOperator)
    , value(value)
{
}

QVariant AdvancedFindRule::makeStringValue(const QString &text)
{
    return QVariant(text);
}

QVariant AdvancedFindRule::makeSexValue(qint16 rawValue)
{
    return QVariant::fromValue<qint16>(rawValue);
}

QVariant AdvancedFindRule::makeDayCountValue(qint64 days)
{
    return QVariant::fromValue<qint64>(days);
}

QVariant AdvancedFindRule::makeDateValue(const QDateTime &date)
{
    return QVariant(date);
}

std::optional<QString> AdvancedFindRule::stringValue() const
{
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    return value.toString();
}

std::optional<qint16> AdvancedFindRule::sexValue() const
{
    if (value.typeId() != QMetaType::Short)
        return std::nullopt;
    return value.value<qint16>();
}

std::optional<qint64> AdvancedFindRule::dayCountValue() const
{
    if (value.typeId() != QMetaType::Int && value.typeId() != QMetaType::LongLong)
        return std::nullopt;
    return value.toLongLong();
}

std::optional<QDateTime> AdvancedFindRule::dateValue() const
{
    if (value.typeId() != QMetaType::QDateTime || !value.toDateTime().isValid())
        return std::nullopt;
    return value.toDateTime();
}

} // namespace ovalis
