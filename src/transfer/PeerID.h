#pragma once

#include <QHashFunctions>
#include <QMap>
#include <QString>

namespace ovalis {

// A peer's identity for one run: a unique identifier made when the peer
// starts and the display name it was made with. Two identities are the same
// peer when their identifiers are equal.
struct PeerID {
    QString uniqueID;
    QString displayName;

    static PeerID make(const QString &displayName);
    bool isNull() const { return uniqueID.isEmpty(); }

    friend bool operator==(const PeerID &a, const PeerID &b) { return a.uniqueID == b.uniqueID; }
    friend bool operator!=(const PeerID &a, const PeerID &b) { return !(a == b); }
};

inline size_t qHash(const PeerID &peer, size_t seed = 0) noexcept
{
    return qHash(peer.uniqueID, seed);
}

// What a peer advertises besides its name ("deviceType" = "Mac", …).
using DiscoveryInfo = QMap<QString, QString>;

} // namespace ovalis
