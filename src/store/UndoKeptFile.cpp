#include "store/UndoKeptFile.h"

#include <QFile>
#include <QFileInfo>
#include <unistd.h>

#include "store/MediaFileStore.h"
#include "store/UndoFileFolder.h"
#include "util/Log.h"

namespace ovalis {

namespace {

// A fresh place in the undo folder for a copy of file.
QUrl placeFor(UndoFileFolder &folder, const QUrl &file, MediaWriteError *error)
{
    const QUrl url = folder.makeBackupURL(file);
    if (url.isEmpty()) {
        if (error)
            *error = MediaWriteError::runtimeError(QStringLiteral("No private folder for undo"));
        return {};
    }
    if (!MediaFileStore::createDirectory(MediaFileStore::folderURL(url), error))
        return {};
    return url;
}

} // namespace

UndoKeptFile::UndoKeptFile(const QUrl &url, Place place)
    : m_url(url)
    , m_place(place)
{
}

UndoKeptFile::~UndoKeptFile()
{
    if (!m_kept)
        return;
    if (m_place == Place::Library) {
        if (QFileInfo::exists(m_url.toLocalFile()))
            MediaFileStore::removeMediaFile(m_url);
        return;
    }
    const QString path = m_url.toLocalFile();
    QFile file(path);
    if (file.exists() && !file.remove())
        Log::error(LogArea::Filing, QStringLiteral("Unable to remove the copy kept for undo at ") + path
                                        + QStringLiteral(": ") + file.errorString());
    // The folder was made for this copy alone; one still holding anything stays.
    ::rmdir(QFile::encodeName(QFileInfo(path).path()).constData());
}

std::shared_ptr<UndoKeptFile> UndoKeptFile::copyOf(UndoFileFolder &folder, const QUrl &file, MediaWriteError *error)
{
    const QUrl url = placeFor(folder, file, error);
    if (url.isEmpty() || !MediaFileStore::backupMediaFile(file, url, error))
        return nullptr;
    return std::make_shared<UndoKeptFile>(url, Place::UndoFolder);
}

std::shared_ptr<UndoKeptFile> UndoKeptFile::moveAside(UndoFileFolder &folder, const QUrl &file, MediaWriteError *error)
{
    const QUrl url = placeFor(folder, file, error);
    if (url.isEmpty() || !MediaFileStore::moveItem(file, url, error))
        return nullptr;
    return std::make_shared<UndoKeptFile>(url, Place::UndoFolder);
}

bool UndoKeptFile::moveBack(const QUrl &destination, MediaWriteError *error)
{
    const auto move = [&] {
        return MediaFileStore::createDirectory(MediaFileStore::folderURL(destination), error)
               && MediaFileStore::moveItem(m_url, destination, error);
    };
    // The removal of another file may prune the folder just made: once more then.
    if (m_url != destination && !move() && !move())
        return false;
    if (m_place == Place::UndoFolder)
        ::rmdir(QFile::encodeName(MediaFileStore::folderURL(m_url).toLocalFile()).constData());
    m_kept = false;
    return true;
}

void UndoKeptFile::standIn(const QUrl &destination) const
{
    if (!QFileInfo::exists(destination.toLocalFile()))
        MediaFileStore::copyItem(m_url, destination);
}

} // namespace ovalis
