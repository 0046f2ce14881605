#pragma once

namespace ovalis {

// How the rules of a set combine; the raw value is the Match pop-up item's tag
// and what a favourite stores.
enum class AdvancedFindCompoundType : int {
    all = 0, // every rule must hold (AND)
    any = 1, // at least one rule must hold (OR)
};

// 1 is any; every other raw value reads as all.
AdvancedFindCompoundType advancedFindCompoundTypeFromRawValue(int rawValue);

} // namespace ovalis
