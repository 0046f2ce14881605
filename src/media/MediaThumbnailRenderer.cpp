#include "media/MediaThumbnailRenderer.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QImageReader>
#include <QMimeDatabase>
#include <QPainter>
#include <QPainterPath>

#include "media/DicomRenderer.h"
#include "media/MovieFrameExtractor.h"
#include "media/PlaceholderImage.h"
#include "store/MediaImageDecoder.h"
#include "store/MediaTypes.h"

namespace ovalis {

namespace {

// libjpeg takes its fast integer transform below this quality.
constexpr int fastDecodeQuality = 49;

QImage fitted(const QImage &image, int maxSide)
{
    if (image.isNull() || maxSide <= 0 || (image.width() <= maxSide && image.height() <= maxSide))
        return image;
    return image.scaled(MediaThumbnailRenderer::fittingSize(image.size(), maxSide), Qt::IgnoreAspectRatio,
                        Qt::SmoothTransformation);
}

// The first frame at the file's own window (or its values' whole range).
QImage dicomThumbnail(const DicomRenderer &renderer, int maxSide)
{
    const QImage frame = renderer.render();
    return frame.isNull() ? frame : fitted(frame, maxSide).convertToFormat(QImage::Format_RGB32);
}

// A page with a folded corner, for file types the icon theme does not know.
QImage documentImage(int side)
{
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal width = side * 0.62, height = side * 0.8, fold = side * 0.18;
    const QPointF origin((side - width) / 2, (side - height) / 2);
    QPainterPath page;
    page.moveTo(origin);
    page.lineTo(origin + QPointF(width - fold, 0));
    page.lineTo(origin + QPointF(width, fold));
    page.lineTo(origin + QPointF(width, height));
    page.lineTo(origin + QPointF(0, height));
    page.closeSubpath();
    painter.setPen(QPen(QColor(120, 120, 120), std::max(1.0, side / 64.0)));
    painter.setBrush(QColor(250, 250, 250));
    painter.drawPath(page);
    QPainterPath corner;
    corner.moveTo(origin + QPointF(width - fold, 0));
    corner.lineTo(origin + QPointF(width - fold, fold));
    corner.lineTo(origin + QPointF(width, fold));
    painter.setBrush(QColor(220, 220, 220));
    painter.drawPath(corner);
    return image;
}

} // namespace

MediaThumbnailRenderer::Thumbnail MediaThumbnailRenderer::render(const QString &path, int maxSide)
{
    Thumbnail thumbnail;
    if (path.isEmpty() || !QFileInfo(path).isFile()) {
        thumbnail.image = placeholder(maxSide);
        return thumbnail;
    }
    // A DICOM file that cannot be shown says why instead.
    if (MediaTypes::isDicom(MediaTypes::extensionOf(path))) {
        const DicomRenderer renderer(path);
        thumbnail.image = renderer.canDisplay() ? dicomThumbnail(renderer, maxSide)
                                                : PlaceholderImage::unavailable(renderer.unavailableReason(), maxSide);
        thumbnail.kind = renderer.canDisplay() ? Kind::Image : Kind::Placeholder;
        return thumbnail;
    }
    // A movie is never an image; its bytes are not worth probing for one.
    if (!MediaTypes::isMovie(MediaTypes::extensionOf(path))) {
        thumbnail.image = decodeImage(path, maxSide);
        if (!thumbnail.image.isNull()) {
            thumbnail.kind = Kind::Image;
            return thumbnail;
        }
    }
    thumbnail.image = MovieFrameExtractor::frameAt(path, movieFrameSeconds, maxSide);
    if (!thumbnail.image.isNull()) {
        thumbnail.kind = Kind::MovieFrame;
        return thumbnail;
    }
    const QMimeType type = QMimeDatabase().mimeTypeForFile(path);
    thumbnail.kind = Kind::Icon;
    thumbnail.iconName = type.iconName();
    thumbnail.genericIconName = type.genericIconName();
    return thumbnail;
}

QSize MediaThumbnailRenderer::fittingSize(const QSize &size, int maxSide)
{
    if (size.isEmpty() || maxSide <= 0)
        return size;
    if (size.width() <= maxSide && size.height() <= maxSide)
        return size;
    return size.scaled(maxSide, maxSide, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
}

QImage MediaThumbnailRenderer::decodeImage(const QString &path, int maxSide)
{
    // The whole file is read at once: the decoders otherwise pull it through
    // the file a few kilobytes at a time, a thousand reads for a photograph.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray data = file.readAll();
    file.close();
    if (MediaImageDecoder::isPdfData(data.left(1024)))
        return fitted(MediaImageDecoder::renderFirstPdfPage(data), maxSide);
    if (DicomRenderer::isDicomData(data))
        return dicomThumbnail(DicomRenderer(data), maxSide);
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.isValid() && maxSide > 0) {
        reader.setScaledSize(fittingSize(size, maxSide));
        reader.setQuality(fastDecodeQuality);
    }
    QImage image = reader.read();
    if (image.isNull())
        return {};
    // Readers without scaled decoding hand back the full image.
    image = fitted(image, maxSide);
    return image.hasAlphaChannel() ? image.convertToFormat(QImage::Format_ARGB32_Premultiplied)
                                   : image.convertToFormat(QImage::Format_RGB32);
}

QImage MediaThumbnailRenderer::placeholder(int side)
{
    side = std::max(side, 16);
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const QColor ink(142, 142, 147);
    const qreal inset = side * 0.22;
    const QRectF square = QRectF(0, 0, side, side).adjusted(inset, inset, -inset, -inset);
    QPen pen(ink, std::max(1.5, side / 40.0));
    pen.setDashPattern({3.0, 2.0});
    pen.setCapStyle(Qt::RoundCap);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(square, square.width() * 0.18, square.height() * 0.18);
    QFont font;
    font.setBold(true);
    font.setPixelSize(std::max(8, int(square.height() * 0.6)));
    painter.setFont(font);
    painter.setPen(ink);
    painter.drawText(square, Qt::AlignCenter, QStringLiteral("?"));
    return image;
}

QImage MediaThumbnailRenderer::iconImage(const QString &iconName, const QString &genericIconName, int side)
{
    for (const QString &name : {iconName, genericIconName, QStringLiteral("text-x-generic")}) {
        if (name.isEmpty() || !QIcon::hasThemeIcon(name))
            continue;
        const QImage image = QIcon::fromTheme(name).pixmap(QSize(side, side)).toImage();
        if (!image.isNull())
            return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }
    return documentImage(side);
}

} // namespace ovalis
