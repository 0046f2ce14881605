#include "find/AdvancedFindCompoundType.h"

namespace ovalis {

AdvancedFindCompoundType advancedFindCompoundTypeFromRawValue(int rawValue)
{
    return rawValue == int(AdvancedFindCompoundType::any) ? AdvancedFindCompoundType::any : AdvancedFindCompoundType::all;
}

} // namespace ovalis
