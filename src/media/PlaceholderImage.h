#pragma once

#include <QImage>
#include <QString>

namespace ovalis {

// Symbol images the display and the grids show instead of a media file,
// drawn in light grey lines on a transparent square of the given size.
class PlaceholderImage
{
public:
    // Two overlapping pages: several media are selected.
    static QImage copies(int size = 256);
    // A question mark in a dashed square: the media's file is missing.
    static QImage missingFile(int size = 256);
    // The reason a file cannot be shown ("cannot display: JPEG 2000") in a
    // dashed square, in a grey that reads on light and dark backgrounds.
    static QImage unavailable(const QString &reason, int size = 256);
};

} // namespace ovalis
