#pragma once

#include <QColor>
#include <QImage>
#include <QString>

namespace ovalis {

// The images of the display's cursor tools, drawn once and kept:
// "Loupe-small" and "Loupe-large" (lens frames whose inner circle, inset by
// LoupeGeometry::frameInset, shows the image) and "Arrow", a white pointer
// with a dark outline that tinted() colours.
class CursorImage
{
public:
    // A null image for an unknown name.
    static QImage named(const QString &name);
    // The image with its light parts multiplied by colour; outlines stay dark
    // and transparency is kept.
    static QImage tinted(const QImage &image, const QColor &colour);
};

} // namespace ovalis
