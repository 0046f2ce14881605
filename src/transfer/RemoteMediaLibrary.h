#pragma once

#include <QString>
#include <optional>

#include "transfer/PeerID.h"

namespace ovalis {

enum class DeviceType { unknown, mac, iPhone };

enum class ConnectionStatus { standby, connecting, connected, transferring };

// A nearby library as the Sync Media window lists it.
struct RemoteMediaLibrary {
    PeerID id;
    QString label;
    DeviceType device = DeviceType::unknown;

    // The device a peer's "deviceType" names.
    static DeviceType deviceType(const std::optional<DiscoveryInfo> &info);
    // Used in log lines.
    QString description() const;

    friend bool operator==(const RemoteMediaLibrary &a, const RemoteMediaLibrary &b)
    {
        return a.id == b.id && a.label == b.label && a.device == b.device;
    }
};

} // namespace ovalis
