#include "find/AdvancedFindOperator.h"

namespace ovalis {

QString advancedFindOperatorTitle(AdvancedFindOperator op)
{
    switch (op) {
    case AdvancedFindOperator::contains: return QStringLiteral("contains");
    case AdvancedFindOperator::doesNotContain: return QStringLiteral("does not contain");
    case AdvancedFindOperator::equals: return QStringLiteral("is");
    case AdvancedFindOperator::beginsWith: return QStringLiteral("begins with");
    case AdvancedFindOperator::endsWith: return QStringLiteral("ends with");
    case AdvancedFindOperator::isEmpty: return QStringLiteral("is empty");
    case AdvancedFindOperator::isNotEmpty: return QStringLiteral("is not empty");
    case AdvancedFindOperator::isBefore: return QStringLiteral("is before");
    case AdvancedFindOperator::isAfter: return QStringLiteral("is after");
    case AdvancedFindOperator::isOn: return QStringLiteral("is on");
    case AdvancedFindOperator::isInTheLastNDays: return QStringLiteral("is in the last N days");
    case AdvancedFindOperator::isTrue: return QStringLiteral("is true");
    case AdvancedFindOperator::isFalse: return QStringLiteral("is false");
    case AdvancedFindOperator::sexIs: return QStringLiteral("is");
    case AdvancedFindOperator::sexIsNot: return QStringLiteral("is not");
    case AdvancedFindOperator::containsTag: return QStringLiteral("contains tag");
    case AdvancedFindOperator::doesNotContainTag: return QStringLiteral("does not contain tag");
    }
    return {};
}

QList<AdvancedFindOperator> advancedFindOperators(AdvancedFindFieldGroup group)
{
    using Op = AdvancedFindOperator;
    switch (group) {
    case AdvancedFindFieldGroup::text:
        return {Op::contains, Op::doesNotContain, Op::equals, Op::beginsWith, Op::endsWith, Op::isEmpty, Op::isNotEmpty};
    case AdvancedFindFieldGroup::date: return {Op::isBefore, Op::isAfter, Op::isOn, Op::isInTheLastNDays};
    case AdvancedFindFieldGroup::sex: return {Op::sexIs, Op::sexIsNot};
    case AdvancedFindFieldGroup::presence: return {Op::isTrue, Op::isFalse};
    case AdvancedFindFieldGroup::tag: return {Op::containsTag, Op::doesNotContainTag};
    }
    return {};
}

QList<AdvancedFindOperator> advancedFindOperators(AdvancedFindField field)
{
    return advancedFindOperators(advancedFindFieldGroup(field));
}

AdvancedFindOperator defaultAdvancedFindOperator(AdvancedFindFieldGroup group)
{
    return advancedFindOperators(group).constFirst();
}

AdvancedFindOperator defaultAdvancedFindOperator(AdvancedFindField field)
{
    return defaultAdvancedFindOperator(advancedFindFieldGroup(field));
}

bool advancedFindFieldOffers(AdvancedFindField field, AdvancedFindOperator op)
{
    return advancedFindOperators(field).contains(op);
}

} // namespace ovalis
