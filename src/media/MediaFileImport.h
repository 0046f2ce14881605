#pragma once

#include <QList>
#include <QString>
#include <QUrl>
#include <functional>

#include "util/Log.h"

namespace ovalis {

class Case;
class ManagedObjectContext;
struct ObjectID;

// Adds files to a case as new media, in order, on a private-queue child of
// the case's context (the main context), the way the media grid and the
// case list take dropped and chosen files.
class MediaFileImport
{
public:
    struct Options {
        // The category of the "Import " and failure lines.
        LogArea logArea = LogArea::Importing;
        // Moves each file imported into the trash.
        bool moveFilesToTrash = false;
        // When set, the import becomes one step of the context's undo
        // manager with this name; undoing it takes the media and their files
        // out of the case, redoing brings them back.
        QString undoActionName;
    };

    // Call on the main thread. Saves the case's context (asking its parent)
    // and returns at once; the files are read on the child's thread. A file
    // that cannot be read is logged ("Unable to import media at URL: ") and
    // skipped. finished runs on the main thread once the child has saved
    // into the case's context and the store, after "Updated Media".
    static void importFiles(Case *target, const QList<QUrl> &urls, const Options &options,
                            std::function<void()> finished = {});

    // Registers, on the context's undo manager, the undo of media added to
    // the case (by their uuids) as an import is undone: undo takes the
    // records out and sets their files aside, redo puts both back.
    static void registerUndoOfAddedMedia(ManagedObjectContext *context, const ObjectID &caseID, const QStringList &uuids);
};

} // namespace ovalis
