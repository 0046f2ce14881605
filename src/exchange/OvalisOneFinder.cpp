#include "exchange/OvalisOneFinder.h"

#include <QDir>
#include <QFileInfo>
#include <QThreadPool>

namespace ovalis {

OvalisOneFinder::OvalisOneFinder(QThreadPool *pool)
    : m_pool(pool ? pool : QThreadPool::globalInstance())
{
}

OvalisOneFinder &OvalisOneFinder::shared()
{
    static OvalisOneFinder finder;
    return finder;
}

void OvalisOneFinder::find(const QString &extension, Completion completion, const QString &root)
{
    quint64 generation;
    {
        QMutexLocker locker(&m_mutex);
        m_completion = std::move(completion);
        generation = ++m_generation;
    }
    const QString folder = root.isEmpty() ? QDir::homePath() : root;
    m_pool->start([this, folder, extension, generation] {
        const QStringList paths = search(folder, extension);
        Completion completion;
        {
            QMutexLocker locker(&m_mutex);
            if (generation != m_generation)
                return;
            completion = std::move(m_completion);
            m_completion = nullptr;
        }
        if (completion)
            completion(paths);
    });
}

QStringList OvalisOneFinder::search(const QString &root, const QString &extension)
{
    const QString suffix = QLatin1Char('.') + extension;
    QStringList found;
    QStringList folders{root};
    while (!folders.isEmpty()) {
        const QDir folder(folders.takeLast());
        // Without QDir::Hidden, hidden entries are left out.
        const QFileInfoList entries =
            folder.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name);
        for (const QFileInfo &entry : entries) {
            if (entry.isDir())
                folders.append(entry.filePath());
            else if (entry.fileName().endsWith(suffix, Qt::CaseInsensitive) && entry.fileName().size() > suffix.size())
                found.append(entry.filePath());
        }
    }
    found.sort();
    return found;
}

} // namespace ovalis
