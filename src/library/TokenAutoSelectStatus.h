#pragma once

#include <QString>

namespace ovalis {

// Whether the tag token field pre-selects its first completion. Every text
// change advances the status one step (Passive, Standby 1, Standby 2,
// Active, then Active stays); a backward delete puts it back to Passive, so
// the first completion is offered for Return only once the user has typed on
// for a while without deleting. Disabled never advances.
enum class TokenAutoSelectStatus { Disabled, Passive, Standby1, Standby2, Active };

// "Disabled", "Passive", "Standby 1", "Standby 2", "Active".
QString description(TokenAutoSelectStatus status);
// The status after one more text change.
TokenAutoSelectStatus advanced(TokenAutoSelectStatus status);

} // namespace ovalis
