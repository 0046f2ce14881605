#pragma once

#include <QString>
#include <QUrl>

#include "store/ObjectID.h"

namespace ovalis {

class ManagedObjectContext;
class Media;
class UndoManager;

// Undo and redo of changes to media files (crops, external edits,
// annotations). Before a file changes a copy goes to a backup; undo swaps
// the file and the backup and registers the opposite swap, so undo and redo
// alternate for as long as both files exist.
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

    // Registers a swapWithBackup of the same values (when there is an undo
    // manager) and names the action.
    void registerSwapUndo(const ObjectID &mediaID, const QUrl &backup, const QString &actionName) const;
    // The backup becomes the media's file (its fileName following the
    // backup's extension); the replaced content moves next to the backup,
    // and swapping it back is registered. False when the record or a file is
    // gone, which ends the chain.
    bool swapWithBackup(const ObjectID &mediaID, const QUrl &backup, const QString &actionName) const;

    // As registerSwapUndo, for an annotation: the swap keeps the file's
    // current name, whatever the restored content is.
    void registerAnnotationUndo(const ObjectID &mediaID, const QUrl &backup) const;
    bool swapAnnotationBackup(const ObjectID &mediaID, const QUrl &backup) const;

private:
    Media *mediaWithFile(const ObjectID &mediaID) const;

    ManagedObjectContext *m_context;
};

} // namespace ovalis
