#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QSet>
#include <QTimer>

namespace ovalis {

// Watches media files that an external editor may have open and reports
// when one changes on disk. Editors often save by writing a new file and
// renaming it over the old one, which ends a plain watch; the watch is then
// taken up again on the new file. Bursts of changes to a file are reported
// once, after they have settled for settleMilliseconds.
//
// Lives on the main thread; fileChanged is emitted from the event loop.
class MediaFileWatcher : public QObject
{
    Q_OBJECT

public:
    static constexpr int defaultSettleMilliseconds = 300;

    explicit MediaFileWatcher(QObject *parent = nullptr);

    void watch(const QString &path);
    void unwatch(const QString &path);
    QStringList watchedFiles() const;
    void setSettleMilliseconds(int milliseconds) { m_settle.setInterval(milliseconds); }

signals:
    void fileChanged(const QString &path);

private:
    void changed(const QString &path);
    void settled();

    QFileSystemWatcher m_watcher;
    QSet<QString> m_files;   // wanted, whether or not they exist right now
    QSet<QString> m_changed; // waiting for the burst to settle
    QTimer m_settle;
};

} // namespace ovalis
