#include "media/ui/DisplayImageView.h"

#include <QCoreApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QThreadPool>
#include <QVariantAnimation>

#include "media/CursorImage.h"
#include "media/LoupeGeometry.h"

namespace ovalis {

namespace {
constexpr int opacityAnimationMilliseconds = 150;
constexpr qreal outlineWidth = 3.0;
constexpr qreal outlineDash = 10.0;
constexpr qreal outlineGap = 5.0;
constexpr int outlineCrawlMilliseconds = 750;

// The desktop's accent blue, as the outline is drawn in.
QColor outlineColour()
{
    QColor colour(0, 122, 255);
    colour.setAlphaF(0.9f);
    return colour;
}
} // namespace

DisplayImageView::DisplayImageView(QWidget *parent)
    : QWidget(parent)
    , m_dashAnimation(new QVariantAnimation(this))
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    m_dashAnimation->setStartValue(0.0);
    m_dashAnimation->setEndValue(outlineDash + outlineGap);
    m_dashAnimation->setDuration(outlineCrawlMilliseconds);
    m_dashAnimation->setLoopCount(-1);
    connect(m_dashAnimation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_dashPhase = value.toReal();
        update();
    });
}

DisplayImageView::~DisplayImageView() = default;

void DisplayImageView::setImage(const QImage &image, const QSize &originalSize, const QImage &scaledCopy)
{
    m_image = image;
    m_imageSize = image.isNull() ? QSize() : (originalSize.isValid() ? originalSize : image.size());
    m_scaledCopy = scaledCopy;
    m_scaledKey = scaledCopy.isNull() ? ScaledKey() : ScaledKey{image.cacheKey(), scaledCopy.size(), 0};
    m_pendingKey.reset();
    update();
}

void DisplayImageView::setImageScaling(ImageScaling::Mode mode)
{
    if (m_imageScaling == mode)
        return;
    m_imageScaling = mode;
    update();
}

void DisplayImageView::setTintColor(const QColor &colour)
{
    if (m_tintColor == colour)
        return;
    m_tintColor = colour;
    update();
}

void DisplayImageView::setImageOpacity(qreal opacity)
{
    m_imageOpacity = opacity;
    update();
}

void DisplayImageView::animateImageOpacity(qreal target)
{
    if (qFuzzyCompare(m_targetImageOpacity, target) && (m_opacityAnimation || qFuzzyCompare(m_imageOpacity, target)))
        return;
    m_targetImageOpacity = target;
    if (m_opacityAnimation)
        m_opacityAnimation->stop();
    auto *animation = new QPropertyAnimation(this, "imageOpacity", this);
    animation->setDuration(opacityAnimationMilliseconds);
    animation->setStartValue(m_imageOpacity);
    animation->setEndValue(target);
    m_opacityAnimation = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

std::optional<QRectF> DisplayImageView::displayedImageRect() const
{
    return ImageScaling::displayedImageRect(QRectF(rect()), QSizeF(m_imageSize), m_imageScaling);
}

std::optional<QCursor> DisplayImageView::loupeCursor(const QString &frameName, double factor, const QPointF &position) const
{
    const QImage frame = CursorImage::named(frameName);
    const QImage lens = loupeImage(frame, factor, position);
    if (lens.isNull())
        return std::nullopt;
    return QCursor(QPixmap::fromImage(lens), lens.width() / 2, lens.height() / 2);
}

QImage DisplayImageView::loupeImage(const QImage &frame, double factor, const QPointF &position) const
{
    const std::optional<QRectF> displayed = displayedImageRect();
    if (frame.isNull() || !displayed || !displayed->contains(position))
        return {};
    const QRectF source = LoupeGeometry::sourceRect(QSizeF(m_imageSize), *displayed, position, QSizeF(frame.size()), factor);
    // The source is in the file's pixels; the image held may be a reduced copy.
    const double scale = double(m_image.width()) / m_imageSize.width();
    const QRectF held(source.topLeft() * scale, source.size() * scale);

    QImage cursor(frame.size(), QImage::Format_ARGB32_Premultiplied);
    cursor.fill(Qt::transparent);
    QPainter painter(&cursor);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF lens = LoupeGeometry::lensRect(QSizeF(frame.size()));
    QPainterPath circle;
    circle.addEllipse(lens);
    painter.setClipPath(circle);
    painter.fillRect(lens, Qt::black);
    painter.drawImage(lens, m_image, held);
    painter.setClipping(false);
    painter.drawImage(QPointF(0, 0), frame);
    return cursor;
}

QPointF DisplayImageView::selectionPoint(const QPointF &position) const
{
    return QPointF(position.x(), height() - position.y());
}

void DisplayImageView::selectionMouseDown(const QPointF &position)
{
    m_selection.mouseDown(selectionPoint(position));
    updateOutline();
}

void DisplayImageView::selectionMouseDragged(const QPointF &position)
{
    if (m_selection.mouseDragged(selectionPoint(position)))
        updateOutline();
}

void DisplayImageView::selectionMouseUp()
{
    m_selection.mouseUp();
    updateOutline();
}

void DisplayImageView::clearSelection()
{
    m_selection.clear();
    updateOutline();
}

CropViewLayout DisplayImageView::cropLayout() const
{
    return {QSizeF(size()), m_imageScaling == ImageScaling::ProportionallyUpOrDown};
}

void DisplayImageView::updateOutline()
{
    const bool shown = m_selection.hasOutline() && m_selection.selectionRect();
    if (shown && m_dashAnimation->state() != QAbstractAnimation::Running)
        m_dashAnimation->start();
    else if (!shown)
        m_dashAnimation->stop();
    update();
}

void DisplayImageView::paintSelection(QPainter &painter) const
{
    const std::optional<QRectF> rect = m_selection.selectionRect();
    if (!m_selection.hasOutline() || !rect)
        return;
    const QRectF normal = rect->normalized();
    // Back to the widget's top-left origin.
    const QRectF outline(normal.left(), height() - normal.bottom(), normal.width(), normal.height());
    QPen pen(outlineColour(), outlineWidth);
    // Qt measures dashes in pen widths.
    pen.setDashPattern({outlineDash / outlineWidth, outlineGap / outlineWidth});
    pen.setDashOffset(m_dashPhase / outlineWidth);
    painter.setOpacity(1.0);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(outline);
}

DisplayImageView::ScaledKey DisplayImageView::currentKey(const QRectF &rect) const
{
    const qreal ratio = devicePixelRatioF();
    return {m_image.cacheKey(), QSize(qRound(rect.width() * ratio), qRound(rect.height() * ratio)),
            m_tintColor.isValid() ? m_tintColor.rgba() : 0};
}

bool DisplayImageView::hasScaledCopy() const
{
    const std::optional<QRectF> rect = displayedImageRect();
    return rect && !m_scaledCopy.isNull() && m_scaledKey == currentKey(*rect);
}

QImage DisplayImageView::makeScaledCopy(const QImage &image, const QSize &size, const QColor &tint)
{
    QImage copy = image.size() == size ? image
                                       : image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (tint.isValid()) {
        copy = copy.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&copy);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(copy.rect(), tint);
    }
    return copy;
}

void DisplayImageView::prepareScaledCopy(const ScaledKey &key)
{
    if (m_scaledKey == key && !m_scaledCopy.isNull())
        return;
    if (qint64(m_image.width()) * m_image.height() <= synchronousScalingLimit) {
        m_scaledCopy = makeScaledCopy(m_image, key.size, m_tintColor);
        m_scaledKey = key;
        return;
    }
    if (m_pendingKey == key)
        return;
    m_pendingKey = key;
    const QImage image = m_image;
    const QColor tint = m_tintColor;
    QPointer<DisplayImageView> view(this);
    QThreadPool::globalInstance()->start([view, image, key, tint] {
        const QImage copy = makeScaledCopy(image, key.size, tint);
        // The lambda runs on the main thread, where the pointer may be read.
        QMetaObject::invokeMethod(
            qApp,
            [view, key, copy] {
                if (!view || view->m_pendingKey != key)
                    return;
                view->m_pendingKey.reset();
                view->m_scaledCopy = copy;
                view->m_scaledKey = key;
                view->repaint();
                emit view->scaledCopyArrived();
            },
            Qt::QueuedConnection);
    });
}

void DisplayImageView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paintImage(painter);
    paintSelection(painter);
}

void DisplayImageView::paintImage(QPainter &painter)
{
    const std::optional<QRectF> rect = displayedImageRect();
    if (m_image.isNull() || !rect)
        return;
    const ScaledKey key = currentKey(*rect);
    if (key.size.isEmpty())
        return;
    painter.save();
    painter.setOpacity(m_imageOpacity);
    prepareScaledCopy(key);
    if (m_scaledKey == key && !m_scaledCopy.isNull()) {
        painter.drawImage(*rect, m_scaledCopy);
    } else {
        // A large image whose copy is still being scaled: drawn unsmoothed,
        // which costs about as much as drawing the copy.
        painter.drawImage(*rect, m_image);
    }
    painter.restore();
}

} // namespace ovalis
