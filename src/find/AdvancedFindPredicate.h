#pragma once

#include <QDateTime>
#include <QList>
#include <QTimeZone>
#include <memory>
#include <optional>

#include "find/AdvancedFindCompoundType.h"
#include "find/AdvancedFindRule.h"
#include "store/Predicate.h"

namespace ovalis {

// Turns rules into a predicate over the Case entity. Date rules are computed
// in a calendar time zone from a current instant: the user's time zone and
// the moment of the call unless given.
class AdvancedFindPredicate
{
public:
    // The predicate of one rule; nothing when the rule needs a value it does
    // not hold, or its field does not offer its operator.
    static std::optional<Predicate> forRule(const AdvancedFindRule &rule);
    static std::optional<Predicate> forRule(const AdvancedFindRule &rule, const QDateTime &now, const QTimeZone &timeZone);

    // The rules' predicates in order, those that give none dropped, joined by
    // AND (all) or OR (any) in a compound even when only one remains; nothing
    // when no rule gives a predicate. Null pointers are skipped.
    static std::optional<Predicate> forRules(AdvancedFindCompoundType compoundType,
                                             const QList<std::shared_ptr<AdvancedFindRule>> &rules);
    static std::optional<Predicate> forRules(AdvancedFindCompoundType compoundType,
                                             const QList<std::shared_ptr<AdvancedFindRule>> &rules, const QDateTime &now,
                                             const QTimeZone &timeZone);
};

} // namespace ovalis
