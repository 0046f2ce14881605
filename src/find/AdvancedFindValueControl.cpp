#include "find/AdvancedFindValueControl.h"

namespace ovalis {

AdvancedFindValueControl advancedFindValueControl(AdvancedFindField field, AdvancedFindOperator op)
{
    switch (op) {
    case AdvancedFindOperator::isEmpty:
    case AdvancedFindOperator::isNotEmpty:
    case AdvancedFindOperator::isTrue:
    case AdvancedFindOperator::isFalse: return AdvancedFindValueControl::none;
    default: break;
    }
    switch (advancedFindFieldGroup(field)) {
    case AdvancedFindFieldGroup::presence: return AdvancedFindValueControl::none;
    case AdvancedFindFieldGroup::sex: return AdvancedFindValueControl::sexPopUp;
    case AdvancedFindFieldGroup::tag: return AdvancedFindValueControl::tagComboBox;
    case AdvancedFindFieldGroup::date:
        return op == AdvancedFindOperator::isInTheLastNDays ? AdvancedFindValueControl::daysField
                                                            : AdvancedFindValueControl::datePicker;
    case AdvancedFindFieldGroup::text: return AdvancedFindValueControl::textField;
    }
    return AdvancedFindValueControl::none;
}

} // namespace ovalis
