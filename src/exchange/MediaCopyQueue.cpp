#include "exchange/MediaCopyQueue.h"

#include <memory>

#include "store/MediaFileStore.h"

namespace ovalis {

MediaCopyQueue::MediaCopyQueue(int threads)
{
    m_pool.setMaxThreadCount(std::max(1, threads));
}

MediaCopyQueue::~MediaCopyQueue()
{
    m_pool.waitForDone();
}

void MediaCopyQueue::copy(Media *media, const QString &source, const QUrl &destination)
{
    auto task = std::make_shared<std::packaged_task<QString()>>([source, destination] {
        MediaWriteError error;
        if (!MediaFileStore::createDirectory(MediaFileStore::folderURL(destination), &error)
            || !MediaFileStore::copyFileUnsynced(source, destination, &error))
            return error.message().isEmpty() ? QStringLiteral("unknown error") : error.message();
        return QString();
    });
    m_jobs.push_back({media, source, task->get_future()});
    m_pool.start([task] { (*task)(); });
}

QList<MediaCopyQueue::Failure> MediaCopyQueue::finish()
{
    QList<Failure> failures;
    for (Job &job : m_jobs) {
        const QString error = job.error.get();
        if (!error.isEmpty())
            failures.append({job.media, job.source, error});
    }
    m_jobs.clear();
    return failures;
}

} // namespace ovalis
