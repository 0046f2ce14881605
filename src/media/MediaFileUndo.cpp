#include "media/MediaFileUndo.h"

#include "library/LibraryNotifications.h"
#include "media/MediaFileStore.h"
#include "store/ManagedObjectContext.h"
#include "store/Media.h"
#include "util/Log.h"
#include "util/NotificationCenter.h"
#include "util/UndoManager.h"
#include "util/UndoRegistrationPause.h"

namespace ovalis {

MediaFileUndo::MediaFileUndo(ManagedObjectContext *context)
    : m_context(context)
{
}

UndoManager *MediaFileUndo::undoManager() const
{
    return m_context ? m_context->undoManager() : nullptr;
}

Media *MediaFileUndo::mediaWithFile(const ObjectID &mediaID) const
{
    if (!m_context)
        return nullptr;
    ManagedObject *object = m_context->existingObject(mediaID);
    if (!object || object->isDeleted() || object->entityName() != Media::entityName())
        return nullptr;
    auto *media = static_cast<Media *>(object);
    return media->fileURL() ? media : nullptr;
}

void MediaFileUndo::registerSwapUndo(const ObjectID &mediaID, const QUrl &backup, const QString &actionName) const
{
    UndoManager *undo = undoManager();
    if (!undo)
        return;
    const MediaFileUndo target = *this;
    undo->registerUndo([target, mediaID, backup, actionName] { target.swapWithBackup(mediaID, backup, actionName); });
    undo->setActionName(actionName);
}

bool MediaFileUndo::swapWithBackup(const ObjectID &mediaID, const QUrl &backup, const QString &actionName) const
{
    Media *media = mediaWithFile(mediaID);
    if (!media)
        return false;
    Log::info(LogArea::UI, QStringLiteral("Swap edited media ") + media->description() + QStringLiteral(" with backup at ")
                               + backup.toString(QUrl::FullyEncoded));
    MediaWriteError error;
    std::optional<QUrl> next;
    {
        // The swap sets fileName itself, both ways; the store's undo must
        // not record it as well.
        UndoRegistrationPause pause(undoManager());
        next = media->restoreFromBackup(*media->fileURL(), backup, &error);
    }
    if (!next) {
        Log::error(LogArea::UI, QStringLiteral("Unable to restore image from ") + backup.toLocalFile() + QStringLiteral(": ")
                                    + error.message());
        return false;
    }
    NotificationCenter::defaultCenter().post(LibraryNotifications::updatedMedia);
    registerSwapUndo(mediaID, *next, actionName);
    return true;
}

void MediaFileUndo::registerAnnotationUndo(const ObjectID &mediaID, const QUrl &backup) const
{
    UndoManager *undo = undoManager();
    if (!undo)
        return;
    const MediaFileUndo target = *this;
    undo->registerUndo([target, mediaID, backup] { target.swapAnnotationBackup(mediaID, backup); });
    undo->setActionName(annotateImageActionName);
}

bool MediaFileUndo::swapAnnotationBackup(const ObjectID &mediaID, const QUrl &backup) const
{
    Media *media = mediaWithFile(mediaID);
    if (!media)
        return false;
    const QUrl current = *media->fileURL();
    const QUrl next = MediaFileStore::makeBackupURL(current);
    MediaWriteError error;
    const bool swapped = MediaFileStore::createDirectory(MediaFileStore::folderURL(next), &error)
                         && MediaFileStore::copyItem(current, next, &error) && MediaFileStore::removeItem(current, &error)
                         && MediaFileStore::moveItem(backup, current, &error);
    if (!swapped) {
        Log::error(LogArea::UI, QStringLiteral("AnnotationViewController: undo swap failed – ") + error.message());
        return false;
    }
    NotificationCenter::defaultCenter().post(LibraryNotifications::updatedMedia);
    registerAnnotationUndo(mediaID, next);
    return true;
}

} // namespace ovalis
