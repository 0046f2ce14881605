#pragma once

#include <QCache>
#include <QHash>
#include <QImage>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QThreadPool>
#include <map>
#include <optional>

#include "media/MediaThumbnailDiskCache.h"
#include "media/MediaThumbnailRenderer.h"

namespace ovalis {

// Thumbnails of media files for the grids, made on a thread pool and kept in
// memory (by cost) and on disk. A request answers at once from memory, or
// schedules the work and answers nothing; thumbnailReady then names the uuid
// whose thumbnail arrived. Requests for items on screen come first, those of
// the latest turn of the event loop (the latest paint) first and in the order
// asked within a turn, so that they do not wait behind those scrolled away;
// then the prefetched ones, in the order asked.
//
// Used on the UI thread only (its signal comes there too); the pool's
// threads never touch the store's objects, only file paths.
class MediaThumbnailProvider : public QObject
{
    Q_OBJECT

public:
    static constexpr int defaultSide = 160;

    enum class Priority { Visible, Prefetch };

    // Thumbnails fit a square of side pixels. An empty cacheDirectory keeps
    // nothing on disk.
    explicit MediaThumbnailProvider(const QString &cacheDirectory = MediaThumbnailDiskCache::defaultDirectory(),
                                    int side = defaultSide, QObject *parent = nullptr);
    // Drops the requests not started and waits for those running.
    ~MediaThumbnailProvider() override;

    // The program's provider, shared by its grids; owned by the application.
    static MediaThumbnailProvider *shared();

    int side() const { return m_side; }
    QString cacheDirectory() const { return m_diskCache.directory(); }

    // The thumbnail of the media with this uuid whose file is at path (empty
    // when it has no file location). Nothing while it is being made; a
    // visible request then goes ahead of the earlier ones, on behalf of
    // requester (see cancelRequests). A cached thumbnail is answered even
    // when it is due to be checked against its file again (see revalidate).
    std::optional<QImage> thumbnail(const QString &uuid, const QString &path, const void *requester = nullptr,
                                    Priority priority = Priority::Visible);
    // How the ready thumbnail was made; nothing when it is not ready.
    std::optional<MediaThumbnailRenderer::Kind> kind(const QString &uuid, const QString &path) const;
    // Withdraws the requester's requests that have not started.
    void cancelRequests(const void *requester);
    // Has each cached thumbnail checked against its file's modification time
    // and size on its next request, after files may have changed.
    void revalidate();
    // Whether work is queued or running.
    bool isBusy() const;
    // While paused no new work starts (the running work finishes); requests
    // still queue and keep their order, for when the disk is wanted for
    // something more urgent.
    void setPaused(bool paused);
    // How many thumbnails are made at once (by default one a processor core).
    void setThreadCount(int count) { m_pool.setMaxThreadCount(std::max(1, count)); }
    // The largest memory the cached thumbnails may take.
    void setMemoryLimit(qint64 bytes);

signals:
    void thumbnailReady(const QString &uuid);

private:
    struct Entry {
        QImage image;
        MediaThumbnailRenderer::Kind kind = MediaThumbnailRenderer::Kind::Placeholder;
        std::optional<MediaThumbnailDiskCache::FileStamp> stamp;
        quint64 checkedGeneration = 0;
    };
    struct Request {
        QString uuid;
        QString path;
        quint64 rank = 0; // its key in the order of its priority
        quint64 generation = 0;
        QSet<const void *> requesters;
        Priority priority = Priority::Visible;
        // Set when a cached thumbnail is being checked: what it was made from.
        bool verifying = false;
        std::optional<MediaThumbnailDiskCache::FileStamp> knownStamp;
    };
    struct Result {
        QString key;
        QString uuid;
        quint64 generation = 0;
        bool unchanged = false;
        bool fromDisk = false;
        MediaThumbnailRenderer::Thumbnail thumbnail;
        std::optional<MediaThumbnailDiskCache::FileStamp> stamp;
    };

    static QString keyFor(const QString &uuid, const QString &path);
    void enqueue(const QString &key, Request request, const void *requester, Priority priority);
    std::map<quint64, QString> &orderFor(Priority priority);
    // Where a request asked for now stands in the order of its priority.
    quint64 nextRank(Priority priority);
    // On a pool thread: makes the newest queued thumbnail.
    void runNext();
    Result make(const QString &key, const Request &request) const;
    // On the UI thread.
    void finish(Result result);
    QImage iconFor(const QString &iconName, const QString &genericIconName);

    const int m_side;
    const MediaThumbnailDiskCache m_diskCache;
    QThreadPool m_pool;
    QCache<QString, Entry> m_memory; // cost in KiB
    QHash<QString, QImage> m_icons;
    quint64 m_generation = 1;

    // Shared with the pool's threads.
    mutable QMutex m_mutex;
    QHash<QString, Request> m_queued;
    std::map<quint64, QString> m_visibleOrder;  // rank -> key; the highest rank first
    std::map<quint64, QString> m_prefetchOrder; // rank -> key; the lowest rank first
    QSet<QString> m_running;
    bool m_paused = false;
    quint64 m_nextSequence = 1;
    // Visible requests of one turn of the event loop form a batch. UI thread.
    quint64 m_batch = 0;
    bool m_batchOpen = false;
};

} // namespace ovalis
