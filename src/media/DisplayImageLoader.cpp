#include "media/DisplayImageLoader.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QMutex>
#include <QMutexLocker>

#include "media/DicomRenderer.h"
#include "media/ImageScaling.h"
#include "media/PlaceholderImage.h"
#include "store/MediaImageDecoder.h"
#include "store/MediaTypes.h"

namespace ovalis {

struct DisplayImageLoader::Wanted {
    QMutex mutex;
    QSet<QString> paths; // Guarded by mutex.

    bool contains(const QString &path)
    {
        QMutexLocker locker(&mutex);
        return paths.contains(path);
    }
};

namespace {

constexpr int currentPriority = 1;
constexpr int prefetchPriority = 0;

QImage reduced(const QImage &image, const QSize &maximumSize)
{
    if (image.isNull() || !maximumSize.isValid()
        || (image.width() <= maximumSize.width() && image.height() <= maximumSize.height()))
        return image;
    return image.scaled(image.size().scaled(maximumSize, Qt::KeepAspectRatio), Qt::IgnoreAspectRatio,
                        Qt::SmoothTransformation);
}

// Below this the JPEG reader uses the fast inverse transform.
constexpr int fastDecodingQuality = 49;

// The smallest size libjpeg decodes a JPEG of size to directly (a half, a
// quarter or an eighth, rounded up) that is not smaller than fitted.
QSize jpegReduction(const QSize &size, const QSize &fitted)
{
    QSize best = size;
    for (int denominator : {2, 4, 8}) {
        const QSize reduced((size.width() + denominator - 1) / denominator, (size.height() + denominator - 1) / denominator);
        if (reduced.width() < fitted.width() || reduced.height() < fitted.height())
            break;
        best = reduced;
    }
    return best;
}

} // namespace

DisplayImageLoader::DisplayImageLoader(QObject *parent)
    : QObject(parent)
    , m_maximumSize(1920, 1200)
    , m_wanted(std::make_shared<Wanted>())
{
    m_pool.setMaxThreadCount(std::max(2, QThread::idealThreadCount()));
}

DisplayImageLoader::~DisplayImageLoader()
{
    {
        QMutexLocker locker(&m_wanted->mutex);
        m_wanted->paths.clear();
    }
    m_pool.clear();
    m_pool.waitForDone();
}

void DisplayImageLoader::setMaximumSize(const QSize &size)
{
    if (size == m_maximumSize)
        return;
    m_maximumSize = size;
    ++m_generation;
    m_cache.clear();
    m_loading.clear();
}

void DisplayImageLoader::setDisplaySize(const QSizeF &size, qreal devicePixelRatio)
{
    m_displaySize = size;
    m_devicePixelRatio = devicePixelRatio;
}

QSize DisplayImageLoader::displayCopySize(const QSize &originalSize, const QSizeF &displaySize, qreal devicePixelRatio)
{
    // As the image view computes it, so that the view takes the copy as its own.
    const std::optional<QRectF> rect = ImageScaling::displayedImageRect(QRectF(QPointF(0, 0), displaySize),
                                                                        QSizeF(originalSize), ImageScaling::ProportionallyDown);
    if (!rect || rect->width() >= originalSize.width())
        return QSize();
    return QSize(qRound(rect->width() * devicePixelRatio), qRound(rect->height() * devicePixelRatio));
}

std::optional<DisplayImageLoader::Image> DisplayImageLoader::cached(const QString &path) const
{
    const auto found = m_cache.constFind(path);
    if (found == m_cache.constEnd())
        return std::nullopt;
    const QFileInfo info(path);
    if (!info.exists() || info.size() != found->size || info.lastModified() != found->modified)
        return std::nullopt;
    return found->image;
}

void DisplayImageLoader::load(const QString &path)
{
    m_requested.insert(path);
    {
        QMutexLocker locker(&m_wanted->mutex);
        m_wanted->paths.insert(path);
    }
    if (!cached(path))
        start(path, currentPriority);
}

void DisplayImageLoader::retain(const QStringList &paths)
{
    QSet<QString> keep(paths.begin(), paths.end());
    keep.unite(m_requested);
    m_requested.clear();
    {
        QMutexLocker locker(&m_wanted->mutex);
        m_wanted->paths = keep;
    }
    for (auto entry = m_cache.begin(); entry != m_cache.end();) {
        if (keep.contains(entry.key()))
            ++entry;
        else
            entry = m_cache.erase(entry);
    }
    for (const QString &path : paths)
        if (!cached(path))
            start(path, prefetchPriority);
}

void DisplayImageLoader::start(const QString &path, int priority)
{
    if (m_loading.contains(path))
        return;
    m_loading.insert(path);
    const quint64 generation = m_generation;
    const QSize maximumSize = m_maximumSize;
    const QSizeF displaySize = m_displaySize;
    const qreal ratio = m_devicePixelRatio;
    std::shared_ptr<Wanted> wanted = m_wanted;
    m_pool.start(
        [this, path, generation, maximumSize, displaySize, ratio, wanted] {
            Entry entry;
            // A prefetch the display has moved away from is not worth decoding.
            if (wanted->contains(path)) {
                const QFileInfo info(path);
                entry.modified = info.lastModified();
                entry.size = info.size();
                entry.image = decode(path, maximumSize);
                const QSize copySize = displayCopySize(entry.image.originalSize, displaySize, ratio);
                if (!entry.image.image.isNull() && copySize.isValid())
                    entry.image.displayCopy = entry.image.image.scaled(copySize, Qt::IgnoreAspectRatio,
                                                                       Qt::SmoothTransformation);
            } else {
                entry.size = -1;
            }
            // Queued to this object's thread; the destructor waits for this
            // job, so the object is still there when it posts.
            QMetaObject::invokeMethod(
                this, [this, path, generation, entry] { finish(path, generation, entry); }, Qt::QueuedConnection);
        },
        priority);
}

void DisplayImageLoader::finish(const QString &path, quint64 generation, const Entry &entry)
{
    if (generation != m_generation)
        return;
    m_loading.remove(path);
    if (!m_wanted->contains(path))
        return;
    if (entry.size < 0) {
        // Skipped while unwanted, and wanted again since.
        start(path, prefetchPriority);
        return;
    }
    m_cache.insert(path, entry);
    emit loaded(path);
}

DisplayImageLoader::Image DisplayImageLoader::decode(const QString &path, const QSize &maximumSize)
{
    Image result;
    if (MediaTypes::isMovie(MediaTypes::extensionOf(path)))
        return result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return result;
    QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError || data.isEmpty())
        return result;
    if (MediaImageDecoder::isPdfData(data)) {
        const QImage page = MediaImageDecoder::renderFirstPdfPage(data);
        result.originalSize = page.size();
        result.image = reduced(page, maximumSize);
        return result;
    }
    if (DicomRenderer::isDicomData(data)) {
        auto renderer = std::make_shared<const DicomRenderer>(data);
        QImage frame = renderer->render();
        if (frame.isNull())
            frame = PlaceholderImage::unavailable(renderer->canDisplay() ? QStringLiteral("cannot display: the frame is damaged")
                                                                         : renderer->unavailableReason(),
                                                  512);
        result.originalSize = frame.size();
        result.image = reduced(frame, maximumSize);
        result.dicom = std::move(renderer);
        return result;
    }
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    const bool jpeg = reader.format() == "jpeg";
    if (size.isValid() && maximumSize.isValid() && jpeg) {
        const QSize reduction = jpegReduction(size, size.scaled(maximumSize, Qt::KeepAspectRatio).boundedTo(size));
        if (reduction != size) {
            // Decoded at that fraction by libjpeg itself; the fast transform
            // is as good as the exact one once the image is scaled down for
            // the screen.
            reader.setScaledSize(reduction);
            reader.setQuality(fastDecodingQuality);
        }
    }
    const QImage image = reader.read();
    if (image.isNull())
        return result;
    result.originalSize = size.isValid() ? size : image.size();
    result.image = jpeg ? image : reduced(image, maximumSize);
    return result;
}

} // namespace ovalis
