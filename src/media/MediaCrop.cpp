#include "media/MediaCrop.h"

#include "media/DicomDerivedImage.h"
#include "media/MediaFileUndo.h"
#include "store/LibraryNotifications.h"
#include "store/ManagedObjectContext.h"
#include "store/Media.h"
#include "store/UndoKeptFile.h"
#include "util/Log.h"
#include "util/NotificationCenter.h"
#include "util/UndoManager.h"

namespace ovalis {

bool MediaCrop::cropMedia(const QImage &image, Media *media, const std::optional<QRectF> &selectionRect,
                          const CropViewLayout &layout, const ShowImage &showImage)
{
    const std::optional<QUrl> fileURL = media ? media->fileURL() : std::nullopt;
    ManagedObjectContext *context = media ? media->managedObjectContext() : nullptr;
    if (!fileURL || !context || !context->undoManager())
        return false;
    if (showImage)
        showImage(image);

    QImage cropped;
    if (selectionRect && !image.isNull()) {
        const std::optional<QRectF> pixels =
            ImageCrop::imageRectForViewRect(*selectionRect, QSizeF(image.size()), image.size(), layout);
        if (pixels)
            cropped = ImageCrop::croppedImage(image, *pixels);
    }
    if (cropped.isNull()) {
        Log::error(LogArea::UI, QStringLiteral("Unable to crop image"));
        return false;
    }
    if (DicomDerivedImage::keepsOriginal(media))
        return DicomDerivedImage::add(media, cropped, QStringLiteral("crop"), MediaFileUndo::cropImageActionName) != nullptr;

    const MediaFileUndo fileUndo(context);
    MediaWriteError error;
    const std::shared_ptr<UndoKeptFile> backup = fileUndo.keepCopy(*fileURL, &error);
    if (!backup || !media->overwriteImage(cropped, &error)) {
        Log::error(LogArea::UI, QStringLiteral("Failed to overwrite cropped image at ") + fileURL->toLocalFile()
                                    + QStringLiteral(": ") + error.message());
        // The old file went before the new one failed: the copy stands in.
        if (backup)
            backup->standIn(*fileURL);
        return false;
    }
    NotificationCenter::defaultCenter().post(LibraryNotifications::updatedMedia);
    Log::info(LogArea::UI, QStringLiteral("Register undo crop on stack"));
    UndoManager *undo = context->undoManager();
    undo->enableUndoRegistration();
    fileUndo.registerSwapUndo(media->objectID(), backup, MediaFileUndo::cropImageActionName);
    undo->disableUndoRegistration();
    Log::info(LogArea::UI, QStringLiteral("Successfully cropped ") + media->description());
    return true;
}

void MediaCrop::cropSelectedImages(const QList<Media *> &selectedMedia, const std::optional<QRectF> &selectionRect,
                                   const CropViewLayout &layout, const ShowImage &showImage, const ImageOf &imageOf)
{
    if (selectedMedia.isEmpty())
        return;
    ManagedObjectContext *context = selectedMedia.first()->managedObjectContext();
    UndoManager *undo = context ? context->undoManager() : nullptr;
    if (!undo)
        return;
    undo->disableUndoRegistration();
    undo->beginUndoGrouping();
    undo->setActionName(MediaFileUndo::cropImagesActionName);
    for (Media *media : selectedMedia) {
        Log::info(LogArea::UI, QStringLiteral("Media to crop\t\t") + media->description());
        if (!media->fileExists())
            continue;
        const QImage image = imageOf ? imageOf(media) : media->image();
        if (!image.isNull())
            cropMedia(image, media, selectionRect, layout, showImage);
    }
    // Each crop names the step after itself; the step is the whole command.
    undo->setActionName(MediaFileUndo::cropImagesActionName);
    context->saveWithParent(true);
    undo->endUndoGrouping();
    undo->enableUndoRegistration();
}

} // namespace ovalis
