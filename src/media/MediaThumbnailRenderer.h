#pragma once

#include <QImage>
#include <QString>

namespace ovalis {

// Makes the thumbnail of one media file, by the first rule that applies:
// a missing file gets the placeholder, a DICOM file its first frame at its
// own window (or a placeholder saying why it cannot be shown), an image (or
// a PDF's first page) is decoded scaled down, a movie gives its frame at 2.0 seconds, and anything
// else is shown by its file type's icon.
class MediaThumbnailRenderer
{
public:
    enum class Kind { Placeholder, Image, MovieFrame, Icon };

    struct Thumbnail {
        Kind kind = Kind::Placeholder;
        // Null for Icon: icons are looked up on the UI thread (iconImage).
        QImage image;
        // For Icon: the file type's icon names, specific and generic.
        QString iconName;
        QString genericIconName;
    };

    static constexpr double movieFrameSeconds = 2.0;

    // Reads the file; any thread but the UI thread. An empty path (a media
    // without a file location) counts as a missing file.
    static Thumbnail render(const QString &path, int maxSide);

    // The image decoded to fit a square of maxSide pixels, taking libjpeg's
    // reduced-size fast path; a PDF as its first page on white. Null when the
    // file is not an image. Thread-safe.
    static QImage decodeImage(const QString &path, int maxSide);
    // The size an image of the given size is decoded at to fit maxSide.
    static QSize fittingSize(const QSize &size, int maxSide);

    // A dashed rounded square with a question mark, for media without a file.
    // Thread-safe.
    static QImage placeholder(int side);
    // The icon theme's image for the names (the specific one, else the
    // generic one, else a plain document), side pixels square. On the UI
    // thread only.
    static QImage iconImage(const QString &iconName, const QString &genericIconName, int side);
};

} // namespace ovalis
