#include "media/MediaFileWatcher.h"

#include <QFileInfo>
#include <utility>

namespace ovalis {

MediaFileWatcher::MediaFileWatcher(QObject *parent)
    : QObject(parent)
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(defaultSettleMilliseconds);
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, &MediaFileWatcher::changed);
    // A file renamed over a watched one shows as a change of its folder.
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, [this](const QString &directory) {
        for (const QString &file : std::as_const(m_files)) {
            if (QFileInfo(file).absolutePath() == directory && !m_watcher.files().contains(file) && QFileInfo::exists(file))
                changed(file);
        }
    });
    connect(&m_settle, &QTimer::timeout, this, &MediaFileWatcher::settled);
}

void MediaFileWatcher::watch(const QString &path)
{
    if (path.isEmpty() || m_files.contains(path))
        return;
    m_files.insert(path);
    m_watcher.addPath(path);
    m_watcher.addPath(QFileInfo(path).absolutePath());
}

void MediaFileWatcher::unwatch(const QString &path)
{
    if (!m_files.remove(path))
        return;
    m_changed.remove(path);
    m_watcher.removePath(path);
    const QString folder = QFileInfo(path).absolutePath();
    for (const QString &file : std::as_const(m_files)) {
        if (QFileInfo(file).absolutePath() == folder)
            return;
    }
    m_watcher.removePath(folder);
}

QStringList MediaFileWatcher::watchedFiles() const
{
    return QStringList(m_files.cbegin(), m_files.cend());
}

void MediaFileWatcher::changed(const QString &path)
{
    if (!m_files.contains(path))
        return;
    m_changed.insert(path);
    m_settle.start();
}

void MediaFileWatcher::settled()
{
    const QSet<QString> changed = std::exchange(m_changed, {});
    for (const QString &path : changed) {
        // Removed before its replacement arrived: the folder's change
        // reports it once the new file is there.
        if (!m_files.contains(path) || !QFileInfo::exists(path))
            continue;
        // Replaced files lose their watch; the new file takes it over.
        if (!m_watcher.files().contains(path))
            m_watcher.addPath(path);
        emit fileChanged(path);
    }
}

} // namespace ovalis
