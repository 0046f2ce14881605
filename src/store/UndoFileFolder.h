#pragma once

#include <QString>
#include <QUrl>
#include <mutex>

namespace ovalis {

// The private folder in which undo keeps its copies of media files: a file
// as it was before a crop, an external edit or an annotation, and the file
// of a deleted media record. Patient images, so the folder lies in the
// user's own cache folder and is readable by the user alone.
//
// Each open library has a folder of its own below root, made on first use
// and locked (flock on a lock file beside it) for as long as the library is
// open. A folder whose lock nobody holds was left by a crash and is removed
// by removeAbandoned(), which the store runs when it opens.
//
// path() and makeBackupURL() are thread-safe.
class UndoFileFolder
{
public:
    // The application's cache folder + "undo": ~/.cache/vantor/Ovalis/undo
    // (below $XDG_CACHE_HOME when it is set).
    static QString defaultRoot();

    // An empty root means defaultRoot() at the time of first use.
    explicit UndoFileFolder(const QString &root = QString());
    // Removes this library's folder with everything still in it.
    ~UndoFileFolder();
    UndoFileFolder(const UndoFileFolder &) = delete;
    UndoFileFolder &operator=(const UndoFileFolder &) = delete;

    QString root() const;
    // This library's folder, made (mode 0700, inside a root of mode 0700)
    // and locked on first use; empty, with the reason logged, when it cannot
    // be made or root belongs to someone else.
    QString path();
    // path / a new UUID / the file's last component: a fresh folder for each
    // copy, made by whoever writes the copy. Empty without a folder.
    QUrl makeBackupURL(const QUrl &fileURL);

    // Removes the library folders below root that no open library holds,
    // with their lock files; answers how many went.
    static int removeAbandoned(const QString &root = defaultRoot());

private:
    mutable std::mutex m_mutex;
    QString m_root;
    QString m_path;
    QString m_lockPath;
    int m_lockDescriptor = -1;
    bool m_failed = false;
};

} // namespace ovalis
