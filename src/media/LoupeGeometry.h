#pragma once

#include <QPointF>
#include <QRectF>
#include <QSizeF>

namespace ovalis {

// The arithmetic of the display's loupes. A loupe is a frame image; the part
// of the shown image under the mouse is drawn into the circle inside it.
class LoupeGeometry
{
public:
    // How far the lens lies inside the frame image on each side.
    static constexpr double frameInset = 10.0;

    // The part of an image of imageSize, drawn at displayedRect, that a loupe
    // with a frame of frameSize shows with the mouse at mouse (view
    // coordinates): factor times the frame's size in display units, centred
    // on the image point under the mouse, then clamped into the image (no
    // wider or taller than it, its origin moved inside). With factor 1 the
    // loupe shows the image a little smaller than the display does, with 2/3
    // about a third larger: (frame width - 20) / (factor * frame width).
    static QRectF sourceRect(const QSizeF &imageSize, const QRectF &displayedRect, const QPointF &mouse,
                             const QSizeF &frameSize, double factor);

    // The lens inside a frame of frameSize: its rectangle inset by frameInset.
    // The source is drawn into it, clipped to its inscribed ellipse.
    static QRectF lensRect(const QSizeF &frameSize);
};

} // namespace ovalis
