#include "transfer/OvalisMissingMediaManager.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSet>
#include <utility>

#include "store/Case.h"
#include "store/CoreDataStack.h"
#include "store/ManagedObjectContext.h"
#include "store/Media.h"
#include "store/MediaFileStore.h"
#include "store/MediaTypes.h"
#include "store/ObjectID.h"
#include "store/UuidDirectoryPath.h"
#include "transfer/MediaRequestMessage.h"
#include "util/FileCreationMode.h"
#include "util/Log.h"
#include "util/ThreadPriority.h"

namespace ovalis {

OvalisMissingMediaManager::OvalisMissingMediaManager(CoreDataStack &stack)
    : m_stack(stack)
    , m_mainManagedObjectContext(stack.mainContext())
{
    setBaseDirectoryURL(MediaFileStore::mediaDirectoryURL(stack));
}

OvalisMissingMediaManager::~OvalisMissingMediaManager()
{
    *m_alive = false;
    m_cancelled->store(true);
    // A scan reads through a connection of its own and never waits for the
    // main thread, so waiting for it here cannot deadlock: one in the middle
    // of its reading stops at the next record, one still queued skips it.
    m_scanQueue.waitForDone();
}

// What a scan found: every missing media of a case (counted), and those among
// them a peer can be asked for, in the order found.
struct OvalisMissingMediaManager::Scan {
    QList<ObjectID> counted;
    QList<MissingMediaItem> items;
    QHash<QString, ObjectID> byUuid; // the items' records
};

void OvalisMissingMediaManager::refreshMissingMedia(std::function<void()> completion)
{
    clearMissingMedia();
    if (!m_mainManagedObjectContext)
        return;
    // Saved first, the edits the windows made are in the file the worker
    // reads, under the permanent identifiers the main context resolves. What
    // stays unsaved is judged when the scan ends.
    QString error;
    if (!m_mainManagedObjectContext->save(&error))
        Log::error(LogArea::CoreData, QStringLiteral("Unable to save before looking for missing media: ") + error);
    const std::optional<QUrl> base = baseDirectoryURL();
    std::weak_ptr<bool> alive = m_alive;
    CoreDataStack *stack = &m_stack;
    m_scanQueue.async([this, stack, base, alive, cancelled = m_cancelled, completion = std::move(completion)] {
        const std::shared_ptr<Scan> scan = readStore(*stack, base, *cancelled);
        if (!scan)
            return;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [this, alive, scan, completion] {
                if (alive.lock())
                    takeMissingMedia(*scan, completion);
            },
            Qt::QueuedConnection);
    });
}

std::shared_ptr<OvalisMissingMediaManager::Scan> OvalisMissingMediaManager::readStore(CoreDataStack &stack, const std::optional<QUrl> &base,
                                                                                      const std::atomic<bool> &cancelled)
{
    if (cancelled.load())
        return nullptr;
    auto scan = std::make_shared<Scan>();
    // Made, used and let go of on this worker: neither the reading nor the
    // freeing of its objects (one per record) falls to the main thread.
    const std::unique_ptr<ManagedObjectContext> reader = stack.contextForStore(stack.storePath(), true, false);
    if (!reader) {
        Log::error(LogArea::CoreData, QStringLiteral("Failed to get array of media"));
        return scan;
    }
    bool finished = false;
    reader->performAndWait([&] {
        // Lowered, the reader yields the cores to the window whenever the window has work.
        lowerCurrentThreadPriority();
        if (cancelled.load())
            return;
        QString error;
        FetchRequest request;
        request.entityName = Media::entityName();
        QList<ManagedObject *> objects = reader->executeFetch(request, &error);
        if (!error.isEmpty()) {
            Log::error(LogArea::CoreData, QStringLiteral("Failed to get array of media"));
            objects.clear();
        }
        for (ManagedObject *object : std::as_const(objects)) {
            if (cancelled.load())
                return;
            auto *media = static_cast<Media *>(object);
            if (fileIsMissing(media, base))
                noteMissing(media, *scan);
        }
        finished = true;
    });
    return finished ? scan : nullptr;
}

bool OvalisMissingMediaManager::fileIsMissing(Media *media, const std::optional<QUrl> &base)
{
    if (media->uuid().isEmpty() || media->fileName().isEmpty()) {
        Log::info(LogArea::CoreData, QStringLiteral("Unable to create URL: ") + media->description());
        return true;
    }
    const QString extension = MediaTypes::extensionOf(media->fileName());
    return !base || !QFileInfo::exists(MediaFileStore::mediaFileURL(*base, media->uuid(), extension).toLocalFile());
}

void OvalisMissingMediaManager::noteMissing(Media *media, Scan &scan)
{
    Case *owner = media->itsCase();
    const QString patientID = owner ? owner->patientID() : QString();
    Log::info(LogArea::CoreData, patientID.isEmpty() ? QStringLiteral("?") : patientID);
    if (!owner)
        return;
    scan.counted.append(media->objectID());
    // Counted but never requested: without a well-formed uuid and a file
    // name there is nothing a peer could send.
    if (MediaRequestMessage::isCanonicalUuid(media->uuid()) && !media->fileName().isEmpty()) {
        scan.items.append({media->uuid(), MediaTypes::extensionOf(media->fileName())});
        scan.byUuid.insert(media->uuid(), media->objectID());
    }
}

void OvalisMissingMediaManager::judgeUnsavedMedia(Scan &scan) const
{
    // Inserted, changed or deleted since the save the scan started with (or
    // all along, when that save failed): the file has them as they were, if at all.
    QList<Media *> edited;
    QSet<ObjectID> replaced;
    for (const QList<ManagedObject *> &objects : {m_mainManagedObjectContext->insertedObjects(),
                                                  m_mainManagedObjectContext->updatedObjects(),
                                                  m_mainManagedObjectContext->deletedObjects()})
        for (ManagedObject *object : objects)
            if (object->entityName() == Media::entityName() && !replaced.contains(object->objectID())) {
                replaced.insert(object->objectID());
                edited.append(static_cast<Media *>(object));
            }
    if (edited.isEmpty())
        return;
    scan.counted.removeIf([&replaced](const ObjectID &id) { return replaced.contains(id); });
    scan.items.removeIf([&](const MissingMediaItem &item) { return replaced.contains(scan.byUuid.value(item.uuidString)); });
    scan.byUuid.removeIf([&replaced](const QHash<QString, ObjectID>::iterator &entry) { return replaced.contains(entry.value()); });
    for (Media *media : std::as_const(edited))
        if (!media->isDeleted() && fileIsMissing(media, baseDirectoryURL()))
            noteMissing(media, scan);
}

void OvalisMissingMediaManager::takeMissingMedia(Scan &scan, const std::function<void()> &completion)
{
    judgeUnsavedMedia(scan);
    Log::info(LogArea::CoreData, QStringLiteral("Got %1 missing media").arg(scan.counted.size()));
    // Handed over whole: the main thread copies none of the records, and the
    // worklist is the only owner of its items when the requests take them.
    m_scannedMedia = std::move(scan.byUuid);
    setMissingMedia(int(scan.counted.size()), std::exchange(scan.items, {}));
    if (completion)
        completion();
}

void OvalisMissingMediaManager::storeReceivedFile(const QString &uuid, const QUrl &location, std::function<void()> completion)
{
    if (!MediaRequestMessage::isCanonicalUuid(uuid) || !baseDirectoryURL())
        return;
    m_mainManagedObjectContext->performAndWait([&] {
        Media *media = mediaForUuid(uuid);
        if (!media || media->fileName().isEmpty())
            return;
        const QUrl destination = MediaFileStore::mediaFileURL(*baseDirectoryURL(), uuid, MediaTypes::extensionOf(media->fileName()));
        const QUrl folder = MediaFileStore::folderURL(destination);
        MediaWriteError error;
        // The session removes its temporary file after this call, so the file
        // is moved into place rather than copied: a rename, as the session
        // writes it in the media directory once that exists. The temporary
        // file is private; in place it gets the mode an imported file gets.
        QString modeError;
        if (!FileCreationMode::applyTo(location.toLocalFile(), &modeError)) {
            Log::error(LogArea::Filing, QStringLiteral("Unable to copy resource: ") + modeError);
            return;
        }
        if (!MediaFileStore::createDirectory(folder, &error) || !MediaFileStore::moveItem(location, destination, &error)) {
            Log::error(LogArea::Filing, QStringLiteral("Unable to copy resource: ") + error.message());
            return;
        }
        if (completion)
            QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(completion), Qt::QueuedConnection);
    });
}

Media *OvalisMissingMediaManager::mediaForUuid(const QString &uuid)
{
    // A file arrives per request: a fetch each would cost the main thread
    // a query of the store.
    const auto scanned = m_scannedMedia.constFind(uuid);
    if (scanned != m_scannedMedia.cend()) {
        auto *media = static_cast<Media *>(m_mainManagedObjectContext->existingObject(*scanned));
        if (media && !media->isDeleted() && media->uuid() == uuid)
            return media;
    }
    return static_cast<Media *>(
        m_mainManagedObjectContext->object(Media::entityName(), Predicate::fromFormat(QStringLiteral("uuid == %@"), {uuid})));
}

} // namespace ovalis
