#pragma once

#include <QList>
#include <QString>
#include <optional>

#include "find/RawValueEnum.h"

namespace ovalis {

// The searchable fields of a case, stored as an 8-bit raw value: summary is
// 0, detail 1, …, tag 10, in the order of allAdvancedFindFields() and of the
// field pop-up menu; the menu item's tag is the raw value.
enum class AdvancedFindField : quint8 {
    summary, detail, patientID,                          // text
    dateAdded, dateModified, dateOfBirth, dateOfDiagnosis, // date
    sex, hasMedia, hasTags, tag,
};
static_assert(int(AdvancedFindField::dateAdded) == 3 && int(AdvancedFindField::tag) == 10);

// Fields of one group offer the same operators and need the same kind of value.
enum class AdvancedFindFieldGroup { text, date, sex, presence, tag };

inline QList<AdvancedFindField> allAdvancedFindFields() { return rawValueEnumCases(AdvancedFindField::tag); }
// Nothing outside 0 to 10.
inline std::optional<AdvancedFindField> advancedFindFieldFromRawValue(int rawValue)
{
    return rawValueEnumCase(rawValue, AdvancedFindField::tag);
}

// "Summary", "Detail", "Patient ID", "Date Added", …
QString advancedFindFieldTitle(AdvancedFindField field);
// The key path the field's predicates use: the attribute, or "media" / "tags"
// for the presence and tag fields.
QString advancedFindFieldKeyPath(AdvancedFindField field);
AdvancedFindFieldGroup advancedFindFieldGroup(AdvancedFindField field);
// Whether the field menu has a separator after this field (the last field of
// every group but the last one).
bool advancedFindFieldEndsMenuGroup(AdvancedFindField field);

} // namespace ovalis
