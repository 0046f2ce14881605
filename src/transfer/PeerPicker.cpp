#include "transfer/PeerPicker.h"

#include <algorithm>

#include "transfer/MultiPeerManager.h"

namespace ovalis {

PeerPicker::PeerPicker(MultiPeerManager *manager, std::optional<int> maximumNumberOfPeers, QObject *parent)
    : QObject(parent)
    , m_manager(manager)
    , m_maximumNumberOfPeers(maximumNumberOfPeers)
{
    connect(m_manager, &MultiPeerManager::peersChanged, this, &PeerPicker::entriesChanged);
    // An invitation ends when the peer joins the session or does not.
    connect(m_manager, &MultiPeerManager::peerStateChanged, this, [this](const PeerID &peer, bool connecting) {
        if (!connecting && m_invited.remove(peer.uniqueID))
            emit entriesChanged();
    });
}

QString PeerPicker::serviceType() const
{
    return m_manager->serviceType();
}

PeerPicker::PeerState PeerPicker::stateOf(const PeerID &peer) const
{
    if (m_manager->connectedPeers().contains(peer))
        return PeerState::Connected;
    return m_invited.contains(peer.uniqueID) ? PeerState::Invited : PeerState::Available;
}

QList<PeerPicker::Entry> PeerPicker::entries() const
{
    QList<Entry> list;
    for (const PeerID &peer : m_manager->nearbyPeers())
        list.append({peer, stateOf(peer)});
    std::stable_sort(list.begin(), list.end(), [](const Entry &a, const Entry &b) {
        return a.peer.displayName.localeAwareCompare(b.peer.displayName) < 0;
    });
    return list;
}

int PeerPicker::peersInSession() const
{
    int invited = 0;
    for (const QString &id : m_invited)
        invited += m_manager->connectedPeers().contains(PeerID{id, QString()}) ? 0 : 1;
    return int(m_manager->connectedPeers().size()) + invited;
}

bool PeerPicker::canInvite(const PeerID &peer) const
{
    if (m_ended || !m_manager->nearbyPeers().contains(peer) || stateOf(peer) != PeerState::Available)
        return false;
    return !m_maximumNumberOfPeers || peersInSession() < *m_maximumNumberOfPeers;
}

bool PeerPicker::invite(const PeerID &peer)
{
    if (!canInvite(peer))
        return false;
    m_invited.insert(peer.uniqueID);
    emit entriesChanged();
    m_manager->invite(peer, invitationTimeoutSeconds);
    return true;
}

void PeerPicker::finish()
{
    if (m_ended)
        return;
    m_ended = true;
    emit finished();
}

void PeerPicker::cancel()
{
    if (m_ended)
        return;
    m_ended = true;
    emit cancelled();
}

} // namespace ovalis
