#include "media/ImageScaling.h"

#include <algorithm>

namespace ovalis {

std::optional<QRectF> ImageScaling::displayedImageRect(const QRectF &bounds, const QSizeF &imageSize, Mode mode)
{
    if (bounds.width() <= 0 || bounds.height() <= 0 || imageSize.width() <= 0 || imageSize.height() <= 0)
        return std::nullopt;
    if (mode == AxesIndependently)
        return bounds;
    double factor = 1.0;
    if (mode != None) {
        factor = std::min(bounds.width() / imageSize.width(), bounds.height() / imageSize.height());
        if (mode == ProportionallyDown)
            factor = std::min(factor, 1.0);
    }
    const QSizeF size = imageSize * factor;
    return QRectF(bounds.center().x() - size.width() / 2.0, bounds.center().y() - size.height() / 2.0, size.width(),
                  size.height());
}

} // namespace ovalis
