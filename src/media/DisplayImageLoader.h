#pragma once

#include <QDateTime>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QThreadPool>
#include <memory>
#include <optional>

namespace ovalis {

class DicomRenderer;

// Decodes media files for the display on worker threads and keeps the
// results for the file shown and its neighbours, so that stepping through a
// case's media finds the next image decoded already.
//
// Images larger than maximumSize are decoded reduced: a JPEG at the
// smallest half, quarter or eighth of its size that still covers the fit
// into maximumSize (libjpeg decodes such fractions directly), other images
// smoothly scaled to that fit. The display never holds more than a few
// screenfuls of pixels per file.
// A file that does not decode as an image is remembered as not being one.
//
// Lives on the thread that created it (the main thread); its methods are
// called from there only and loaded() is emitted there, never from within
// load() itself. The destructor waits for decodes in progress.
class DisplayImageLoader : public QObject
{
    Q_OBJECT

public:
    struct Image {
        QImage image;        // null when the file is not an image
        QSize originalSize;  // the file's own size in pixels
        // The image smoothly scaled to fit the display size given when it
        // was decoded, as the display draws an image larger than itself;
        // null when the image is not larger than the display.
        QImage displayCopy;
        // For a DICOM file: its frames, for other frames and windows than
        // the first one at the file's window that image shows. When the file
        // cannot be displayed image is a placeholder saying why.
        std::shared_ptr<const DicomRenderer> dicom;
    };

    explicit DisplayImageLoader(QObject *parent = nullptr);
    ~DisplayImageLoader() override;

    // Changing the size forgets every decoded file.
    void setMaximumSize(const QSize &size);
    QSize maximumSize() const { return m_maximumSize; }
    // The size of the view images are drawn into, in device-independent
    // pixels, and its device pixel ratio: images decoded from now on come
    // with a copy scaled to fit it.
    void setDisplaySize(const QSizeF &size, qreal devicePixelRatio);

    // The file as decoded at hand, when its size and modification time are
    // still those it had when it was read.
    std::optional<Image> cached(const QString &path) const;
    bool isLoading(const QString &path) const { return m_loading.contains(path); }
    // Starts decoding the file, ahead of any prefetching, unless it is at
    // hand or being decoded already.
    void load(const QString &path);
    // Keeps only these files (and the ones load() asked for since) and
    // decodes those not at hand, in the order given, behind load()'s.
    void retain(const QStringList &paths);

    // Reads the whole file and decodes it on the calling thread. A file
    // with a movie extension is not read and is not an image.
    static Image decode(const QString &path, const QSize &maximumSize);
    // The size, in device pixels, an image of originalSize is drawn at when
    // fitted into a view of displaySize; invalid when it is not larger.
    static QSize displayCopySize(const QSize &originalSize, const QSizeF &displaySize, qreal devicePixelRatio);

signals:
    void loaded(const QString &path);

private:
    struct Entry {
        Image image;
        QDateTime modified;
        qint64 size = 0;
    };
    struct Wanted; // the paths decodes may still start for, shared with the workers

    void start(const QString &path, int priority);
    void finish(const QString &path, quint64 generation, const Entry &entry);

    QSize m_maximumSize;
    QSizeF m_displaySize;
    qreal m_devicePixelRatio = 1.0;
    quint64 m_generation = 0;
    QHash<QString, Entry> m_cache;
    QSet<QString> m_loading;
    QSet<QString> m_requested; // asked for by load() since the last retain()
    std::shared_ptr<Wanted> m_wanted;
    QThreadPool m_pool; // declared last: destroyed, and so waited for, first
};

} // namespace ovalis
