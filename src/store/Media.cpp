#include "store/Media.h"

#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include "store/Case.h"
#include "store/CoreDataStack.h"
#include "store/ManagedObjectContext.h"
#include "store/MediaFileStore.h"
#include "store/MediaImageDecoder.h"
#include "store/MediaTypes.h"
#include "store/MediaUuid.h"
#include "store/UndoKeptFile.h"
#include "store/UuidDirectoryPath.h"
#include "util/Log.h"
#include "util/NotificationCenter.h"
#include "util/SerialQueue.h"
#include "util/UndoManager.h"

namespace ovalis {

Media::Media(const EntityDescription &entity, int entityIndex)
    : ManagedObject(entity, entityIndex)
{
}

Case *Media::itsCase() const
{
    return static_cast<Case *>(toOne(ItsCase));
}

void Media::setItsCase(Case *owner)
{
    setToOne(ItsCase, owner);
}

std::optional<QUrl> Media::fileURL() const
{
    const QString id = uuid();
    const QString name = fileName();
    ManagedObjectContext *context = managedObjectContext();
    if (id.isEmpty() || name.isNull() || !context || !context->stack())
        return std::nullopt;
    const QUrl mediaDirectory = MediaFileStore::mediaDirectoryURL(*context->stack());
    if (mediaDirectory.isEmpty())
        return std::nullopt;
    const QUrl url = MediaFileStore::mediaFileURL(mediaDirectory, id, MediaTypes::extensionOf(name));
    if (url.isEmpty())
        return std::nullopt;
    return url;
}

QString Media::filePath() const
{
    const std::optional<QUrl> url = fileURL();
    return url ? url->toLocalFile() : QString();
}

bool Media::fileExists() const
{
    const std::optional<QUrl> url = fileURL();
    if (!url) {
        Log::info(LogArea::Filing, QStringLiteral("Unable to create URL: ") + description());
        return false;
    }
    return QFileInfo::exists(url->toLocalFile());
}

std::optional<QUrl> Media::existingFileURL() const
{
    return fileExists() ? fileURL() : std::nullopt;
}

QImage Media::image() const
{
    const std::optional<QUrl> url = existingFileURL();
    // A movie is never an image; its bytes are not worth reading to find that out.
    if (!url || MediaTypes::isMovie(MediaTypes::extensionOf(url->toLocalFile())))
        return {};
    QFile file(url->toLocalFile());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return {};
    return MediaImageDecoder::decode(data);
}

bool Media::overwriteImage(const QImage &image, MediaWriteError *error)
{
    const std::optional<QUrl> url = fileURL();
    if (!url) {
        if (error)
            *error = MediaWriteError::runtimeError(QStringLiteral("Unable to get Media file URL"));
        return false;
    }
    const QUrl target = MediaFileStore::urlWithExtension(*url, MediaTypes::preferredExtension(MediaType::JPEG));
    Log::info(LogArea::Filing, QStringLiteral("Remove image at ") + url->toLocalFile());
    if (!MediaFileStore::removeItem(*url, error))
        return false;
    Log::info(LogArea::Filing, QStringLiteral("Overwrite cropped image to ") + target.toLocalFile());
    if (!MediaFileStore::writeImage(image, target, MediaType::JPEG, error))
        return false;
    const QString name = MediaFileStore::lastPathComponent(target);
    const QString before = description();
    setFileName(name);
    Log::info(LogArea::Filing, QStringLiteral("Set file name for ") + before + QStringLiteral(" to ") + name);
    return true;
}

std::optional<QUrl> Media::restoreFromBackup(const QUrl &current, const QUrl &backup, MediaWriteError *error)
{
    Log::info(LogArea::Filing, QStringLiteral("Restoring from\r\t") + backup.toLocalFile() + QStringLiteral(" to\r\t")
                                   + current.toLocalFile());
    const QString currentExtension = MediaTypes::extensionOf(current.toLocalFile());
    const QString backupExtension = MediaTypes::extensionOf(backup.toLocalFile());
    const QUrl restored = MediaFileStore::urlWithExtension(current, backupExtension);
    const QUrl nextBackup = MediaFileStore::urlWithExtension(backup, currentExtension);
    MediaWriteError failure;
    bool moved;
    if (currentExtension == backupExtension) {
        moved = MediaFileStore::swapItems(current, backup, &failure);
    } else {
        const QUrl temporary = QUrl::fromLocalFile(MediaFileStore::folderURL(backup).toLocalFile() + QLatin1Char('/')
                                                   + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()
                                                   + (currentExtension.isEmpty() ? QString() : QLatin1Char('.') + currentExtension));
        moved = MediaFileStore::moveItem(current, temporary, &failure) && MediaFileStore::moveItem(backup, restored, &failure)
                && MediaFileStore::moveItem(temporary, nextBackup, &failure);
    }
    if (!moved) {
        Log::error(LogArea::Filing,
                   QStringLiteral("Unable to restore file from ") + backup.toLocalFile() + QStringLiteral(": ") + failure.message());
        if (error)
            *error = failure;
        return std::nullopt;
    }
    setFileName(MediaFileStore::lastPathComponent(restored));
    return nextBackup;
}

bool Media::exportFile(const QUrl &folder, int index, QString *failure) const
{
    if (!fileExists())
        return false;
    const QUrl source = *fileURL();
    QString extension = MediaTypes::extensionOf(source.toLocalFile());
    if (extension.isEmpty()) {
        Log::info(LogArea::Filing, QStringLiteral("Unknown file extension - use jpg"));
        extension = QStringLiteral("jpg");
    }
    const QUrl destination = QUrl::fromLocalFile(folder.toLocalFile() + QLatin1Char('/')
                                                 + QStringLiteral("%1.").arg(index + 1, 5, 10, QLatin1Char('0')) + extension);
    MediaWriteError error;
    if (!MediaFileStore::copyItem(source, destination, &error)) {
        Log::error(LogArea::Filing, QStringLiteral("Unable to copy file from ") + source.toLocalFile() + QStringLiteral(" to ")
                                        + destination.toLocalFile() + QStringLiteral(": ") + error.message());
        if (failure)
            *failure = destination.toLocalFile() + QStringLiteral(": ") + error.message();
        return false;
    }
    return true;
}

void Media::deleteFile()
{
    const std::optional<QUrl> url = fileURL();
    if (!url) {
        Log::info(LogArea::Filing, QStringLiteral("Unable to create media URL for deletion: ") + description());
        return;
    }
    if (!QFileInfo::exists(url->toLocalFile()))
        return;
    const QUrl target = *url;
    managedObjectContext()->stack()->fileDeletionQueue()->async([target] { MediaFileStore::removeMediaFile(target); });
}

QString Media::description() const
{
    const QString name = fileName();
    const QString id = uuid();
    return QStringLiteral("#%1 %2 (%3)")
        .arg(orderIndex())
        .arg(name.isNull() ? QStringLiteral("?") : name, id.isNull() ? QStringLiteral("?") : uuidDirectoryPath(id));
}

QVariant Media::derivedValue(const QString &key) const
{
    if (key == QLatin1String("description"))
        return description();
    return {};
}

void Media::awakeFromInsert()
{
    setCreationDate(QDateTime::currentDateTimeUtc());
    setUuid(MediaUuid::generate());
}

void Media::prepareForDeletion()
{
    ManagedObject::prepareForDeletion();
    setItsCase(nullptr);
    if (m_keepsFileOnDeletion || setFileAsideForUndo())
        return;
    // The file goes later, on the file-deletion queue; the record does not wait for it.
    deleteFile();
}

bool Media::setFileAsideForUndo()
{
    ManagedObjectContext *context = managedObjectContext();
    if (!changesAreUndoable() || !context->stack())
        return false;
    const std::optional<QUrl> url = fileURL();
    if (!url || !QFileInfo::exists(url->toLocalFile()))
        return false;
    const QUrl place = *url;
    MediaWriteError error;
    std::shared_ptr<UndoKeptFile> kept = UndoKeptFile::moveAside(context->stack()->undoFiles(), place, &error);
    if (kept) {
        // The folders it leaves empty go as after a removal; the undo makes them again.
        MediaFileStore::deleteEmptyFolders(place);
    } else {
        // Left where it is, the file is still there for the undo; it goes
        // from the library when the step can no longer be taken.
        Log::error(LogArea::Filing, QStringLiteral("Unable to set aside the file of ") + description() + QStringLiteral(": ")
                                        + error.message());
        kept = std::make_shared<UndoKeptFile>(place, UndoKeptFile::Place::Library);
    }
    // Registered with the deletion: undoing it brings the record back and
    // this puts its file back. The redo deletes the record again, and its
    // hook sets the file aside again.
    context->undoManager()->registerUndo([kept, place] {
        MediaWriteError failure;
        if (!kept->moveBack(place, &failure)) {
            Log::error(LogArea::Filing, QStringLiteral("Unable to restore file from ") + kept->url().toLocalFile()
                                            + QStringLiteral(": ") + failure.message());
            return;
        }
        NotificationCenter::defaultCenter().post(QStringLiteral("Updated Media"));
    });
    return true;
}

} // namespace ovalis
