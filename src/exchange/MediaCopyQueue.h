#pragma once

#include <QList>
#include <QString>
#include <QThreadPool>
#include <QUrl>
#include <future>
#include <vector>

namespace ovalis {

class Media;

// Copies an import's media files on threads of its own while the import
// goes on with the records, without waiting for the disk (see
// MediaFileStore::copyFileUnsynced). The records are only carried along,
// never touched off the importing thread.
class MediaCopyQueue
{
public:
    struct Failure {
        Media *media = nullptr;
        QString source;
        QString error;
    };

    explicit MediaCopyQueue(int threads = 2);
    // Waits for the copies still running.
    ~MediaCopyQueue();
    MediaCopyQueue(const MediaCopyQueue &) = delete;
    MediaCopyQueue &operator=(const MediaCopyQueue &) = delete;

    // Copies source to destination, making its folder first.
    void copy(Media *media, const QString &source, const QUrl &destination);
    // Waits for every copy queued so far; the failed ones, in the order queued.
    QList<Failure> finish();

private:
    struct Job {
        Media *media;
        QString source;
        std::future<QString> error; // empty when copied
    };

    QThreadPool m_pool;
    std::vector<Job> m_jobs;
};

} // namespace ovalis
