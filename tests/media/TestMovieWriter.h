#pragma once

#include <QImage>
#include <QString>
#include <array>
#include <functional>

namespace ovalis::test {

// Writes small movies for tests with FFmpeg's own MPEG-4 encoder, so that no
// sample file has to be shipped.
class TestMovieWriter
{
public:
    // The display matrix (16.16 fixed point, 2.30 in the last column) that
    // shows a movie turned clockwise by a number of quarter turns.
    static std::array<qint32, 9> clockwiseMatrix(int quarterTurns);

    // frames at fps, each drawn by frameAt(index); the container (from the
    // path's extension) carries a display matrix turning it clockwise by
    // quarterTurns when that is not 0. False when FFmpeg could not write it.
    static bool write(const QString &path, const QSize &size, int fps, int frameCount,
                      const std::function<QImage(int)> &frameAt, int quarterTurns = 0);
};

} // namespace ovalis::test
