#include "media/ui/InteractiveView.h"

#include <QMouseEvent>
#include <QWheelEvent>
#include <utility>

#include "media/ScrollAccumulator.h"
#include "util/Log.h"

namespace ovalis {

InteractiveView::InteractiveView(QWidget *parent)
    : QWidget(parent)
{
    setMouseTracking(true);
}

void InteractiveView::wheelEvent(QWheelEvent *event)
{
    const double delta = ScrollAccumulator::deltaForWheel(event->angleDelta(), event->pixelDelta());
    event->accept();
    if (delta != 0.0)
        emit scrollNavigate(delta, ScrollAccumulator::isNotched(event->pixelDelta()));
}

void InteractiveView::mouseMoveEvent(QMouseEvent *event)
{
    if (event->buttons() & Qt::LeftButton)
        emit mouseDragged(event->position());
    if (isActiveWindow())
        emit mouseMoved(event->position());
    QWidget::mouseMoveEvent(event);
}

void InteractiveView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    m_doubleClicking = false;
    emit mousePressed(event->position());
}

void InteractiveView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mouseReleaseEvent(event);
    if (std::exchange(m_doubleClicking, false))
        return;
    emit mouseReleased(event->position());
}

void InteractiveView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mouseDoubleClickEvent(event);
    m_doubleClicking = true;
    emit doubleClicked(event->position());
}

void InteractiveView::leaveEvent(QEvent *event)
{
    emit mouseExited();
    QWidget::leaveEvent(event);
}

void InteractiveView::resizeEvent(QResizeEvent *event)
{
    // Moves are tracked over the whole view, whatever its size.
    Log::debug(LogArea::UI, QStringLiteral("InteractiveView updateTrackingAreas"));
    QWidget::resizeEvent(event);
}

} // namespace ovalis
