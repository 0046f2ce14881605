#include <QImage>
#include <gtest/gtest.h>

#include "media/AnnotationEditor.h"
#include "media/AnnotationGeometry.h"
#include "media/AnnotationPageGeometry.h"
#include "media/AnnotationPalette.h"

using namespace ovalis;

namespace {

QImage blankImage(const QSize &size = QSize(400, 300))
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::gray);
    return image;
}

} // namespace

TEST(AnnotationEditorTest, ShapeMarksHaveTheirBoundsAndEnds)
{
    const QColor red(255, 0, 0);
    const std::optional<AnnotationMark> arrow =
        AnnotationGeometry::markForDrag(AnnotationTool::arrow, QPointF(10, 10), QPointF(110, 60), red);
    ASSERT_TRUE(arrow);
    EXPECT_EQ(arrow->kind, AnnotationMark::Kind::line);
    EXPECT_EQ(arrow->bounds, QRectF(8, 8, 104, 54));
    EXPECT_EQ(arrow->startPoint, QPointF(2, 2));
    EXPECT_EQ(arrow->endPoint, QPointF(102, 52));
    EXPECT_EQ(arrow->color, red);
    EXPECT_DOUBLE_EQ(arrow->borderWidth, 3.0);

    // Dragged backwards the arrow still points from where the drag began.
    const std::optional<AnnotationMark> back =
        AnnotationGeometry::markForDrag(AnnotationTool::arrow, QPointF(110, 60), QPointF(10, 10), red);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->bounds, QRectF(8, 8, 104, 54));
    EXPECT_EQ(back->startPoint, QPointF(102, 52));
    EXPECT_EQ(back->endPoint, QPointF(2, 2));

    const std::optional<AnnotationMark> square =
        AnnotationGeometry::markForDrag(AnnotationTool::rectangle, QPointF(50, 80), QPointF(20, 30), red);
    ASSERT_TRUE(square);
    EXPECT_EQ(square->kind, AnnotationMark::Kind::square);
    EXPECT_EQ(square->bounds, QRectF(20, 30, 30, 50));
    const std::optional<AnnotationMark> circle =
        AnnotationGeometry::markForDrag(AnnotationTool::circle, QPointF(50, 80), QPointF(20, 30), red);
    ASSERT_TRUE(circle);
    EXPECT_EQ(circle->kind, AnnotationMark::Kind::circle);
    EXPECT_EQ(circle->bounds, square->bounds);

    // More than 4 points in one direction is needed.
    EXPECT_FALSE(AnnotationGeometry::markForDrag(AnnotationTool::rectangle, QPointF(0, 0), QPointF(3, 4), red));
    EXPECT_FALSE(AnnotationGeometry::markForDrag(AnnotationTool::arrow, QPointF(0, 0), QPointF(-4, -4), red));
    EXPECT_TRUE(AnnotationGeometry::markForDrag(AnnotationTool::arrow, QPointF(0, 0), QPointF(0, 4.5), red));
    EXPECT_FALSE(AnnotationGeometry::markForDrag(AnnotationTool::text, QPointF(0, 0), QPointF(100, 100), red));
}

TEST(AnnotationEditorTest, TextEntryAndLabelHeightsFollowTheTextSize)
{
    EXPECT_DOUBLE_EQ(AnnotationGeometry::textEntryHeight(28), 45);
    EXPECT_DOUBLE_EQ(AnnotationGeometry::textLabelHeight(28), 40);
    EXPECT_DOUBLE_EQ(AnnotationGeometry::textEntryHeight(12), 20);
    EXPECT_DOUBLE_EQ(AnnotationGeometry::textLabelHeight(12), 17);

    const QColor blue(0, 122, 255);
    const std::optional<AnnotationMark> label = AnnotationGeometry::textMark(QStringLiteral("Fracture"), QPointF(100, 200), 28, blue, 90);
    ASSERT_TRUE(label);
    EXPECT_EQ(label->kind, AnnotationMark::Kind::freeText);
    // The entry's top is at the point: the label hangs below it.
    EXPECT_EQ(label->bounds, QRectF(100, 160, 100, 40));
    EXPECT_EQ(label->contents, QStringLiteral("Fracture"));
    EXPECT_EQ(label->fontColor, blue);
    EXPECT_EQ(label->backgroundColor.rgb(), blue.rgb());
    EXPECT_NEAR(label->backgroundColor.alphaF(), 0.12, 0.005);
    EXPECT_DOUBLE_EQ(label->borderWidth, 1.0);
    // Short texts get a minimum width.
    EXPECT_DOUBLE_EQ(AnnotationGeometry::textMark(QStringLiteral("a"), QPointF(0, 50), 12, blue, 6)->bounds.width(), 30);
    EXPECT_FALSE(AnnotationGeometry::textMark(QString(), QPointF(0, 50), 12, blue, 0));

    // Longer text measures wider, and larger sizes measure wider still.
    EXPECT_GT(AnnotationGeometry::textWidth(QStringLiteral("Fracture line"), 18),
              AnnotationGeometry::textWidth(QStringLiteral("Fracture"), 18));
    EXPECT_GT(AnnotationGeometry::textWidth(QStringLiteral("Fracture"), 28),
              AnnotationGeometry::textWidth(QStringLiteral("Fracture"), 12));
}

TEST(AnnotationEditorTest, DragsAndTextEntriesMakeMarksWithTheCurrentSettings)
{
    AnnotationEditor editor(blankImage());
    EXPECT_EQ(editor.tool(), AnnotationTool::arrow);
    EXPECT_DOUBLE_EQ(editor.fontSize(), 18.0);
    EXPECT_EQ(editor.annotationColor(), AnnotationPalette::colors().first().color);

    // A short drag makes nothing and ends the drag.
    editor.beginDrag(QPointF(10, 10));
    EXPECT_FALSE(editor.endDrag(QPointF(13, 14)));
    EXPECT_FALSE(editor.dragStartPagePoint());
    EXPECT_FALSE(editor.endDrag(QPointF(200, 200))); // no drag under way

    editor.setAnnotationColor(Qt::green);
    editor.setTool(AnnotationTool::circle);
    editor.beginDrag(QPointF(10, 10));
    const AnnotationMarkRef circle = editor.endDrag(QPointF(60, 40));
    ASSERT_TRUE(circle);
    EXPECT_EQ(circle->kind, AnnotationMark::Kind::circle);
    EXPECT_EQ(circle->color, QColor(Qt::green));
    EXPECT_EQ(editor.page().annotations(), QList<AnnotationMarkRef>{circle});

    // Empty text makes nothing and leaves the history alone.
    editor.setTool(AnnotationTool::text);
    editor.openTextEntry(QPointF(100, 100));
    EXPECT_FALSE(editor.commitTextEntry(QString(), 0));
    EXPECT_FALSE(editor.inlineTextPagePoint());
    EXPECT_EQ(editor.annotationHistory().size(), 1);

    editor.setFontSize(28);
    editor.openTextEntry(QPointF(100, 100));
    const AnnotationMarkRef label = editor.commitTextEntry(QStringLiteral("Mass"), 50);
    ASSERT_TRUE(label);
    EXPECT_EQ(label->bounds, QRectF(100, 60, 60, 40));

    // A shape tool closes an open entry without a mark; the text tool keeps it.
    editor.openTextEntry(QPointF(5, 5));
    EXPECT_FALSE(editor.setTool(AnnotationTool::text));
    EXPECT_TRUE(editor.inlineTextPagePoint());
    EXPECT_TRUE(editor.setTool(AnnotationTool::rectangle));
    EXPECT_FALSE(editor.inlineTextPagePoint());
    EXPECT_FALSE(editor.commitTextEntry(QStringLiteral("late"), 20));
    EXPECT_EQ(editor.annotationHistory(), (QList<AnnotationMarkRef>{circle, label}));
}

TEST(AnnotationEditorTest, UndoAndRedoMoveMarksAndANewMarkClearsRedo)
{
    AnnotationEditor editor(blankImage());
    EXPECT_FALSE(editor.canUndo());
    EXPECT_FALSE(editor.canRedo());
    editor.undoAnnotation(); // nothing to undo: no change
    editor.redoAnnotation();

    editor.beginDrag(QPointF(0, 0));
    const AnnotationMarkRef first = editor.endDrag(QPointF(50, 50));
    editor.beginDrag(QPointF(100, 100));
    const AnnotationMarkRef second = editor.endDrag(QPointF(150, 120));
    ASSERT_TRUE(first && second);

    editor.undoAnnotation();
    EXPECT_EQ(editor.page().annotations(), QList<AnnotationMarkRef>{first});
    EXPECT_EQ(editor.redoStack(), QList<AnnotationMarkRef>{second});
    editor.undoAnnotation();
    EXPECT_TRUE(editor.page().annotations().isEmpty());
    EXPECT_FALSE(editor.canUndo());
    EXPECT_EQ(editor.redoStack(), (QList<AnnotationMarkRef>{second, first}));

    editor.redoAnnotation();
    EXPECT_EQ(editor.page().annotations(), QList<AnnotationMarkRef>{first});
    EXPECT_TRUE(editor.canRedo());

    // A new mark empties the redo list.
    editor.beginDrag(QPointF(200, 200));
    const AnnotationMarkRef third = editor.endDrag(QPointF(260, 230));
    ASSERT_TRUE(third);
    EXPECT_FALSE(editor.canRedo());
    EXPECT_EQ(editor.annotationHistory(), (QList<AnnotationMarkRef>{first, third}));
    EXPECT_EQ(editor.page().annotations(), (QList<AnnotationMarkRef>{first, third}));
}

TEST(AnnotationEditorTest, PageSceneAndViewCoordinatesConvertBothWays)
{
    // A 400 × 300 page in a 916 × 316 view: scale 1 by height (300 inside an
    // 8-point margin), centred horizontally at x 258.
    const AnnotationPageGeometry geometry(QSizeF(400, 300), QSizeF(916, 316));
    EXPECT_DOUBLE_EQ(geometry.scale(), 1.0);
    EXPECT_EQ(geometry.pageRectInView(), QRectF(258, 8, 400, 300));
    // The page's origin is its bottom left; the scene's its top left.
    EXPECT_EQ(geometry.pageToScene(QPointF(0, 0)), QPointF(0, 300));
    EXPECT_EQ(geometry.sceneToPage(QPointF(0, 0)), QPointF(0, 300));
    EXPECT_EQ(geometry.pageToView(QPointF(0, 0)), QPointF(258, 308));
    EXPECT_EQ(geometry.pageToView(QPointF(400, 300)), QPointF(658, 8));
    EXPECT_EQ(geometry.viewToPage(QPointF(358, 58)), QPointF(100, 250));
    EXPECT_EQ(geometry.pageRectToView(QRectF(10, 20, 30, 40)), QRectF(268, 248, 30, 40));

    // A 4000 × 3000 page fitted into 816 × 616: scale 0.2, no horizontal slack.
    const AnnotationPageGeometry large(QSizeF(4000, 3000), QSizeF(816, 616));
    EXPECT_DOUBLE_EQ(large.scale(), 0.2);
    EXPECT_EQ(large.pageToView(QPointF(1000, 1000)), QPointF(208, 408));
    const QPointF back = large.viewToPage(large.pageToView(QPointF(1234.5, 2345.5)));
    EXPECT_NEAR(back.x(), 1234.5, 1e-9);
    EXPECT_NEAR(back.y(), 2345.5, 1e-9);
    EXPECT_EQ(large.sceneToViewTransform().map(QPointF(4000, 3000)), large.sceneToView(QPointF(4000, 3000)));
}
