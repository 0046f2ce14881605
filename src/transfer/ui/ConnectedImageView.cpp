#include "transfer/ui/ConnectedImageView.h"

#include <QPainter>
#include <QPainterPath>

namespace ovalis {

ConnectedImageView::ConnectedImageView(QWidget *parent)
    : QWidget(parent)
{
    setFixedSize(sizeHint());
}

void ConnectedImageView::setConnected(bool connected)
{
    if (connected == m_connected)
        return;
    m_connected = connected;
    update();
}

void ConnectedImageView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF circle = QRectF(rect()).adjusted(2, 2, -2, -2);
    if (!m_connected) {
        painter.setPen(QPen(QColor(0x8e, 0x8e, 0x93), 1.5));
        painter.drawEllipse(circle);
        return;
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x34, 0xc7, 0x59));
    painter.drawEllipse(circle);
    QPainterPath check;
    check.moveTo(circle.left() + circle.width() * 0.27, circle.top() + circle.height() * 0.52);
    check.lineTo(circle.left() + circle.width() * 0.44, circle.top() + circle.height() * 0.68);
    check.lineTo(circle.left() + circle.width() * 0.74, circle.top() + circle.height() * 0.34);
    painter.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(check);
}

} // namespace ovalis
