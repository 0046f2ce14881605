#include "media/LoupeGeometry.h"

#include <algorithm>

namespace ovalis {

QRectF LoupeGeometry::sourceRect(const QSizeF &imageSize, const QRectF &displayedRect, const QPointF &mouse,
                                 const QSizeF &frameSize, double factor)
{
    const double imageWidth = imageSize.width();
    const double imageHeight = imageSize.height();
    const double sourceWidth = imageWidth * (factor * frameSize.width() / displayedRect.width());
    const double sourceHeight = imageHeight * (factor * frameSize.height() / displayedRect.height());
    const double x = imageWidth * (mouse.x() - displayedRect.left()) / displayedRect.width() - sourceWidth / 2.0;
    const double y = imageHeight * (mouse.y() - displayedRect.top()) / displayedRect.height() - sourceHeight / 2.0;

    const double width = std::min(sourceWidth, imageWidth);
    const double height = std::min(sourceHeight, imageHeight);
    return QRectF(std::clamp(x, 0.0, imageWidth - width), std::clamp(y, 0.0, imageHeight - height), width, height);
}

QRectF LoupeGeometry::lensRect(const QSizeF &frameSize)
{
    return QRectF(QPointF(0, 0), frameSize).adjusted(frameInset, frameInset, -frameInset, -frameInset);
}

} // namespace ovalis
