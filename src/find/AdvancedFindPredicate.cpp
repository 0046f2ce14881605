#include "find/AdvancedFindPredicate.h"

namespace ovalis {

namespace {

std::optional<Predicate> textPredicate(const AdvancedFindRule &rule, const QString &key)
{
    switch (rule.ruleOperator) {
    case AdvancedFindOperator::isEmpty:
        return Predicate::fromFormat(QStringLiteral("%K == nil OR %K.length == 0"), {key, key});
    case AdvancedFindOperator::isNotEmpty:
        return Predicate::fromFormat(QStringLiteral("%K != nil AND %K.length > 0"), {key, key});
    default: break;
    }
    const std::optional<QString> text = rule.stringValue();
    if (!text || text->isEmpty())
        return std::nullopt;
    const char *format = nullptr;
    switch (rule.ruleOperator) {
    case AdvancedFindOperator::contains: format = "%K CONTAINS[cd] %@"; break;
    case AdvancedFindOperator::doesNotContain: format = "NOT %K CONTAINS[cd] %@"; break;
    case AdvancedFindOperator::equals: format = "%K ==[cd] %@"; break;
    case AdvancedFindOperator::beginsWith: format = "%K BEGINSWITH[cd] %@"; break;
    case AdvancedFindOperator::endsWith: format = "%K ENDSWITH[cd] %@"; break;
    default: return std::nullopt;
    }
    return Predicate::fromFormat(QString::fromLatin1(format), {key, *text});
}

std::optional<Predicate> datePredicate(const AdvancedFindRule &rule, const QString &key, const QDateTime &now,
                                       const QTimeZone &timeZone)
{
    if (rule.ruleOperator == AdvancedFindOperator::isInTheLastNDays) {
        const std::optional<qint64> days = rule.dayCountValue();
        if (!days || *days < 1)
            return std::nullopt;
        // Calendar days in the user's zone: the same time of day N days ago,
        // which is not N × 24 hours across a daylight-saving change.
        // By Julian day rather than addDays, which does not guard against
        // overflow; a day beyond what QDateTime holds gives an invalid date.
        const QDateTime local = now.toTimeZone(timeZone);
        const QDate day = QDate::fromJulianDay(local.date().toJulianDay() - *days);
        const QDateTime since = day.isValid() ? QDateTime(day, local.time(), timeZone) : QDateTime();
        if (!since.isValid() || since >= now)
            return std::nullopt;
        return Predicate::fromFormat(QStringLiteral("%K >= %@"), {key, since});
    }
    const std::optional<QDateTime> date = rule.dateValue();
    if (!date)
        return std::nullopt;
    switch (rule.ruleOperator) {
    case AdvancedFindOperator::isBefore: return Predicate::fromFormat(QStringLiteral("%K < %@"), {key, *date});
    case AdvancedFindOperator::isAfter: return Predicate::fromFormat(QStringLiteral("%K > %@"), {key, *date});
    case AdvancedFindOperator::isOn: {
        const QDate day = date->toTimeZone(timeZone).date();
        const QDateTime start = day.startOfDay(timeZone);
        const QDateTime end = day.addDays(1).startOfDay(timeZone);
        if (!start.isValid() || !end.isValid())
            return std::nullopt;
        return Predicate::fromFormat(QStringLiteral("%K >= %@ AND %K < %@"), {key, start, key, end});
    }
    default: return std::nullopt;
    }
}

} // namespace

std::optional<Predicate> AdvancedFindPredicate::forRule(const AdvancedFindRule &rule)
{
    return forRule(rule, QDateTime::currentDateTime(), QTimeZone::systemTimeZone());
}

std::optional<Predicate> AdvancedFindPredicate::forRule(const AdvancedFindRule &rule, const QDateTime &now,
                                                        const QTimeZone &timeZone)
{
    if (!advancedFindFieldOffers(rule.field, rule.ruleOperator))
        return std::nullopt;
    const QString key = advancedFindFieldKeyPath(rule.field);
    switch (advancedFindFieldGroup(rule.field)) {
    case AdvancedFindFieldGroup::text: return textPredicate(rule, key);
    case AdvancedFindFieldGroup::date: return datePredicate(rule, key, now, timeZone);
    case AdvancedFindFieldGroup::sex: {
        const std::optional<qint16> sex = rule.sexValue();
        if (!sex)
            return std::nullopt;
        return Predicate::fromFormat(rule.ruleOperator == AdvancedFindOperator::sexIs ? QStringLiteral("sex == %d")
                                                                                      : QStringLiteral("sex != %d"),
                                     {int(*sex)});
    }
    case AdvancedFindFieldGroup::presence:
        return Predicate::fromFormat(rule.ruleOperator == AdvancedFindOperator::isTrue ? QStringLiteral("%K.@count > 0")
                                                                                       : QStringLiteral("%K.@count == 0"),
                                     {key});
    case AdvancedFindFieldGroup::tag: {
        const std::optional<QString> label = rule.stringValue();
        if (!label || label->isEmpty())
            return std::nullopt;
        return Predicate::fromFormat(rule.ruleOperator == AdvancedFindOperator::containsTag
                                         ? QStringLiteral("SUBQUERY(tags, $tag, $tag.label ==[cd] %@).@count > 0")
                                         : QStringLiteral("SUBQUERY(tags, $tag, $tag.label ==[cd] %@).@count == 0"),
                                     {*label});
    }
    }
    return std::nullopt;
}

std::optional<Predicate> AdvancedFindPredicate::forRules(AdvancedFindCompoundType compoundType,
                                                         const QList<std::shared_ptr<AdvancedFindRule>> &rules)
{
    return forRules(compoundType, rules, QDateTime::currentDateTime(), QTimeZone::systemTimeZone());
}

std::optional<Predicate> AdvancedFindPredicate::forRules(AdvancedFindCompoundType compoundType,
                                                         const QList<std::shared_ptr<AdvancedFindRule>> &rules,
                                                         const QDateTime &now, const QTimeZone &timeZone)
{
    QList<Predicate> predicates;
    for (const std::shared_ptr<AdvancedFindRule> &rule : rules)
        if (rule)
            if (std::optional<Predicate> predicate = forRule(*rule, now, timeZone))
                predicates << *predicate;
    if (predicates.isEmpty())
        return std::nullopt;
    return compoundType == AdvancedFindCompoundType::any ? Predicate::orPredicate(predicates)
                                                         : Predicate::andPredicate(predicates);
}

} // namespace ovalis
