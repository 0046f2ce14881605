#include "media/ui/MediaRoundRectView.h"

#include <QPainter>

namespace ovalis {

QColor MediaRoundRectView::fillColour()
{
    return QColor::fromRgbF(0.1f, 0.1f, 0.1f, 0.9f);
}

QColor MediaRoundRectView::textColour()
{
    return QColor(238, 238, 238);
}

MediaRoundRectView::MediaRoundRectView(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, textColour());
    colours.setColor(QPalette::Text, textColour());
    setPalette(colours);
}

void MediaRoundRectView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fillColour());
    painter.drawRoundedRect(QRectF(rect()), cornerRadius, cornerRadius);
}

} // namespace ovalis
