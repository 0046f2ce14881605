#include "transfer/PeerID.h"

#include <QUuid>

namespace ovalis {

PeerID PeerID::make(const QString &displayName)
{
    return {QUuid::createUuid().toString(QUuid::WithoutBraces), displayName};
}

} // namespace ovalis
