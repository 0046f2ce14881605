#include "transfer/OvalisMissingMediaManager.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <algorithm>

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
    // A scan asks the main context for its records and waits for the main
    // thread: waiting here runs the main queue meanwhile, so a scan in the
    // middle of its fetch can finish. Deleting the context then ends its thread.
    for (const std::unique_ptr<ManagedObjectContext> &context : m_scans)
        context->performAndWait([] {});
    m_scans.clear();
}

void OvalisMissingMediaManager::refreshMissingMedia(std::function<void()> completion)
{
    clearMissingMedia();
    std::unique_ptr<ManagedObjectContext> child = m_stack.newBackgroundContext();
    if (!child)
        return;
    ManagedObjectContext *context = child.get();
    m_scans.push_back(std::move(child));
    const std::optional<QUrl> base = baseDirectoryURL();
    std::weak_ptr<bool> alive = m_alive;
    context->perform([this, context, base, alive, cancelled = m_cancelled, completion] {
        if (cancelled->load())
            return;
        QString error;
        FetchRequest request;
        request.entityName = Media::entityName();
        QList<ManagedObject *> objects = context->executeFetch(request, &error);
        if (cancelled->load())
            return;
        if (!error.isEmpty()) {
            Log::error(LogArea::CoreData, QStringLiteral("Failed to get array of media"));
            objects.clear();
        }
        QList<Media *> missing;
        for (ManagedObject *object : objects) {
            auto *media = static_cast<Media *>(object);
            if (media->uuid().isEmpty() || media->fileName().isEmpty()) {
                Log::info(LogArea::CoreData, QStringLiteral("Unable to create URL: ") + media->description());
                missing.append(media);
                continue;
            }
            const QString extension = MediaTypes::extensionOf(media->fileName());
            if (!base || !QFileInfo::exists(MediaFileStore::mediaFileURL(*base, media->uuid(), extension).toLocalFile()))
                missing.append(media);
        }
        QList<ObjectID> ids;
        for (Media *media : missing) {
            Case *owner = media->itsCase();
            const QString patientID = owner ? owner->patientID() : QString();
            Log::info(LogArea::CoreData, patientID.isEmpty() ? QStringLiteral("?") : patientID);
            if (owner)
                ids.append(media->objectID());
        }
        Log::info(LogArea::CoreData, QStringLiteral("Got %1 missing media").arg(ids.size()));
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [this, alive, context, ids, completion] {
                if (!alive.lock())
                    return;
                endScan(context);
                takeMissingMedia(ids, completion);
            },
            Qt::QueuedConnection);
    });
}

void OvalisMissingMediaManager::endScan(ManagedObjectContext *context)
{
    const auto found = std::find_if(m_scans.begin(), m_scans.end(),
                                    [context](const std::unique_ptr<ManagedObjectContext> &scan) { return scan.get() == context; });
    if (found != m_scans.end())
        m_scans.erase(found);
}

void OvalisMissingMediaManager::takeMissingMedia(const QList<ObjectID> &ids, const std::function<void()> &completion)
{
    QList<MissingMediaItem> items;
    m_scannedMedia.clear();
    for (const ObjectID &id : ids) {
        auto *media = static_cast<Media *>(m_mainManagedObjectContext->existingObject(id));
        // Counted but never requested: without a well-formed uuid and a file
        // name there is nothing a peer could send.
        if (media && MediaRequestMessage::isCanonicalUuid(media->uuid()) && !media->fileName().isEmpty()) {
            items.append({media->uuid(), MediaTypes::extensionOf(media->fileName())});
            m_scannedMedia.insert(media->uuid(), id);
        }
    }
    setMissingMedia(int(ids.size()), items);
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
