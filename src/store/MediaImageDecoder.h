#pragma once

#include <QByteArray>
#include <QImage>

namespace ovalis {

// Turns the bytes of a media file into an image: any format the image
// plugins read, a PDF as its first page rendered on white, and a DICOM file
// as its first frame at its own window (through the decoder the media layer
// installs).
// Thread-safe.
class MediaImageDecoder
{
public:
    using DicomDecoder = QImage (*)(const QByteArray &data);
    // Installed once, before decoding starts on other threads.
    static void setDicomDecoder(DicomDecoder decoder);

    // A null image when the data cannot be decoded.
    static QImage decode(const QByteArray &data);
    static bool isPdfData(const QByteArray &data);
    // "DICM" after the 128-byte preamble.
    static bool isDicomData(const QByteArray &data);
    // The first page at twice its size in points (144 dots per inch), on white.
    static QImage renderFirstPdfPage(const QByteArray &data);
};

} // namespace ovalis
