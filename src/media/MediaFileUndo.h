#pragma once

#include <QString>
#include <QUrl>
#include <memory>

#include "store/MediaWriteError.h"

#include "store/ObjectID.h"

namespace ovalis {

class ManagedObjectContext;
class Media;
class UndoKeptFile;
class UndoManager;

// Undo and redo of changes to media files (crops, external edits,
// annotations). Before a file changes a copy is kept for undo; undo swaps
// the file and the copy (the file taking back the name and type it had) and
// registers the opposite swap, so undo and redo alternate for as long as
// both files exist. The copy goes when no step can use it any more.
//
// Works on the records of one context (the main context) and its undo
// manager; main thread only. Copies are cheap: the undo actions hold one.
class MediaFileUndo
{
public:
    static inline const QString cropImageActionName = QStringLiteral("Crop Image");
    static inline const QString cropImagesActionName = QStringLiteral("Crop Images");
    static inline const QString editImageActionName = QStringLiteral("Edit Image");
    static inline const QString annotateImageActionName = QStringLiteral("Annotate Image");

    explicit MediaFileUndo(ManagedObjectContext *context); // Not owned.

    UndoManager *undoManager() const;

    // A copy of the media's file in the library's undo folder, taken before
    // the file changes; nothing, with error filled in, when it cannot be made.
    std::shared_ptr<UndoKeptFile> keepCopy(const QUrl &fileURL, MediaWriteError *error = nullptr) const;

    // Registers a swapWithBackup of the same values (when there is an undo
    // manager) and names the action.
    void registerSwapUndo(const ObjectID &mediaID, const std::shared_ptr<UndoKeptFile> &backup, const QString &actionName) const;
    // The backup becomes the media's file (its fileName following the
    // backup's extension); the replaced content moves next to the backup,
    // and swapping it back is registered. False when the record or a file is
    // gone, which ends the chain.
    bool swapWithBackup(const ObjectID &mediaID, const std::shared_ptr<UndoKeptFile> &backup, const QString &actionName) const;

private:
    Media *mediaWithFile(const ObjectID &mediaID) const;

    ManagedObjectContext *m_context;
};

} // namespace ovalis
