#include "cli/AddressedPeerDiscovery.h"

namespace ovalis {

void AddressedPeerDiscovery::publish(const QString &, const QString &, quint16, const DiscoveryInfo &) {}

void AddressedPeerDiscovery::unpublish() {}

void AddressedPeerDiscovery::startBrowsing(const QString &) {}

void AddressedPeerDiscovery::stopBrowsing() {}

QString AddressedPeerDiscovery::unavailableReason() const
{
    return QString();
}

} // namespace ovalis
