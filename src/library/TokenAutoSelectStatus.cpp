#include "library/TokenAutoSelectStatus.h"

namespace ovalis {

QString description(TokenAutoSelectStatus status)
{
    switch (status) {
    case TokenAutoSelectStatus::Disabled:
        return QStringLiteral("Disabled");
    case TokenAutoSelectStatus::Passive:
        return QStringLiteral("Passive");
    case TokenAutoSelectStatus::Standby1:
        return QStringLiteral("Standby 1");
    case TokenAutoSelectStatus::Standby2:
        return QStringLiteral("Standby 2");
    case TokenAutoSelectStatus::Active:
        return QStringLiteral("Active");
    }
    return QString();
}

TokenAutoSelectStatus advanced(TokenAutoSelectStatus status)
{
    switch (status) {
    case TokenAutoSelectStatus::Passive:
        return TokenAutoSelectStatus::Standby1;
    case TokenAutoSelectStatus::Standby1:
        return TokenAutoSelectStatus::Standby2;
    case TokenAutoSelectStatus::Standby2:
    case TokenAutoSelectStatus::Active:
        return TokenAutoSelectStatus::Active;
    case TokenAutoSelectStatus::Disabled:
        break;
    }
    return TokenAutoSelectStatus::Disabled;
}

} // namespace ovalis
