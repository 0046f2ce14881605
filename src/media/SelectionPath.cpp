#include "media/SelectionPath.h"

#include <array>

namespace ovalis {

namespace {

QPointF cornerPoint(const QRectF &rect, SelectionHit corner)
{
    switch (corner) {
    case SelectionHit::topLeft:
        return {rect.left(), rect.bottom()};
    case SelectionHit::topRight:
        return {rect.right(), rect.bottom()};
    case SelectionHit::bottomLeft:
        return {rect.left(), rect.top()};
    case SelectionHit::bottomRight:
        return {rect.right(), rect.top()};
    default:
        return rect.center();
    }
}

SelectionHit opposite(SelectionHit corner)
{
    switch (corner) {
    case SelectionHit::topLeft:
        return SelectionHit::bottomRight;
    case SelectionHit::topRight:
        return SelectionHit::bottomLeft;
    case SelectionHit::bottomLeft:
        return SelectionHit::topRight;
    case SelectionHit::bottomRight:
        return SelectionHit::topLeft;
    default:
        return corner;
    }
}

} // namespace

// QRectF's top() is its minimum y, which is the bottom edge here because the
// origin is at the bottom left; cornerPoint() names them accordingly.
SelectionHit SelectionPath::hitTest(const QPointF &point) const
{
    if (!selectionRect)
        return SelectionHit::noSelection;
    const QRectF rect = selectionRect->normalized();
    constexpr std::array order{SelectionHit::bottomLeft, SelectionHit::topLeft, SelectionHit::topRight,
                               SelectionHit::bottomRight};
    for (SelectionHit corner : order) {
        const QPointF centre = cornerPoint(rect, corner);
        const QRectF square(centre.x() - cornerTolerance, centre.y() - cornerTolerance, 2 * cornerTolerance,
                            2 * cornerTolerance);
        if (square.contains(point))
            return corner;
    }
    return rect.contains(point) ? SelectionHit::inside : SelectionHit::outside;
}

std::optional<QPointF> SelectionPath::oppositeCorner(SelectionHit corner) const
{
    if (!selectionRect || corner == SelectionHit::inside || corner == SelectionHit::outside
        || corner == SelectionHit::noSelection)
        return std::nullopt;
    return cornerPoint(selectionRect->normalized(), opposite(corner));
}

void ImageSelection::mouseDown(const QPointF &point)
{
    const SelectionHit hit = m_selection ? m_selection->hitTest(point) : SelectionHit::noSelection;
    switch (hit) {
    case SelectionHit::outside:
    case SelectionHit::noSelection:
        m_selection = SelectionPath{std::nullopt, point, DragMode::resizing};
        m_outline = true;
        return;
    case SelectionHit::inside:
        m_selection->pinPoint = point;
        m_selection->mode = DragMode::moving;
        return;
    default:
        m_selection->pinPoint = m_selection->oppositeCorner(hit);
        m_selection->mode = DragMode::resizing;
        return;
    }
}

bool ImageSelection::mouseDragged(const QPointF &point)
{
    if (!m_selection || !m_selection->pinPoint)
        return false;
    SelectionPath &path = *m_selection;
    const QPointF pin = *path.pinPoint;
    const QPointF delta = point - pin;
    if (path.mode == DragMode::resizing) {
        path.selectionRect = QRectF(pin.x(), pin.y(), delta.x(), delta.y());
    } else {
        if (!path.selectionRect)
            return false;
        path.selectionRect->translate(delta);
        path.pinPoint = point;
    }
    m_outline = true;
    return true;
}

void ImageSelection::mouseUp()
{
    if (m_selection && !m_selection->selectionRect)
        m_outline = false;
}

void ImageSelection::clear()
{
    m_selection.reset();
    m_outline = false;
}

} // namespace ovalis
