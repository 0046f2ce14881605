#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <optional>

#include "transfer/PeerID.h"

namespace ovalis {

class MultiPeerManager;
class PeerPicker;

// Receives every event of a MultiPeerManager. All calls arrive on the
// manager's thread (the main thread); the session state changes
// (peerConnecting, peerConnected, peerDisconnected) are always queued, never
// made from within a call into the manager.
class MultiPeerManagerDelegate
{
public:
    virtual ~MultiPeerManagerDelegate() = default;

    // Show the picker that showBrowser made, and take it away again (it is
    // deleted after this call). A delegate that never calls showBrowser,
    // like the transfer window's, need not present anything.
    virtual void presentBrowser(MultiPeerManager *manager, PeerPicker *picker)
    {
        Q_UNUSED(manager);
        Q_UNUSED(picker);
    }
    virtual void dismissBrowser(MultiPeerManager *manager, PeerPicker *picker)
    {
        Q_UNUSED(manager);
        Q_UNUSED(picker);
    }

    // Asked by startAdvertising.
    virtual std::optional<DiscoveryInfo> discoveryInfo() = 0;
    // Discovery info is nothing when the peer advertised none.
    virtual void foundPeer(MultiPeerManager *manager, const PeerID &peer, const std::optional<DiscoveryInfo> &info) = 0;
    virtual void lostPeer(MultiPeerManager *manager, const PeerID &peer) = 0;
    virtual void peerConnecting(const PeerID &peer) = 0;
    virtual void peerConnected(const PeerID &peer) = 0;
    virtual void peerDisconnected(const PeerID &peer) = 0;
    // After every file resource send, successful or not.
    virtual void didFinishSendingFile(MultiPeerManager *manager) = 0;
    virtual void didReceiveData(MultiPeerManager *manager, const QByteArray &data) = 0;
    virtual void didStartReceivingResource(MultiPeerManager *manager, const QString &name, qint64 expectedBytes) = 0;
    // The temporary file is removed when this call returns: copy it, do not keep the location.
    virtual void didFinishReceivingResource(MultiPeerManager *manager, const QString &name, const QUrl &location) = 0;
};

} // namespace ovalis
