#include "media/ui/InteractiveView.h"

#include <QMouseEvent>
#include <QWheelEvent>

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
        emit scrollNavigate(delta);
}

void InteractiveView::mouseMoveEvent(QMouseEvent *event)
{
    if (isActiveWindow())
        emit mouseMoved(event->position());
    QWidget::mouseMoveEvent(event);
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
