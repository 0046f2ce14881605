#pragma once

#include <QImage>
#include <QList>
#include <QRectF>
#include <functional>
#include <optional>

#include "media/ImageCrop.h"

namespace ovalis {

class Media;

// Crops media files to a selection made over the display, undoably: the old
// file goes to a backup first and the swap back is registered on the undo
// manager of the media's context. Main thread only.
class MediaCrop
{
public:
    // Called with each image just before it is cropped, so that the display
    // shows what is being cut.
    using ShowImage = std::function<void(const QImage &)>;

    // Crops image (the media's full image) to the selection (view
    // coordinates, origin bottom left) as laid out in the view. Answers
    // whether the file was replaced; failures are logged. A DICOM file is
    // kept: the crop becomes a new medium after it (DicomDerivedImage).
    static bool cropMedia(const QImage &image, Media *media, const std::optional<QRectF> &selectionRect,
                          const CropViewLayout &layout, const ShowImage &showImage = {});

    // The full image a media is cropped from; null to skip it.
    using ImageOf = std::function<QImage(Media *)>;

    // Crops every media whose file exists and decodes to the same selection,
    // each image converted with its own size, as one undo step named
    // "Crop Images"; then saves the context with its parent. The store's own
    // undo registration is off throughout, so undo is the file swaps alone.
    // Images are the media's own (Media::image()) unless imageOf says otherwise.
    static void cropSelectedImages(const QList<Media *> &selectedMedia, const std::optional<QRectF> &selectionRect,
                                   const CropViewLayout &layout, const ShowImage &showImage = {},
                                   const ImageOf &imageOf = {});
};

} // namespace ovalis
