#include "media/MediaThumbnailProvider.h"

#include <QCoreApplication>
#include <QIcon>
#include <QPointer>
#include <QTimer>

#include "util/ThreadPriority.h"

namespace ovalis {

namespace {
constexpr qint64 defaultMemoryLimit = 256LL * 1024 * 1024;
constexpr int workerNiceness = 5;

int costOf(const QImage &image)
{
    return std::max(1, int(image.sizeInBytes() / 1024));
}
} // namespace

MediaThumbnailProvider::MediaThumbnailProvider(const QString &cacheDirectory, int side, QObject *parent)
    : QObject(parent)
    , m_side(side)
    , m_diskCache(cacheDirectory)
{
    m_pool.setMaxThreadCount(std::max(2, QThread::idealThreadCount()));
    setMemoryLimit(defaultMemoryLimit);
    // Without a desktop session the platform names no icon theme; the
    // freedesktop default one still has the file type icons.
    if (QIcon::themeName().isEmpty() || QIcon::themeName() == QLatin1String("hicolor"))
        QIcon::setThemeName(QStringLiteral("Adwaita"));
}

MediaThumbnailProvider::~MediaThumbnailProvider()
{
    {
        QMutexLocker locker(&m_mutex);
        m_queued.clear();
        m_visibleOrder.clear();
        m_prefetchOrder.clear();
    }
    m_pool.waitForDone();
}

MediaThumbnailProvider *MediaThumbnailProvider::shared()
{
    static QPointer<MediaThumbnailProvider> provider;
    if (!provider)
        provider = new MediaThumbnailProvider(MediaThumbnailDiskCache::defaultDirectory(), defaultSide,
                                              QCoreApplication::instance());
    return provider;
}

QString MediaThumbnailProvider::keyFor(const QString &uuid, const QString &path)
{
    return uuid + QLatin1Char('|') + path;
}

std::optional<QImage> MediaThumbnailProvider::thumbnail(const QString &uuid, const QString &path, const void *requester,
                                                        Priority priority)
{
    const QString key = keyFor(uuid, path);
    if (Entry *entry = m_memory.object(key)) {
        if (entry->checkedGeneration < m_generation) {
            Request request;
            request.verifying = true;
            request.knownStamp = entry->stamp;
            enqueue(key, std::move(request), requester, priority);
        }
        return entry->image;
    }
    // Without a location there is no file to look at.
    if (path.isEmpty()) {
        auto *entry = new Entry{MediaThumbnailRenderer::placeholder(m_side), MediaThumbnailRenderer::Kind::Placeholder,
                                std::nullopt, m_generation};
        const QImage image = entry->image;
        m_memory.insert(key, entry, costOf(image));
        return image;
    }
    Request request;
    request.uuid = uuid;
    request.path = path;
    enqueue(key, std::move(request), requester, priority);
    return std::nullopt;
}

std::map<quint64, QString> &MediaThumbnailProvider::orderFor(Priority priority)
{
    return priority == Priority::Visible ? m_visibleOrder : m_prefetchOrder;
}

quint64 MediaThumbnailProvider::nextRank(Priority priority)
{
    const quint64 sequence = m_nextSequence++;
    if (priority == Priority::Prefetch)
        return sequence;
    if (!m_batchOpen) {
        ++m_batch;
        m_batchOpen = true;
        QTimer::singleShot(0, this, [this] { m_batchOpen = false; });
    }
    // The latest batch first; within it, the earliest request first.
    return (m_batch << 32) | (0xFFFFFFFFu - (sequence & 0xFFFFFFFFu));
}

void MediaThumbnailProvider::enqueue(const QString &key, Request request, const void *requester, Priority priority)
{
    QMutexLocker locker(&m_mutex);
    if (m_running.contains(key))
        return;
    auto queued = m_queued.find(key);
    if (queued != m_queued.end()) {
        queued->requesters.insert(requester);
        if (priority == Priority::Prefetch)
            return;
        // Asked for on screen (again): it moves to the front.
        orderFor(queued->priority).erase(queued->rank);
        queued->rank = nextRank(Priority::Visible);
        queued->priority = Priority::Visible;
        m_visibleOrder.emplace(queued->rank, key);
        return;
    }
    if (request.uuid.isEmpty() && request.path.isEmpty()) {
        const qsizetype bar = key.indexOf(QLatin1Char('|'));
        request.uuid = key.left(bar);
        request.path = key.mid(bar + 1);
    }
    request.rank = nextRank(priority);
    request.generation = m_generation;
    request.priority = priority;
    request.requesters.insert(requester);
    orderFor(priority).emplace(request.rank, key);
    m_queued.insert(key, std::move(request));
    locker.unlock();
    m_pool.start([this] { runNext(); });
}

void MediaThumbnailProvider::cancelRequests(const void *requester)
{
    QMutexLocker locker(&m_mutex);
    for (auto it = m_queued.begin(); it != m_queued.end();) {
        it->requesters.remove(requester);
        if (it->requesters.isEmpty()) {
            orderFor(it->priority).erase(it->rank);
            it = m_queued.erase(it);
        } else {
            ++it;
        }
    }
}

void MediaThumbnailProvider::revalidate()
{
    ++m_generation;
}

bool MediaThumbnailProvider::isBusy() const
{
    QMutexLocker locker(&m_mutex);
    return !m_queued.isEmpty() || !m_running.isEmpty();
}

void MediaThumbnailProvider::setPaused(bool paused)
{
    qsizetype waiting = 0;
    {
        QMutexLocker locker(&m_mutex);
        m_paused = paused;
        waiting = m_queued.size();
    }
    // The pool's tasks that found the queue paused have ended; one per waiting request.
    for (qsizetype i = 0; !paused && i < waiting; ++i)
        m_pool.start([this] { runNext(); });
}

void MediaThumbnailProvider::setMemoryLimit(qint64 bytes)
{
    m_memory.setMaxCost(int(std::max<qint64>(1, bytes / 1024)));
}

std::optional<MediaThumbnailRenderer::Kind> MediaThumbnailProvider::kind(const QString &uuid, const QString &path) const
{
    const Entry *entry = m_memory.object(keyFor(uuid, path));
    return entry ? std::optional(entry->kind) : std::nullopt;
}

void MediaThumbnailProvider::runNext()
{
    // Thumbnails are background work: the pool's threads yield to the UI
    // thread when both want a processor.
    static thread_local bool lowered = false;
    if (!lowered) {
        lowered = true;
        lowerCurrentThreadPriority(workerNiceness);
    }
    QString key;
    Request request;
    {
        QMutexLocker locker(&m_mutex);
        if (m_paused)
            return;
        if (!m_visibleOrder.empty()) {
            const auto first = std::prev(m_visibleOrder.end());
            key = first->second;
            m_visibleOrder.erase(first);
        } else if (!m_prefetchOrder.empty()) {
            const auto oldest = m_prefetchOrder.begin();
            key = oldest->second;
            m_prefetchOrder.erase(oldest);
        } else {
            return;
        }
        request = m_queued.take(key);
        m_running.insert(key);
    }
    Result result = make(key, request);
    const bool store = !result.unchanged && !result.fromDisk && (result.thumbnail.kind == MediaThumbnailRenderer::Kind::Image
                                             || result.thumbnail.kind == MediaThumbnailRenderer::Kind::MovieFrame);
    const QImage image = result.thumbnail.image;
    const auto stamp = result.stamp;
    QMetaObject::invokeMethod(this, [this, result = std::move(result)]() mutable { finish(std::move(result)); },
                              Qt::QueuedConnection);
    if (store && stamp)
        m_diskCache.write(request.uuid, m_side, *stamp, image);
    QMutexLocker locker(&m_mutex);
    m_running.remove(key);
}

MediaThumbnailProvider::Result MediaThumbnailProvider::make(const QString &key, const Request &request) const
{
    Result result;
    result.key = key;
    result.uuid = request.uuid;
    result.generation = request.generation;
    result.stamp = MediaThumbnailDiskCache::stampOf(request.path);
    if (request.verifying && result.stamp == request.knownStamp) {
        result.unchanged = true;
        return result;
    }
    if (result.stamp) {
        result.thumbnail.image = m_diskCache.read(request.uuid, m_side, *result.stamp);
        if (!result.thumbnail.image.isNull()) {
            result.thumbnail.kind = MediaThumbnailRenderer::Kind::Image;
            result.fromDisk = true;
            return result;
        }
    }
    result.thumbnail = MediaThumbnailRenderer::render(result.stamp ? request.path : QString(), m_side);
    return result;
}

void MediaThumbnailProvider::finish(Result result)
{
    if (result.unchanged) {
        if (Entry *entry = m_memory.object(result.key))
            entry->checkedGeneration = std::max(entry->checkedGeneration, result.generation);
        return;
    }
    auto *entry = new Entry;
    entry->kind = result.thumbnail.kind;
    entry->image = result.thumbnail.kind == MediaThumbnailRenderer::Kind::Icon
                       ? iconFor(result.thumbnail.iconName, result.thumbnail.genericIconName)
                       : result.thumbnail.image;
    entry->stamp = result.stamp;
    entry->checkedGeneration = result.generation;
    m_memory.insert(result.key, entry, costOf(entry->image));
    emit thumbnailReady(result.uuid);
}

QImage MediaThumbnailProvider::iconFor(const QString &iconName, const QString &genericIconName)
{
    const QString key = iconName + QLatin1Char('|') + genericIconName;
    auto it = m_icons.constFind(key);
    if (it != m_icons.constEnd())
        return *it;
    // Icons are drawn smaller than pictures, as a file viewer shows them.
    const QImage image = MediaThumbnailRenderer::iconImage(iconName, genericIconName, m_side * 3 / 4);
    m_icons.insert(key, image);
    return image;
}

} // namespace ovalis
