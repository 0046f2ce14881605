#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QUuid>
#include <optional>

#include "find/AdvancedFindCompoundType.h"
#include "find/AdvancedFindRuleSnapshot.h"

namespace ovalis {

// A named rule set kept in the user's settings.
struct AdvancedFindFavorite {
    QUuid id;
    QString label;
    int compoundTypeRawValue = 0; // 1 is any, anything else all
    QList<AdvancedFindRuleSnapshot> rules; // in row order

    // The id's standard form ("E621E1F8-C36C-45A2-93FC-0C247A3E6E5F"): the
    // menu items' represented object.
    QString idString() const;
    AdvancedFindCompoundType compoundType() const { return advancedFindCompoundTypeFromRawValue(compoundTypeRawValue); }

    QJsonObject toJson() const;
    // Keys in the order id, label, compoundTypeRawValue, rules (compact).
    QByteArray toOrderedJson() const;
    // Nothing, with an error, unless all four keys are present with values of
    // the right type and every rule decodes.
    static std::optional<AdvancedFindFavorite> fromJson(const QJsonObject &object, QString *error = nullptr);

    bool operator==(const AdvancedFindFavorite &) const = default;
};

} // namespace ovalis
