#pragma once

#include "transfer/MultiPeerManagerDelegate.h"

namespace ovalis::test {

// A session delegate that ignores every event; tests override the ones they watch.
class IgnoringPeerDelegate : public MultiPeerManagerDelegate
{
public:
    std::optional<DiscoveryInfo> discoveryInfo() override { return std::nullopt; }
    void foundPeer(MultiPeerManager *, const PeerID &, const std::optional<DiscoveryInfo> &) override {}
    void lostPeer(MultiPeerManager *, const PeerID &) override {}
    void peerConnecting(const PeerID &) override {}
    void peerConnected(const PeerID &) override {}
    void peerDisconnected(const PeerID &) override {}
    void didFinishSendingFile(MultiPeerManager *) override {}
    void didReceiveData(MultiPeerManager *, const QByteArray &) override {}
    void didStartReceivingResource(MultiPeerManager *, const QString &, qint64) override {}
    void didFinishReceivingResource(MultiPeerManager *, const QString &, const QUrl &) override {}
};

} // namespace ovalis::test
