#include "media/PlaceholderImage.h"

#include <QPainter>
#include <QPainterPath>

namespace ovalis {

namespace {

const QColor lineColour(210, 210, 210);
const QColor reasonColour(142, 142, 147);

QImage transparentSquare(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

QPainterPath page(const QRectF &rect, double fold)
{
    QPainterPath path;
    path.moveTo(rect.topLeft());
    path.lineTo(rect.right() - fold, rect.top());
    path.lineTo(rect.right(), rect.top() + fold);
    path.lineTo(rect.bottomRight());
    path.lineTo(rect.bottomLeft());
    path.closeSubpath();
    return path;
}

} // namespace

QImage PlaceholderImage::copies(int size)
{
    QImage image = transparentSquare(size);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const double unit = size / 16.0;
    QPen pen(lineColour, unit * 0.7);
    pen.setJoinStyle(Qt::RoundJoin);
    painter.setPen(pen);
    const QRectF back(unit * 5, unit * 2, unit * 8, unit * 10);
    const QRectF front(unit * 3, unit * 4, unit * 8, unit * 10);
    // The back page shows only where the front one does not cover it.
    QPainterPath frontPath = page(front, unit * 2);
    painter.save();
    QPainterPath whole;
    whole.addRect(QRectF(0, 0, size, size));
    painter.setClipPath(whole.subtracted(frontPath));
    painter.drawPath(page(back, unit * 2));
    painter.restore();
    painter.drawPath(frontPath);
    for (int line = 0; line < 3; ++line) {
        const double y = front.top() + unit * (3.5 + 2 * line);
        painter.drawLine(QPointF(front.left() + unit * 1.5, y), QPointF(front.right() - unit * 1.5, y));
    }
    return image;
}

namespace {

void drawDashedSquare(QPainter &painter, const QColor &colour, double unit)
{
    QPen dashed(colour, unit * 0.6, Qt::CustomDashLine, Qt::RoundCap);
    dashed.setDashPattern({2.0, 2.0});
    painter.setPen(dashed);
    painter.drawRoundedRect(QRectF(unit * 2, unit * 2, unit * 12, unit * 12), unit * 2.5, unit * 2.5);
}

} // namespace

QImage PlaceholderImage::missingFile(int size)
{
    QImage image = transparentSquare(size);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const double unit = size / 16.0;
    drawDashedSquare(painter, lineColour, unit);

    QPen solid(lineColour, unit * 1.1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(solid);
    QPainterPath mark;
    mark.moveTo(unit * 6.0, unit * 6.4);
    mark.cubicTo(unit * 6.0, unit * 4.4, unit * 10.0, unit * 4.4, unit * 10.0, unit * 6.4);
    mark.cubicTo(unit * 10.0, unit * 7.8, unit * 8.0, unit * 8.0, unit * 8.0, unit * 9.6);
    painter.drawPath(mark);
    painter.setPen(Qt::NoPen);
    painter.setBrush(lineColour);
    painter.drawEllipse(QPointF(unit * 8.0, unit * 11.4), unit * 0.75, unit * 0.75);
    return image;
}

QImage PlaceholderImage::unavailable(const QString &reason, int size)
{
    size = std::max(size, 32);
    QImage image = transparentSquare(size);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const double unit = size / 16.0;
    drawDashedSquare(painter, reasonColour, unit);
    QFont font;
    font.setPixelSize(std::max(6, int(unit * 1.3)));
    painter.setFont(font);
    painter.setPen(reasonColour);
    // Plain text, wrapped inside the square.
    painter.drawText(QRectF(unit * 3, unit * 3, unit * 10, unit * 10), Qt::AlignCenter | Qt::TextWordWrap, reason);
    return image;
}

} // namespace ovalis
