#pragma once

#include <QRectF>
#include <QSizeF>
#include <optional>

namespace ovalis {

// How the display fits an image into its bounds.
class ImageScaling
{
public:
    enum Mode {
        // Large images shrink to fit; small ones stay at their own size.
        ProportionallyDown,
        // Images shrink or grow to fit, keeping their aspect ratio.
        ProportionallyUpOrDown,
        // The image fills the bounds, stretched in each direction.
        AxesIndependently,
        // The image at its own size.
        None,
    };

    // Where an image of imageSize is drawn inside bounds: centred, except
    // when stretched over the whole bounds. Nothing when the bounds or the
    // image have no width or no height.
    static std::optional<QRectF> displayedImageRect(const QRectF &bounds, const QSizeF &imageSize, Mode mode);
};

} // namespace ovalis
