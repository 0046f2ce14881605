#include "media/ImageCrop.h"

#include <algorithm>
#include <cmath>

namespace ovalis {

namespace {

double roundHalfUp(double value)
{
    return std::floor(value + 0.5);
}

} // namespace

double ImageCrop::displayedScale(const QSizeF &imageSize, const CropViewLayout &layout)
{
    const double w = imageSize.width();
    const double h = imageSize.height();
    const double W = layout.viewSize.width();
    const double H = layout.viewSize.height();
    if (w <= 0 || h <= 0)
        return 1.0;
    if (layout.scalesUp || W <= w || H <= h)
        return std::min(W / w, H / h);
    return 1.0;
}

std::optional<QRectF> ImageCrop::imageRectForViewRect(const QRectF &rect, const QSizeF &imageSize, const QSize &pixelSize,
                                                      const CropViewLayout &layout)
{
    if (imageSize.isEmpty())
        return std::nullopt;
    const double s = displayedScale(imageSize, layout);
    const double dw = roundHalfUp(imageSize.width() * s);
    const double dh = roundHalfUp(imageSize.height() * s);
    const double ox = roundHalfUp((layout.viewSize.width() - dw) / 2);
    const double oy = roundHalfUp((layout.viewSize.height() - dh) / 2);
    const QRectF drawn(ox, oy, dw, dh);
    const QRectF selection = rect.normalized();
    if (dw <= 0 || dh <= 0 || !selection.intersects(drawn))
        return std::nullopt;
    const QRectF r = selection.intersected(drawn).translated(-ox, -oy);

    const QSizeF pixels = pixelSize.isValid() ? QSizeF(pixelSize) : imageSize;
    const double kx = pixels.width() / dw;
    const double ky = pixels.height() / dh;
    const double x0 = kx * r.left();
    const double y0 = ky * r.top();
    const double width = kx * r.right() - x0;
    const double height = ky * r.bottom() - y0;
    return QRectF(x0, pixels.height() - (y0 + height), width, height);
}

QImage ImageCrop::croppedImage(const QImage &image, const QRectF &pixelRect)
{
    if (image.isNull())
        return {};
    const QRect cut = pixelRect.toAlignedRect().intersected(image.rect());
    if (cut.isEmpty())
        return {};
    QImage cropped = image.copy(cut);
    cropped.setDevicePixelRatio(1.0);
    return cropped;
}

} // namespace ovalis
