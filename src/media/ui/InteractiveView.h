#pragma once

#include <QWidget>
#include <optional>

namespace ovalis {

// A transparent layer over the display that takes the mouse: scrolling
// steps through the media, mouse moves rebuild the loupe, and presses,
// drags and releases of the left button make the crop selection.
class InteractiveView : public QWidget
{
    Q_OBJECT

public:
    explicit InteractiveView(QWidget *parent = nullptr);

    // Where the pointer is over this view, in its coordinates, as the mouse
    // events last placed it; nothing once it has left. Before any event has
    // come since the view was shown, the window system is asked.
    std::optional<QPointF> pointerPosition() const;

    // While set, drags with the right button, or with the left one and
    // Control, adjust a window (windowDrag… signals) instead of selecting.
    bool adjustsWindow() const { return m_adjustsWindow; }
    void setAdjustsWindow(bool adjusts) { m_adjustsWindow = adjusts; }
    // While set, scrolling with Shift steps frames (frameScroll) instead of media.
    bool stepsFrames() const { return m_stepsFrames; }
    void setStepsFrames(bool steps) { m_stepsFrames = steps; }

signals:
    // The scrolled distance, positive downwards, and whether it counts in
    // wheel notches (see ScrollAccumulator).
    void scrollNavigate(double delta, bool notched);
    // Mouse moves, in this view's coordinates, while the window is active.
    void mouseMoved(const QPointF &position);
    void mouseExited();
    // The left button, in this view's coordinates. A double click reports
    // doubleClicked in place of its second press.
    void mousePressed(const QPointF &position);
    void mouseDragged(const QPointF &position);
    void mouseReleased(const QPointF &position);
    void doubleClicked(const QPointF &position);
    // A window adjusting drag, in this view's coordinates.
    void windowDragStarted(const QPointF &position);
    void windowDragged(const QPointF &position);
    void windowDragEnded();
    // Scrolling with Shift while stepsFrames, as scrollNavigate counts it.
    void frameScroll(double delta, bool notched);

protected:
    void wheelEvent(QWheelEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    bool m_doubleClicking = false; // the release of a double click's second press is its own
    bool m_pointerTracked = false; // an event has placed the pointer since the view was shown
    std::optional<QPointF> m_pointerPosition;
    bool m_adjustsWindow = false;
    bool m_stepsFrames = false;
    Qt::MouseButton m_windowDragButton = Qt::NoButton; // the button of the window drag in progress
};

} // namespace ovalis
