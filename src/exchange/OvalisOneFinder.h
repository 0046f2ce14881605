#pragma once

#include <QMutex>
#include <QString>
#include <QStringList>
#include <functional>

class QThreadPool;

namespace ovalis {

// Finds version-1 documents: every file under the user's home folder whose
// name ends in "." and the extension (any case), searched on a worker
// thread. Hidden files and folders are passed over and symbolic links are
// not followed.
class OvalisOneFinder
{
public:
    using Completion = std::function<void(const QStringList &paths)>;

    // Searches run on pool (not owned); the shared finder uses the global pool.
    explicit OvalisOneFinder(QThreadPool *pool = nullptr);
    static OvalisOneFinder &shared();

    // Stores completion and starts a search of the home folder (or of root
    // when given). The completion runs once, on the worker thread, with the
    // paths found in path order (empty when none). A new search replaces the
    // stored completion: only the latest search reports.
    void find(const QString &extension, Completion completion, const QString &root = QString());

    // The search itself, on the calling thread.
    static QStringList search(const QString &root, const QString &extension);

private:
    QThreadPool *m_pool; // Not owned.
    QMutex m_mutex;
    Completion m_completion; // Guarded by m_mutex.
    quint64 m_generation = 0; // Guarded by m_mutex.
};

} // namespace ovalis
