#include "transfer/ui/TransferSymbols.h"

#include <QPainter>
#include <QPainterPath>
#include <functional>

namespace ovalis {

namespace {

QPixmap drawn(int size, const QColor &ink, const std::function<void(QPainter &, qreal)> &draw)
{
    const qreal ratio = 2;
    QPixmap pixmap(QSize(size, size) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(ink, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    draw(painter, qreal(size));
    return pixmap;
}

} // namespace

QPixmap TransferSymbols::device(DeviceType device, int size)
{
    return drawn(size, QColor(0x3a, 0x3a, 0x3c), [device](QPainter &painter, qreal s) {
        switch (device) {
        case DeviceType::mac:
            // A screen on a stand.
            painter.drawRoundedRect(QRectF(s * 0.1, s * 0.15, s * 0.8, s * 0.55), 2, 2);
            painter.drawLine(QPointF(s * 0.5, s * 0.7), QPointF(s * 0.5, s * 0.84));
            painter.drawLine(QPointF(s * 0.32, s * 0.86), QPointF(s * 0.68, s * 0.86));
            break;
        case DeviceType::iPhone:
            painter.drawRoundedRect(QRectF(s * 0.3, s * 0.08, s * 0.4, s * 0.84), 3, 3);
            painter.drawLine(QPointF(s * 0.45, s * 0.8), QPointF(s * 0.55, s * 0.8));
            break;
        case DeviceType::unknown: {
            QFont font = painter.font();
            font.setPixelSize(int(s * 0.8));
            font.setBold(true);
            painter.setFont(font);
            painter.drawText(QRectF(0, 0, s, s), Qt::AlignCenter, QStringLiteral("?"));
            break;
        }
        }
    });
}

QPixmap TransferSymbols::share(int size)
{
    return drawn(size, QColor(0xff, 0x95, 0x00), [](QPainter &painter, qreal s) {
        QPainterPath box;
        box.moveTo(s * 0.35, s * 0.42);
        box.lineTo(s * 0.18, s * 0.42);
        box.lineTo(s * 0.18, s * 0.92);
        box.lineTo(s * 0.82, s * 0.92);
        box.lineTo(s * 0.82, s * 0.42);
        box.lineTo(s * 0.65, s * 0.42);
        painter.drawPath(box);
        painter.drawLine(QPointF(s * 0.5, s * 0.08), QPointF(s * 0.5, s * 0.64));
        painter.drawLine(QPointF(s * 0.32, s * 0.25), QPointF(s * 0.5, s * 0.08));
        painter.drawLine(QPointF(s * 0.68, s * 0.25), QPointF(s * 0.5, s * 0.08));
    });
}

} // namespace ovalis
