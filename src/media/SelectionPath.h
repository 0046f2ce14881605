#pragma once

#include <QPointF>
#include <QRectF>
#include <optional>

namespace ovalis {

// Where a point lies relative to the selection rectangle. Corners are named
// in view coordinates with the origin at the bottom left (top is maxY).
enum class SelectionHit { outside = 0, inside = 1, topLeft = 2, topRight = 3, bottomLeft = 4, bottomRight = 5, noSelection = 6 };

enum class DragMode { resizing = 0, moving = 1 };

// The selection the user drags over the displayed image, in the view's
// coordinates with the origin at the bottom left. While resizing, the
// rectangle runs from the pin point to the mouse, so its width and height
// may be negative; nothing clamps it to the image.
class SelectionPath
{
public:
    // Half the side of the square around each corner that grabs it.
    static constexpr double cornerTolerance = 10.0;

    std::optional<QRectF> selectionRect;
    std::optional<QPointF> pinPoint;
    DragMode mode = DragMode::resizing;

    // Corners are tried bottomLeft, topLeft, topRight, bottomRight, then the
    // interior; noSelection without a rectangle.
    SelectionHit hitTest(const QPointF &point) const;
    // The corner diagonally opposite the one hit (of the normalised rectangle).
    std::optional<QPointF> oppositeCorner(SelectionHit corner) const;
};

// The selection of one image view and what the mouse does to it. The view
// shows an outline while hasOutline() and repaints after each call.
class ImageSelection
{
public:
    const std::optional<SelectionPath> &selection() const { return m_selection; }
    std::optional<QRectF> selectionRect() const { return m_selection ? m_selection->selectionRect : std::nullopt; }
    bool hasOutline() const { return m_outline; }

    // Outside the rectangle (or without one) a new selection pinned at the
    // point replaces the old; inside starts moving it; on a corner resizes
    // it from the opposite corner.
    void mouseDown(const QPointF &point);
    // Resizes to the point or moves by the step since the last point.
    // Answers whether the rectangle changed.
    bool mouseDragged(const QPointF &point);
    // A click without a drag leaves a selection without rectangle or outline.
    void mouseUp();
    void clear();

private:
    std::optional<SelectionPath> m_selection;
    bool m_outline = false;
};

} // namespace ovalis
