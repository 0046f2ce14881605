#pragma once

#include <QByteArray>
#include <QImage>

namespace ovalis {

// Turns the bytes of a media file into an image: any format the image
// plugins read, and a PDF as its first page rendered on white.
// Thread-safe.
class MediaImageDecoder
{
public:
    // A null image when the data cannot be decoded.
    static QImage decode(const QByteArray &data);
    static bool isPdfData(const QByteArray &data);
    // The first page at twice its size in points (144 dots per inch), on white.
    static QImage renderFirstPdfPage(const QByteArray &data);
};

} // namespace ovalis
