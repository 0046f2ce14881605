#pragma once

#include <QWidget>

namespace ovalis {

// A transparent layer over the display that takes the mouse: scrolling
// steps through the media, and mouse moves rebuild the loupe.
class InteractiveView : public QWidget
{
    Q_OBJECT

public:
    explicit InteractiveView(QWidget *parent = nullptr);

signals:
    // The scrolled distance, positive downwards (see ScrollAccumulator).
    void scrollNavigate(double delta);
    // Mouse moves, in this view's coordinates, while the window is active.
    void mouseMoved(const QPointF &position);
    void mouseExited();

protected:
    void wheelEvent(QWheelEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
};

} // namespace ovalis
