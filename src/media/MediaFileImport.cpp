#include "media/MediaFileImport.h"

#include <QCoreApplication>
#include <QFile>
#include <QPointer>
#include <QSet>
#include <memory>

#include "store/Case.h"
#include "store/CoreDataStack.h"
#include "store/ManagedObjectContext.h"
#include "store/Media.h"
#include "store/SharedBackgroundContext.h"
#include "store/UndoKeptFile.h"
#include "util/NotificationCenter.h"
#include "util/UndoManager.h"

namespace ovalis {

namespace {

const QString updatedMedia = QStringLiteral("Updated Media");

// An imported media record while its import is undone: its values, and where
// its file waits for a redo.
struct SetAsideMedia {
    QString uuid;
    QString fileName;
    int orderIndex = 0;
    QDateTime creationDate;
    std::shared_ptr<UndoKeptFile> backup;
};

void registerUndoOfImport(ManagedObjectContext *context, const ObjectID &caseID, const QStringList &uuids);

// Runs work on the main context with the store's own undo registration off:
// the import's undo steps are these explicit ones.
void withoutStoreUndo(ManagedObjectContext *context, const std::function<void()> &work)
{
    UndoManager *undo = context->undoManager();
    undo->disableUndoRegistration();
    work();
    undo->enableUndoRegistration();
}

void restoreImport(ManagedObjectContext *context, const ObjectID &caseID, const QList<SetAsideMedia> &setAside)
{
    auto *target = static_cast<Case *>(context->existingObject(caseID));
    if (!target)
        return;
    QStringList uuids;
    withoutStoreUndo(context, [&] {
        for (const SetAsideMedia &item : setAside) {
            // Back in its place: media added in the middle of a case push the later ones on.
            for (Media *other : target->media())
                if (other->orderIndex() >= item.orderIndex)
                    other->setOrderIndex(other->orderIndex() + 1);
            auto *media = context->insertNew<Media>();
            media->setUuid(item.uuid);
            media->setFileName(item.fileName);
            media->setOrderIndex(item.orderIndex);
            media->setCreationDate(item.creationDate);
            media->setItsCase(target);
            const std::optional<QUrl> url = media->fileURL();
            MediaWriteError error;
            if (!item.backup || !url || !item.backup->moveBack(*url, &error))
                Log::error(LogArea::Filing, QStringLiteral("Unable to restore file from ")
                                                + (item.backup ? item.backup->url().path() : QString()) + QStringLiteral(": ")
                                                + error.message());
            uuids.append(item.uuid);
        }
        target->rationaliseOrderIndexes();
    });
    NotificationCenter::defaultCenter().post(updatedMedia);
    registerUndoOfImport(context, caseID, uuids);
}

void undoImport(ManagedObjectContext *context, const ObjectID &caseID, const QStringList &uuids)
{
    auto *target = static_cast<Case *>(context->existingObject(caseID));
    if (!target)
        return;
    QList<SetAsideMedia> setAside;
    withoutStoreUndo(context, [&] {
        for (Media *media : target->sortedMedia()) {
            if (!uuids.contains(media->uuid()))
                continue;
            SetAsideMedia item{media->uuid(), media->fileName(), media->orderIndex(), media->creationDate(), nullptr};
            // The file waits in the undo folder for a redo, and goes when
            // the redo can no longer be taken; the record's deletion then
            // finds nothing to remove.
            if (const std::optional<QUrl> url = media->existingFileURL()) {
                MediaWriteError error;
                item.backup = UndoKeptFile::moveAside(context->stack()->undoFiles(), *url, &error);
                if (!item.backup)
                    Log::error(LogArea::Filing, QStringLiteral("Backup media file failed for ") + media->description()
                                                    + QStringLiteral(": ") + error.message());
            }
            setAside.append(item);
            context->deleteObject(media);
        }
        target->rationaliseOrderIndexes();
    });
    NotificationCenter::defaultCenter().post(updatedMedia);
    context->undoManager()->registerUndo([context, caseID, setAside] { restoreImport(context, caseID, setAside); });
}

void registerUndoOfImport(ManagedObjectContext *context, const ObjectID &caseID, const QStringList &uuids)
{
    context->undoManager()->registerUndo([context, caseID, uuids] { undoImport(context, caseID, uuids); });
}

} // namespace

void MediaFileImport::registerUndoOfAddedMedia(ManagedObjectContext *context, const ObjectID &caseID, const QStringList &uuids)
{
    registerUndoOfImport(context, caseID, uuids);
}

void MediaFileImport::importFiles(Case *target, const QList<QUrl> &urls, const Options &options, std::function<void()> finished)
{
    ManagedObjectContext *mainContext = target ? target->managedObjectContext() : nullptr;
    if (!mainContext || !mainContext->stack())
        return;
    mainContext->saveWithParent(true);
    const ObjectID caseID = target->objectID();
    const std::shared_ptr<ManagedObjectContext> child = SharedBackgroundContext::writerFor(mainContext);
    ManagedObjectContext *context = child.get();
    QPointer<ManagedObjectContext> parent(mainContext);
    context->perform([context, keepAlive = child, parent, caseID, urls, options, finished] {
        QStringList imported;
        for (const QUrl &url : urls) {
            Log::info(options.logArea, QStringLiteral("Import ") + url.toString(QUrl::FullyEncoded));
            const auto failed = [&](const QString &reason) {
                Log::error(options.logArea, QStringLiteral("Unable to import media at URL: ") + url.path() + QStringLiteral(" (")
                                                + reason + QLatin1Char(')'));
            };
            QFile file(url.toLocalFile());
            QByteArray data;
            if (file.open(QIODevice::ReadOnly))
                data = file.readAll();
            if (!file.isOpen() || file.error() != QFileDevice::NoError) {
                failed(file.errorString());
                continue;
            }
            file.close();
            auto *item = static_cast<Case *>(context->existingObject(caseID));
            Media *media = item ? item->addMedia(data, url.fileName()) : nullptr;
            if (!media)
                continue;
            imported.append(media->uuid());
            if (!options.moveFilesToTrash)
                continue;
            // Only a file safely copied into the library leaves its place.
            if (!media->fileExists()) {
                failed(QStringLiteral("the copy in the library could not be written"));
                continue;
            }
            Log::info(options.logArea, QStringLiteral("Move to trash ") + url.path());
            if (!file.moveToTrash())
                failed(file.errorString());
        }
        context->saveWithParent(true);
        // The window learns of the new media before it is told the import ended.
        context->waitForQueuedParentWork();
        NotificationCenter::defaultCenter().post(updatedMedia);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [parent, caseID, imported, options, finished] {
                if (!parent)
                    return;
                if (!options.undoActionName.isEmpty() && !imported.isEmpty() && parent->undoManager()) {
                    UndoManager *undo = parent->undoManager();
                    undo->beginUndoGrouping();
                    registerUndoOfImport(parent, caseID, imported);
                    undo->setActionName(options.undoActionName);
                    undo->endUndoGrouping();
                }
                if (finished)
                    finished();
            },
            Qt::QueuedConnection);
    });
}

} // namespace ovalis
