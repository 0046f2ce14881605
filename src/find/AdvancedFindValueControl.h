#pragma once

#include "find/AdvancedFindField.h"
#include "find/AdvancedFindOperator.h"

namespace ovalis {

// The kind of control a rule row shows for the rule's value. Chosen by the
// operator first and the field second: operators without a value, and the
// presence fields, need none.
enum class AdvancedFindValueControl {
    none,        // the value is absent
    textField,   // placeholder "Value"; a string
    daysField,   // placeholder "Days", whole numbers from 1; a day count
    datePicker,  // year, month and day; a date (today when the rule holds none)
    sexPopUp,    // "Unknown", "Male", "Female", "Non-binary" (tags 0 to 3); a sex raw value
    tagComboBox, // placeholder "Tag", completes from the tag labels; a string
};

AdvancedFindValueControl advancedFindValueControl(AdvancedFindField field, AdvancedFindOperator op);

} // namespace ovalis
