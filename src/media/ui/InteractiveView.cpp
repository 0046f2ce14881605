#include "media/ui/InteractiveView.h"

#include <QCursor>
#include <QEnterEvent>
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

std::optional<QPointF> InteractiveView::pointerPosition() const
{
    // Moves outside the view still come while a button is held.
    const QPointF position = m_pointerTracked ? m_pointerPosition.value_or(QPointF(-1, -1)) : QPointF(mapFromGlobal(QCursor::pos()));
    if (!QRectF(rect()).contains(position))
        return std::nullopt;
    return position;
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
    m_pointerTracked = true;
    m_pointerPosition = event->position();
    if (event->buttons() & Qt::LeftButton)
        emit mouseDragged(event->position());
    if (isActiveWindow())
        emit mouseMoved(event->position());
    QWidget::mouseMoveEvent(event);
}

void InteractiveView::mousePressEvent(QMouseEvent *event)
{
    m_pointerTracked = true;
    m_pointerPosition = event->position();
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

void InteractiveView::enterEvent(QEnterEvent *event)
{
    m_pointerTracked = true;
    m_pointerPosition = event->position();
    QWidget::enterEvent(event);
}

void InteractiveView::leaveEvent(QEvent *event)
{
    m_pointerTracked = true;
    m_pointerPosition.reset();
    emit mouseExited();
    QWidget::leaveEvent(event);
}

void InteractiveView::hideEvent(QHideEvent *event)
{
    m_pointerTracked = false;
    m_pointerPosition.reset();
    QWidget::hideEvent(event);
}

void InteractiveView::resizeEvent(QResizeEvent *event)
{
    // Moves are tracked over the whole view, whatever its size.
    Log::debug(LogArea::UI, QStringLiteral("InteractiveView updateTrackingAreas"));
    QWidget::resizeEvent(event);
}

} // namespace ovalis
