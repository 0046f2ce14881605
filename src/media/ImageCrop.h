#pragma once

#include <QImage>
#include <QRectF>
#include <QSizeF>
#include <optional>

namespace ovalis {

// How an image is laid out in the view it is shown in, as far as a crop needs
// to know: the view's size and whether small images are enlarged to fit.
struct CropViewLayout {
    QSizeF viewSize;
    bool scalesUp = false;
};

// From a selection in the display's view to pixels of the image, and the cut.
class ImageCrop
{
public:
    // The factor the image is drawn at: the smaller of the view's and the
    // image's width and height ratios when the view enlarges images or the
    // image is at least as large as the view in either dimension, else 1.
    static double displayedScale(const QSizeF &imageSize, const CropViewLayout &layout);

    // The pixel rectangle (origin top left) of an image of imageSize points
    // and pixelSize pixels, drawn centred in the view, under rect (view
    // coordinates, origin bottom left, possibly inverted). Only the part of
    // rect over the drawn image counts; nothing when it misses the image. An
    // invalid pixelSize means the image's size in points.
    static std::optional<QRectF> imageRectForViewRect(const QRectF &rect, const QSizeF &imageSize, const QSize &pixelSize,
                                                      const CropViewLayout &layout);

    // The pixels of image under pixelRect (rounded outwards, kept inside the
    // image) as an image of their own; a null image when nothing is left.
    static QImage croppedImage(const QImage &image, const QRectF &pixelRect);
};

} // namespace ovalis
