#pragma once

#include <QList>
#include <QString>
#include <optional>

#include "find/AdvancedFindField.h"
#include "find/RawValueEnum.h"

namespace ovalis {

// The operators of a rule, with raw values 0 (contains) to 16
// (doesNotContainTag) in declaration order; the raw value is the operator
// pop-up item's tag.
enum class AdvancedFindOperator : int {
    contains, doesNotContain, equals, beginsWith, endsWith, isEmpty, isNotEmpty, // 0 to 6
    isBefore, isAfter, isOn, isInTheLastNDays,                                   // 7 to 10
    isTrue, isFalse, sexIs, sexIsNot, containsTag, doesNotContainTag,            // 11 to 16
};
static_assert(int(AdvancedFindOperator::isBefore) == 7 && int(AdvancedFindOperator::isTrue) == 11
              && int(AdvancedFindOperator::doesNotContainTag) == 16);

// In raw order.
inline QList<AdvancedFindOperator> allAdvancedFindOperators()
{
    return rawValueEnumCases(AdvancedFindOperator::doesNotContainTag);
}
// Nothing outside 0 to 16.
inline std::optional<AdvancedFindOperator> advancedFindOperatorFromRawValue(int rawValue)
{
    return rawValueEnumCase(rawValue, AdvancedFindOperator::doesNotContainTag);
}
// "contains", "does not contain", "is", …, "contains tag".
QString advancedFindOperatorTitle(AdvancedFindOperator op);

// The operators a group offers, in pop-up order; the first is the default.
QList<AdvancedFindOperator> advancedFindOperators(AdvancedFindFieldGroup group);
QList<AdvancedFindOperator> advancedFindOperators(AdvancedFindField field);
AdvancedFindOperator defaultAdvancedFindOperator(AdvancedFindFieldGroup group);
AdvancedFindOperator defaultAdvancedFindOperator(AdvancedFindField field);
bool advancedFindFieldOffers(AdvancedFindField field, AdvancedFindOperator op);

} // namespace ovalis
