#include "exchange/RestoredMediaIdentifiers.h"

#include <QFileInfo>

#include "store/CoreDataStack.h"
#include "store/ManagedObjectContext.h"
#include "store/Media.h"
#include "store/MediaFileStore.h"
#include "store/MediaTypes.h"
#include "store/MediaUuid.h"
#include "util/Log.h"

namespace ovalis {

RestoredMediaIdentifiers::RestoredMediaIdentifiers(ManagedObjectContext *context)
    : m_context(context)
{
}

void RestoredMediaIdentifiers::load()
{
    m_loaded = true;
    FetchRequest request{Media::entityName()};
    request.unordered = true;
    for (ManagedObject *object : m_context->executeFetch(request)) {
        auto *media = static_cast<Media *>(object);
        if (const std::optional<QString> uuid = MediaUuid::canonical(media->uuid()))
            m_holders.insert(*uuid, media->fileName());
    }
}

void RestoredMediaIdentifiers::assign(Media *media, const QString &identifier)
{
    if (!m_loaded)
        load();
    const auto held = m_holders.constFind(identifier);
    if (held == m_holders.cend()) {
        media->setUuid(identifier);
        m_holders.insert(identifier, media->fileName());
        return;
    }
    // The record keeps the uuid it was inserted with.
    ++m_renamed;
    Log::info(LogArea::Importing, QStringLiteral("Media identifier %1 is already in use: restored as %2").arg(identifier, media->uuid()));
    copyFile(identifier, held.value(), media);
    m_holders.insert(media->uuid(), media->fileName());
}

void RestoredMediaIdentifiers::copyFile(const QString &holderUuid, const QString &holderFileName, Media *media)
{
    const std::optional<QUrl> ownURL = media->fileURL();
    if (holderFileName.isNull() || !ownURL || !m_context->stack())
        return;
    const QUrl mediaDirectory = MediaFileStore::mediaDirectoryURL(*m_context->stack());
    const QUrl holderURL = mediaDirectory.isEmpty()
                               ? QUrl()
                               : MediaFileStore::mediaFileURL(mediaDirectory, holderUuid, MediaTypes::extensionOf(holderFileName));
    if (holderURL.isEmpty() || !QFileInfo::exists(holderURL.toLocalFile()))
        return;
    const std::optional<QUrl> source = holderURL;
    // The copy keeps the type of the file it copies; when that differs from
    // the name the backup gives, the name follows the file, as it does when
    // a file is replaced.
    const QString extension = MediaTypes::extensionOf(source->toLocalFile());
    const QUrl destination = MediaFileStore::urlWithExtension(*ownURL, extension);
    MediaWriteError error;
    if (!MediaFileStore::createDirectory(MediaFileStore::folderURL(destination), &error)
        || !MediaFileStore::copyItem(*source, destination, &error)) {
        Log::error(LogArea::Importing, QStringLiteral("Unable to copy %1 for %2: %3")
                                           .arg(source->toLocalFile(), media->description(), error.message()));
        return;
    }
    if (extension != MediaTypes::extensionOf(ownURL->toLocalFile()))
        media->setFileName(MediaFileStore::lastPathComponent(destination));
    ++m_filesCopied;
}

} // namespace ovalis
