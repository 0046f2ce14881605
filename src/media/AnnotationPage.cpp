#include "media/AnnotationPage.h"

#include <QLineF>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <algorithm>
#include <QtMath>
#include <cmath>

#include "media/AnnotationGeometry.h"

namespace ovalis {

namespace {

// Page rectangle (origin bottom left) to scene rectangle (origin top left).
QRectF sceneRect(const QRectF &pageRect, double pageHeight)
{
    return QRectF(pageRect.x(), pageHeight - pageRect.y() - pageRect.height(), pageRect.width(), pageRect.height());
}

QPointF scenePoint(const QPointF &pagePoint, double pageHeight)
{
    return QPointF(pagePoint.x(), pageHeight - pagePoint.y());
}

void drawArrow(QPainter &painter, const AnnotationMark &mark, double pageHeight)
{
    const QPointF start = scenePoint(mark.bounds.topLeft() + mark.startPoint, pageHeight);
    const QPointF end = scenePoint(mark.bounds.topLeft() + mark.endPoint, pageHeight);
    const QLineF line(start, end);
    if (line.length() <= 0)
        return;
    // A closed head whose size follows the line width, as viewers draw one.
    const double headLength = std::max(9.0, mark.borderWidth * 4.0);
    const double headHalfWidth = headLength * 0.45;
    const QPointF direction = (end - start) / line.length();
    const QPointF normal(-direction.y(), direction.x());
    const QPointF base = end - direction * headLength;
    QPen pen(mark.color, mark.borderWidth, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawLine(QLineF(start, base + direction * (mark.borderWidth / 2)));
    const QPolygonF head({end, base + normal * headHalfWidth, base - normal * headHalfWidth});
    painter.setBrush(mark.color);
    painter.drawPolygon(head);
}

} // namespace

AnnotationPage::AnnotationPage(const QImage &image)
    : m_image(image)
    , m_mediaBox(0, 0, image.width(), image.height())
{
}

void AnnotationPage::addAnnotation(const AnnotationMarkRef &mark)
{
    if (mark)
        m_annotations.append(mark);
}

bool AnnotationPage::removeAnnotation(const AnnotationMarkRef &mark)
{
    return m_annotations.removeOne(mark);
}

void AnnotationPage::draw(QPainter &painter) const
{
    const QRectF box(0, 0, m_mediaBox.width(), m_mediaBox.height());
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(box, m_image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    for (const AnnotationMarkRef &mark : m_annotations)
        drawMark(painter, *mark, m_mediaBox.height());
    painter.restore();
}

void AnnotationPage::drawMark(QPainter &painter, const AnnotationMark &mark, double pageHeight)
{
    painter.save();
    const QRectF rect = sceneRect(mark.bounds, pageHeight);
    // Borders lie inside the bounds.
    const double inset = mark.borderWidth / 2;
    const QRectF inner = rect.adjusted(inset, inset, -inset, -inset);
    const QPen border(mark.color, mark.borderWidth, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
    switch (mark.kind) {
    case AnnotationMark::Kind::line:
        drawArrow(painter, mark, pageHeight);
        break;
    case AnnotationMark::Kind::square:
        painter.setPen(border);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(inner);
        break;
    case AnnotationMark::Kind::circle:
        painter.setPen(border);
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(inner);
        break;
    case AnnotationMark::Kind::freeText: {
        painter.fillRect(rect, mark.backgroundColor);
        if (mark.borderWidth > 0) {
            painter.setPen(border);
            painter.setBrush(Qt::NoBrush);
            painter.drawRect(inner);
        }
        painter.setPen(mark.fontColor);
        painter.setFont(AnnotationGeometry::textFont(mark.fontSize));
        const QRectF textRect = rect.adjusted(AnnotationGeometry::textPadding / 2, 0, 0, 0);
        painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, mark.contents);
        break;
    }
    }
    painter.restore();
}

QImage flattenPage(const AnnotationPage &page, const QSizeF &size)
{
    const QRectF box = page.mediaBox();
    if (box.width() <= 0 || box.height() <= 0)
        return {};
    const int width = int(std::floor(size.width()));
    const int height = int(std::floor(size.height()));
    if (width <= 0 || height <= 0)
        return {};
    QImage bitmap(width, height, QImage::Format_RGBA8888_Premultiplied);
    if (bitmap.isNull())
        return {};
    bitmap.fill(Qt::transparent);
    QPainter painter(&bitmap);
    painter.scale(size.width() / box.width(), size.height() / box.height());
    page.draw(painter);
    painter.end();
    return bitmap;
}

} // namespace ovalis
