#pragma once

#include <QList>
#include <QObject>
#include <QSet>
#include <optional>

#include "transfer/PeerID.h"

namespace ovalis {

class MultiPeerManager;

// The peer picker that MultiPeerManager::showBrowser hands its delegate to
// present: the peers found nearby, each available, invited or connected, and
// invitations into the manager's session, up to an optional number of peers
// in it. The user ends it with finish() or cancel(); the manager then asks
// its delegate to dismiss it and deletes it.
class PeerPicker : public QObject
{
    Q_OBJECT

public:
    enum class PeerState { Available, Invited, Connected };
    struct Entry {
        PeerID peer;
        PeerState state = PeerState::Available;
    };

    // How long an invitation made from the picker waits for an answer.
    static constexpr int invitationTimeoutSeconds = 30;

    PeerPicker(MultiPeerManager *manager, std::optional<int> maximumNumberOfPeers, QObject *parent = nullptr);

    MultiPeerManager *manager() const { return m_manager; }
    QString serviceType() const;
    std::optional<int> maximumNumberOfPeers() const { return m_maximumNumberOfPeers; }

    // The peers found nearby, by display name.
    QList<Entry> entries() const;
    // Whether the peer is available and the session has room for it.
    bool canInvite(const PeerID &peer) const;
    // Invites the peer when it can; false otherwise.
    bool invite(const PeerID &peer);

    bool isEnded() const { return m_ended; }
    // "Done" and "Cancel": each ends the picker once.
    void finish();
    void cancel();

signals:
    void entriesChanged();
    void finished();
    void cancelled();

private:
    int peersInSession() const;
    PeerState stateOf(const PeerID &peer) const;

    MultiPeerManager *m_manager; // Not owned; outlives the picker.
    std::optional<int> m_maximumNumberOfPeers;
    QSet<QString> m_invited; // unique ids of peers invited and not yet answered
    bool m_ended = false;
};

} // namespace ovalis
