#include "media/MediaFileUndo.h"

#include "store/CoreDataStack.h"
#include "store/LibraryNotifications.h"
#include "store/ManagedObjectContext.h"
#include "store/Media.h"
#include "store/UndoKeptFile.h"
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

std::shared_ptr<UndoKeptFile> MediaFileUndo::keepCopy(const QUrl &fileURL, MediaWriteError *error) const
{
    if (!m_context || !m_context->stack()) {
        if (error)
            *error = MediaWriteError::runtimeError(QStringLiteral("The media is not in a library"));
        return nullptr;
    }
    return UndoKeptFile::copyOf(m_context->stack()->undoFiles(), fileURL, error);
}

void MediaFileUndo::registerSwapUndo(const ObjectID &mediaID, const std::shared_ptr<UndoKeptFile> &backup,
                                     const QString &actionName) const
{
    UndoManager *undo = undoManager();
    if (!undo || !backup)
        return;
    const MediaFileUndo target = *this;
    undo->registerUndo([target, mediaID, backup, actionName] { target.swapWithBackup(mediaID, backup, actionName); });
    undo->setActionName(actionName);
}

bool MediaFileUndo::swapWithBackup(const ObjectID &mediaID, const std::shared_ptr<UndoKeptFile> &backup,
                                   const QString &actionName) const
{
    Media *media = mediaWithFile(mediaID);
    if (!media)
        return false;
    Log::info(LogArea::UI, QStringLiteral("Swap edited media ") + media->description() + QStringLiteral(" with backup at ")
                               + backup->url().toString(QUrl::FullyEncoded));
    MediaWriteError error;
    std::optional<QUrl> next;
    {
        // The swap sets fileName itself, both ways; the store's undo must
        // not record it as well.
        UndoRegistrationPause pause(undoManager());
        next = media->restoreFromBackup(*media->fileURL(), backup->url(), &error);
    }
    if (!next) {
        Log::error(LogArea::UI, QStringLiteral("Unable to restore image from ") + backup->url().toLocalFile()
                                    + QStringLiteral(": ") + error.message());
        return false;
    }
    backup->setURL(*next);
    NotificationCenter::defaultCenter().post(LibraryNotifications::updatedMedia);
    registerSwapUndo(mediaID, backup, actionName);
    return true;
}

} // namespace ovalis
