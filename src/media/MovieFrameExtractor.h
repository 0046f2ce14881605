#pragma once

#include <QImage>
#include <QString>

namespace ovalis {

// Takes one still frame out of a movie file with FFmpeg's libraries.
// Thread-safe: every call opens the file on its own. Reads the file, so never
// call it on the UI thread.
class MovieFrameExtractor
{
public:
    // The frame on screen at the given time (the last frame of a shorter
    // movie), with the pixel aspect ratio and the video track's display
    // rotation applied, scaled to fit a square of maxSide pixels (0 keeps the
    // full size). A null image when the file holds no video FFmpeg decodes.
    static QImage frameAt(const QString &path, double seconds, int maxSide = 0);

    // The clockwise rotation in degrees (0, 90, 180 or 270) that a display
    // matrix of nine 16.16 / 2.30 fixed-point numbers asks for.
    static int clockwiseRotation(const qint32 matrix[9]);
};

} // namespace ovalis
