#include "media/AnnotatedImageSave.h"

#include "media/AnnotationPage.h"
#include "media/DicomDerivedImage.h"
#include "media/MediaFileUndo.h"
#include "store/LibraryNotifications.h"
#include "store/ManagedObjectContext.h"
#include "store/Media.h"
#include "store/UndoKeptFile.h"
#include "util/Log.h"
#include "util/NotificationCenter.h"
#include "util/UndoRegistrationPause.h"

namespace ovalis {

namespace {

void logSaveFailure(const MediaWriteError &error)
{
    Log::error(LogArea::UI, QStringLiteral("AnnotationViewController: save failed – ") + error.message());
}

} // namespace

bool AnnotatedImageSave::save(Media *media, const AnnotationPage &page)
{
    const std::optional<QUrl> fileURL = media ? media->fileURL() : std::nullopt;
    // The page holds the media's image as the editor read it; decoding the
    // file again would only tell its size.
    if (!fileURL || page.isNull() || !media->fileExists()) {
        Log::error(LogArea::UI, QStringLiteral("AnnotationViewController: missing data for save"));
        return false;
    }
    if (DicomDerivedImage::keepsOriginal(media)) {
        const QImage flattened = flattenPage(page, page.mediaBox().size());
        return DicomDerivedImage::add(media, flattened, QStringLiteral("annotated"), MediaFileUndo::annotateImageActionName) != nullptr;
    }
    ManagedObjectContext *context = media->managedObjectContext();
    const MediaFileUndo fileUndo(context);
    MediaWriteError error;
    const std::shared_ptr<UndoKeptFile> backup = fileUndo.keepCopy(*fileURL, &error);
    if (!backup) {
        logSaveFailure(error);
        return false;
    }
    const QImage flattened = flattenPage(page, page.mediaBox().size());
    if (flattened.isNull()) {
        Log::error(LogArea::UI, QStringLiteral("AnnotationViewController: failed to flatten annotated image"));
        return false;
    }
    bool written;
    {
        // The swap registered below restores the file; the store's undo of
        // the new fileName would point the record at a name the swap does
        // not use.
        UndoRegistrationPause pause(context ? context->undoManager() : nullptr);
        written = media->overwriteImage(flattened, &error);
    }
    if (!written) {
        logSaveFailure(error);
        // The old file went before the new one failed: the copy stands in.
        backup->standIn(*fileURL);
        return false;
    }
    NotificationCenter::defaultCenter().post(LibraryNotifications::updatedMedia);
    // Undo puts the file back under the name and type it had, as for a crop.
    fileUndo.registerSwapUndo(media->objectID(), backup, MediaFileUndo::annotateImageActionName);
    Log::info(LogArea::UI, QStringLiteral("AnnotationViewController: saved annotated image for ") + media->description());
    return true;
}

} // namespace ovalis
