#include <gtest/gtest.h>

#include "media/SelectionPath.h"

using namespace ovalis;

namespace {

SelectionPath pathWith(const QRectF &rect)
{
    SelectionPath path;
    path.selectionRect = rect;
    return path;
}

// A selection made by one drag from one point to another.
void drag(ImageSelection &selection, const QPointF &from, const QPointF &to)
{
    selection.mouseDown(from);
    selection.mouseDragged(to);
    selection.mouseUp();
}

} // namespace

TEST(SelectionPathTest, HitTestFindsCornersInOrderThenTheInterior)
{
    EXPECT_EQ(SelectionPath().hitTest(QPointF(0, 0)), SelectionHit::noSelection);

    // Origin bottom left: (100, 100) is the bottom-left corner, (300, 250) the top right.
    const SelectionPath path = pathWith(QRectF(100, 100, 200, 150));
    EXPECT_EQ(path.hitTest(QPointF(100, 100)), SelectionHit::bottomLeft);
    EXPECT_EQ(path.hitTest(QPointF(109, 91)), SelectionHit::bottomLeft);
    EXPECT_EQ(path.hitTest(QPointF(100, 250)), SelectionHit::topLeft);
    EXPECT_EQ(path.hitTest(QPointF(300, 250)), SelectionHit::topRight);
    EXPECT_EQ(path.hitTest(QPointF(300, 100)), SelectionHit::bottomRight);
    EXPECT_EQ(path.hitTest(QPointF(200, 170)), SelectionHit::inside);
    EXPECT_EQ(path.hitTest(QPointF(200, 260)), SelectionHit::outside);
    EXPECT_EQ(path.hitTest(QPointF(111, 100)), SelectionHit::inside); // just beyond the corner square
    EXPECT_EQ(path.hitTest(QPointF(89, 100)), SelectionHit::outside);

    // An inverted rectangle (dragged leftwards and upwards) has the same corners.
    const SelectionPath inverted = pathWith(QRectF(300, 250, -200, -150));
    EXPECT_EQ(inverted.hitTest(QPointF(100, 100)), SelectionHit::bottomLeft);
    EXPECT_EQ(inverted.hitTest(QPointF(300, 250)), SelectionHit::topRight);

    // In a tiny rectangle all corner squares overlap: bottomLeft is tried first,
    // then topLeft, topRight, bottomRight.
    const SelectionPath tiny = pathWith(QRectF(100, 100, 4, 4));
    EXPECT_EQ(tiny.hitTest(QPointF(102, 102)), SelectionHit::bottomLeft);
    EXPECT_EQ(tiny.hitTest(QPointF(95, 113)), SelectionHit::topLeft);
    EXPECT_EQ(tiny.hitTest(QPointF(113, 113)), SelectionHit::topRight);
    EXPECT_EQ(tiny.hitTest(QPointF(113, 91)), SelectionHit::bottomRight);
}

TEST(SelectionPathTest, DraggingResizesFromThePinAndAllowsInvertedRectangles)
{
    ImageSelection selection;
    EXPECT_FALSE(selection.selection());
    EXPECT_FALSE(selection.mouseDragged(QPointF(10, 10))); // nothing pinned yet

    selection.mouseDown(QPointF(100, 100));
    ASSERT_TRUE(selection.selection());
    EXPECT_FALSE(selection.selectionRect());
    EXPECT_EQ(selection.selection()->mode, DragMode::resizing);
    EXPECT_TRUE(selection.hasOutline());

    EXPECT_TRUE(selection.mouseDragged(QPointF(50, 150)));
    EXPECT_EQ(selection.selectionRect(), QRectF(100, 100, -50, 50));
    selection.mouseUp();
    EXPECT_TRUE(selection.hasOutline());
    EXPECT_EQ(selection.selectionRect()->normalized(), QRectF(50, 100, 50, 50));
}

TEST(SelectionPathTest, ClickWithoutDragRemovesTheOutline)
{
    ImageSelection selection;
    drag(selection, QPointF(100, 100), QPointF(200, 200));

    // A click outside the rectangle starts over, and without a drag leaves no outline.
    selection.mouseDown(QPointF(400, 400));
    EXPECT_FALSE(selection.selectionRect());
    selection.mouseUp();
    EXPECT_FALSE(selection.hasOutline());
    ASSERT_TRUE(selection.selection());
    EXPECT_FALSE(selection.selectionRect());
}

TEST(SelectionPathTest, MovingOffsetsByEachIncrement)
{
    ImageSelection selection;
    drag(selection, QPointF(100, 100), QPointF(200, 180));

    selection.mouseDown(QPointF(150, 140)); // inside
    EXPECT_EQ(selection.selection()->mode, DragMode::moving);
    selection.mouseDragged(QPointF(160, 150));
    selection.mouseDragged(QPointF(170, 145));
    selection.mouseUp();
    EXPECT_EQ(selection.selectionRect(), QRectF(120, 105, 100, 80));
    EXPECT_EQ(selection.selection()->pinPoint, QPointF(170, 145));

    // Moving may take the rectangle off the image: nothing clamps it.
    selection.mouseDown(QPointF(150, 140));
    selection.mouseDragged(QPointF(-500, 140));
    EXPECT_EQ(selection.selectionRect(), QRectF(-530, 105, 100, 80));
}

TEST(SelectionPathTest, CornerDragResizesFromTheOppositeCorner)
{
    ImageSelection selection;
    drag(selection, QPointF(100, 100), QPointF(300, 250));

    // The top-right corner: pinned at the bottom-left one.
    selection.mouseDown(QPointF(302, 248));
    EXPECT_EQ(selection.selection()->mode, DragMode::resizing);
    EXPECT_EQ(selection.selection()->pinPoint, QPointF(100, 100));
    selection.mouseDragged(QPointF(400, 300));
    EXPECT_EQ(selection.selectionRect(), QRectF(100, 100, 300, 200));
    selection.mouseUp();

    // The bottom-left corner: pinned at the top-right one, even past it.
    selection.mouseDown(QPointF(100, 100));
    EXPECT_EQ(selection.selection()->pinPoint, QPointF(400, 300));
    selection.mouseDragged(QPointF(450, 350));
    EXPECT_EQ(selection.selectionRect(), QRectF(400, 300, 50, 50));

    // topLeft pins bottomRight and bottomRight pins topLeft.
    SelectionPath path;
    path.selectionRect = QRectF(10, 20, 30, 40);
    EXPECT_EQ(path.oppositeCorner(SelectionHit::topLeft), QPointF(40, 20));
    EXPECT_EQ(path.oppositeCorner(SelectionHit::bottomRight), QPointF(10, 60));
    EXPECT_FALSE(path.oppositeCorner(SelectionHit::inside));

    selection.clear();
    EXPECT_FALSE(selection.selection());
    EXPECT_FALSE(selection.hasOutline());
}
