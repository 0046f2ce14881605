#include "media/CursorImage.h"

#include <QMutex>
#include <QMutexLocker>
#include <QPainter>
#include <QPainterPath>

#include "media/LoupeGeometry.h"

namespace ovalis {

namespace {

QImage loupeFrame(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const double inset = LoupeGeometry::frameInset;
    const QRectF outer = QRectF(0, 0, size, size).adjusted(1, 1, -1, -1);
    const QRectF lens = QRectF(0, 0, size, size).adjusted(inset, inset, -inset, -inset);
    // The rim covers the band between the frame's edge and the lens, a
    // little into the lens so that the clipped image has a clean edge.
    QPainterPath rim;
    rim.addEllipse(outer);
    rim.addEllipse(lens.adjusted(1.5, 1.5, -1.5, -1.5));
    painter.fillPath(rim, QColor(45, 45, 48));
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(235, 235, 235), 1.5));
    painter.drawEllipse(outer);
    painter.setPen(QPen(QColor(150, 150, 155), 1.0));
    painter.drawEllipse(lens.adjusted(1.5, 1.5, -1.5, -1.5));
    return image;
}

QImage arrow(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const double unit = size / 16.0;
    // Points up and to the left, like the pointer it stands in for.
    QPainterPath head;
    head.moveTo(unit * 1.5, unit * 1.5);
    head.lineTo(unit * 9.5, unit * 4.5);
    head.lineTo(unit * 4.5, unit * 9.5);
    head.closeSubpath();
    QPainterPath shaft;
    shaft.moveTo(unit * 5.8, unit * 7.2);
    shaft.lineTo(unit * 7.2, unit * 5.8);
    shaft.lineTo(unit * 14.2, unit * 12.8);
    shaft.lineTo(unit * 12.8, unit * 14.2);
    shaft.closeSubpath();
    const QPainterPath shape = head.united(shaft);
    painter.setPen(QPen(QColor(20, 20, 20), unit * 0.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::white);
    painter.drawPath(shape);
    return image;
}

} // namespace

QImage CursorImage::named(const QString &name)
{
    static QMutex mutex;
    static QImage small;
    static QImage large;
    static QImage pointer;
    QMutexLocker locker(&mutex);
    if (name == QLatin1String("Loupe-small")) {
        if (small.isNull())
            small = loupeFrame(120);
        return small;
    }
    if (name == QLatin1String("Loupe-large")) {
        if (large.isNull())
            large = loupeFrame(200);
        return large;
    }
    if (name == QLatin1String("Arrow")) {
        if (pointer.isNull())
            pointer = arrow(48);
        return pointer;
    }
    return {};
}

QImage CursorImage::tinted(const QImage &image, const QColor &colour)
{
    QImage result = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&result);
    painter.setCompositionMode(QPainter::CompositionMode_Multiply);
    painter.fillRect(result.rect(), colour);
    // Multiplying also fills the transparent parts: take the alpha back.
    painter.setCompositionMode(QPainter::CompositionMode_DestinationIn);
    painter.drawImage(0, 0, image);
    return result;
}

} // namespace ovalis
