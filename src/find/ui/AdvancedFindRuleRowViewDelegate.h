#pragma once

namespace ovalis {

class AdvancedFindRuleRowView;

// What a rule row asks of the view that holds it.
class AdvancedFindRuleRowViewDelegate
{
public:
    virtual ~AdvancedFindRuleRowViewDelegate() = default;

    // A new default row directly after this one.
    virtual void addRuleRow(AdvancedFindRuleRowView *after) = 0;
    // The row taken away, unless it is the only one.
    virtual void removeRuleRow(AdvancedFindRuleRowView *row) = 0;
};

} // namespace ovalis
