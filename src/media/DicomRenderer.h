#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>
#include <memory>
#include <optional>

namespace ovalis {

// A window over modality values (after rescale slope and intercept): values
// from center - width / 2 to center + width / 2 spread over black to white.
struct DicomWindow {
    double center = 0;
    double width = 0;
    bool operator==(const DicomWindow &) const = default;
};

// Renders the frames of a DICOM file through DCMTK (uncompressed, JPEG, RLE
// and JPEG-LS; not JPEG 2000). The file is read and decompressed once;
// monochrome frames keep their stored values, and each render maps them to
// grey through a lookup table built for the window asked for, so that a
// change of window costs a table and one pass over the pixels.
//
// The header's sizes are checked before pixels are decoded: a frame of more
// than maximumFramePixels, or frames adding up to more than
// maximumDecodedBytes, are not displayed. Text from the file never reaches
// the reasons given.
//
// Separate instances may be used on separate threads at once.
class DicomRenderer
{
public:
    static constexpr qint64 maximumFramePixels = qint64(1) << 28;
    static constexpr qint64 maximumDecodedBytes = qint64(3) << 30;

    // Whether the bytes start like a DICOM file: "DICM" after the 128-byte preamble.
    static bool isDicomData(const QByteArray &head);

    explicit DicomRenderer(const QString &path);
    explicit DicomRenderer(const QByteArray &data);
    ~DicomRenderer();
    DicomRenderer(const DicomRenderer &) = delete;
    DicomRenderer &operator=(const DicomRenderer &) = delete;

    // False when no frame can be shown; unavailableReason() says why.
    bool canDisplay() const;
    // "cannot display: JPEG 2000", "cannot display: <why>"; empty when displayable.
    QString unavailableReason() const;
    int frameCount() const;
    // Columns by rows; invalid when the file cannot be displayed.
    QSize size() const;
    bool isMonochrome() const;
    // The file's first Window Center and Width, when it has both and the width is positive.
    std::optional<DicomWindow> fileWindow() const;
    // The window spanning the lowest to the highest modality value of all frames.
    DicomWindow minMaxWindow() const;
    // fileWindow(), else minMaxWindow().
    DicomWindow defaultWindow() const;

    // The frame at defaultWindow().
    QImage render(int frame = 0) const;
    // Grayscale8 for monochrome frames (MONOCHROME1 inverted so that high
    // values are dark), RGB32 for colour ones, which ignore the window. Null
    // for a frame out of range or a file that cannot be displayed.
    QImage render(int frame, DicomWindow window) const;

    // The first frame at the default window, else a null image: for decoders
    // that only want a picture of the bytes.
    static QImage renderDefault(const QByteArray &data);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace ovalis
