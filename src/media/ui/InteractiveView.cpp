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
    event->accept();
    if (m_stepsFrames && (event->modifiers() & Qt::ShiftModifier)) {
        // Some systems turn a wheel turned with Shift into a sideways one.
        const bool sideways = event->angleDelta().y() == 0 && event->pixelDelta().y() == 0;
        const QPoint angle = sideways ? event->angleDelta().transposed() : event->angleDelta();
        const QPoint pixels = sideways ? event->pixelDelta().transposed() : event->pixelDelta();
        const double delta = ScrollAccumulator::deltaForWheel(angle, pixels);
        if (delta != 0.0)
            emit frameScroll(delta, ScrollAccumulator::isNotched(pixels));
        return;
    }
    const double delta = ScrollAccumulator::deltaForWheel(event->angleDelta(), event->pixelDelta());
    if (delta != 0.0)
        emit scrollNavigate(delta, ScrollAccumulator::isNotched(event->pixelDelta()));
}

void InteractiveView::mouseMoveEvent(QMouseEvent *event)
{
    m_pointerTracked = true;
    m_pointerPosition = event->position();
    if (m_windowDragButton != Qt::NoButton)
        emit windowDragged(event->position());
    else if (event->buttons() & Qt::LeftButton)
        emit mouseDragged(event->position());
    if (isActiveWindow())
        emit mouseMoved(event->position());
    QWidget::mouseMoveEvent(event);
}

void InteractiveView::mousePressEvent(QMouseEvent *event)
{
    m_pointerTracked = true;
    m_pointerPosition = event->position();
    if (m_adjustsWindow && m_windowDragButton == Qt::NoButton
        && (event->button() == Qt::RightButton
            || (event->button() == Qt::LeftButton && (event->modifiers() & Qt::ControlModifier)))) {
        m_windowDragButton = event->button();
        emit windowDragStarted(event->position());
        return;
    }
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    m_doubleClicking = false;
    emit mousePressed(event->position());
}

void InteractiveView::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_windowDragButton != Qt::NoButton && event->button() == m_windowDragButton) {
        m_windowDragButton = Qt::NoButton;
        emit windowDragEnded();
        return;
    }
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
    m_windowDragButton = Qt::NoButton;
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
