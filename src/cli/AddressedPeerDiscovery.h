#pragma once

#include "transfer/PeerDiscovery.h"

namespace ovalis {

// The discovery of a command that reaches its peer by address: it publishes
// nothing and looks for no one, so it has nothing to fail at either.
class AddressedPeerDiscovery : public PeerDiscovery
{
public:
    using PeerDiscovery::PeerDiscovery;

    void publish(const QString &serviceType, const QString &name, quint16 port, const DiscoveryInfo &txt) override;
    void unpublish() override;
    void startBrowsing(const QString &serviceType) override;
    void stopBrowsing() override;
    QString unavailableReason() const override;
};

} // namespace ovalis
