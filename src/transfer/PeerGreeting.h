#pragma once

#include <QMetaType>
#include <optional>

#include "transfer/PeerID.h"

namespace ovalis {

// What a peer said of itself when it greeted, and the code both users compare.
struct PeerGreeting {
    PeerID peer;
    quint16 listeningPort = 0; // 0 when the greeting gave none
    std::optional<DiscoveryInfo> info;
    QString verificationCode;
};

} // namespace ovalis

Q_DECLARE_METATYPE(ovalis::PeerGreeting)
