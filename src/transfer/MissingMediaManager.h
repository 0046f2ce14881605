#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

namespace ovalis {

class MultiPeerManager;

// One media file to fetch from a peer.
struct MissingMediaItem {
    QString uuidString;
    QString pathExtension;

    friend bool operator==(const MissingMediaItem &a, const MissingMediaItem &b)
    {
        return a.uuidString == b.uuidString && a.pathExtension == b.pathExtension;
    }
};

// The data side of fetching media files from a peer, knowing only uuids,
// extensions and a base directory: the worklist of files still to fetch, the
// request messages, answers to a peer's requests and storing what arrives.
// Subclasses find the missing files (refreshMissingMedia) and store received
// ones (storeReceivedFile).
//
// Lives on the main thread: the worklist and the count change only there.
class MissingMediaManager
{
public:
    MissingMediaManager() = default;
    virtual ~MissingMediaManager();
    MissingMediaManager(const MissingMediaManager &) = delete;
    MissingMediaManager &operator=(const MissingMediaManager &) = delete;

    int initialNumberOfMissingFiles() const { return m_initialNumberOfMissingFiles; }
    const QList<MissingMediaItem> &missingMediaArray() const { return m_missingMediaArray; }
    const std::optional<QUrl> &baseDirectoryURL() const { return m_baseDirectoryURL; }
    void setBaseDirectoryURL(const std::optional<QUrl> &url) { m_baseDirectoryURL = url; }

    int missingCount() const { return int(m_missingMediaArray.size()); }
    // The share already fetched: can start above 0 when some missing media
    // cannot be requested. Requests still outstanding (taken from the
    // worklist, not yet answered) count as not fetched.
    float fractionComplete(int outstandingRequests = 0) const;

    // Rebuilds the count and the worklist, then runs the completion (when
    // given) on the main thread. Does nothing here.
    virtual void refreshMissingMedia(std::function<void()> completion = {});
    // The encoded request for the last pair of the worklist, which it
    // removes; nothing when the worklist is empty (a refresh then starts).
    std::optional<QByteArray> nextRequestData();
    // A message from the peer: a request is answered through the manager
    // with the file or the not-available reply; a not-available reply runs
    // notAvailable on the main thread.
    void handleReceivedData(const QByteArray &data, MultiPeerManager *manager, std::function<void()> notAvailable);
    // Stores a received file for the media with that uuid and runs the
    // completion on the main thread when it was stored. Does nothing here.
    virtual void storeReceivedFile(const QString &uuid, const QUrl &location, std::function<void()> completion);

    // Where the file of a media lives under the base directory; nothing
    // without a base directory, or for a uuid or extension that could name a
    // place outside it.
    std::optional<QUrl> fileURL(const QString &uuid, const QString &extension) const;

protected:
    void setMissingMedia(int initialNumber, const QList<MissingMediaItem> &items);
    void clearMissingMedia() { m_missingMediaArray.clear(); }

private:
    void answerRequest(const QString &uuid, const QString &extension, MultiPeerManager *manager);
    bool isInsideBaseDirectory(const QString &path) const;

    int m_initialNumberOfMissingFiles = 0;
    QList<MissingMediaItem> m_missingMediaArray;
    std::optional<QUrl> m_baseDirectoryURL;
};

} // namespace ovalis
