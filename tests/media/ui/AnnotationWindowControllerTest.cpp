#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPointer>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <gtest/gtest.h>

#include "media/AnnotationPalette.h"
#include "media/MediaEditFixture.h"
#include "media/ui/AnnotationPageView.h"
#include "media/ui/AnnotationViewController.h"
#include "media/ui/AnnotationWindowController.h"
#include "media/ui/SegmentedControl.h"
#include "util/Log.h"

using namespace ovalis;

namespace {

class AnnotationWindowControllerTest : public test::MediaEditFixture
{
protected:
    void SetUp() override
    {
        MediaEditFixture::SetUp();
        QImage image(QSize(400, 300), QImage::Format_RGB32);
        image.fill(Qt::white);
        m_media = newCase(QStringLiteral("ABC1235"))->addMedia(encoded(image, "PNG"), QStringLiteral("scan.png"));
        forgetSetUpUndo();
        m_window = new AnnotationWindowController(m_media);
        m_window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window));
    }

    void TearDown() override
    {
        delete m_window.data();
        MediaEditFixture::TearDown();
    }

    AnnotationPageView *pageView() const { return m_window->viewController()->pdfView(); }

    void send(QEvent::Type type, const QPointF &position, Qt::MouseButton button, Qt::MouseButtons buttons)
    {
        QMouseEvent event(type, position, pageView()->mapToGlobal(position), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(pageView(), &event);
    }

    // A drag between two page points, through the view.
    void drag(const QPointF &from, const QPointF &to)
    {
        const AnnotationPageGeometry geometry = pageView()->pageGeometry();
        send(QEvent::MouseButtonPress, geometry.pageToView(from), Qt::LeftButton, Qt::LeftButton);
        send(QEvent::MouseMove, geometry.pageToView((from + to) / 2), Qt::NoButton, Qt::LeftButton);
        send(QEvent::MouseMove, geometry.pageToView(to), Qt::NoButton, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, geometry.pageToView(to), Qt::LeftButton, Qt::NoButton);
    }

    void click(const QPointF &pagePoint)
    {
        const QPointF position = pageView()->pageGeometry().pageToView(pagePoint);
        send(QEvent::MouseButtonPress, position, Qt::LeftButton, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, position, Qt::LeftButton, Qt::NoButton);
    }

    Media *m_media = nullptr;
    QPointer<AnnotationWindowController> m_window;
};

} // namespace

TEST_F(AnnotationWindowControllerTest, WindowHasItsToolbarInOrderWithTheFirstSegmentsSelected)
{
    EXPECT_EQ(m_window->windowTitle(), QStringLiteral("Annotate Image"));
    EXPECT_EQ(m_window->minimumSize(), QSize(800, 600));
    const QToolBar *toolbar = m_window->findChild<QToolBar *>(QStringLiteral("annotation"));
    ASSERT_TRUE(toolbar);
    QStringList identifiers;
    for (QAction *action : toolbar->actions()) {
        QWidget *widget = toolbar->widgetForAction(action);
        const QString name = widget && !widget->objectName().isEmpty() && action->objectName().isEmpty() ? widget->objectName()
                                                                                                          : action->objectName();
        if (!name.isEmpty() && !name.startsWith(QLatin1String("qt_")))
            identifiers << name;
    }
    EXPECT_EQ(identifiers, (QStringList{"com.ovalis.annotation.tools", "com.ovalis.annotation.fontSize",
                                        "com.ovalis.annotation.colors", "com.ovalis.annotation.undo",
                                        "com.ovalis.annotation.redo", "com.ovalis.annotation.cancel",
                                        "com.ovalis.annotation.save"}));

    EXPECT_EQ(m_window->toolControl()->label(), QStringLiteral("Tool"));
    EXPECT_EQ(m_window->toolControl()->count(), 4);
    EXPECT_EQ(m_window->toolControl()->selectedSegment(), 0);
    EXPECT_EQ(m_window->toolControl()->segmentButton(3)->toolTip(), QStringLiteral("Text"));
    EXPECT_EQ(m_window->fontSizeControl()->selectedSegment(), 1);
    EXPECT_EQ(m_window->fontSizeControl()->segmentButton(2)->toolTip(), QStringLiteral("Large (28pt)"));
    EXPECT_EQ(m_window->colorControl()->count(), 7);
    EXPECT_EQ(m_window->colorControl()->segmentButton(4)->toolTip(), QStringLiteral("Purple"));
    EXPECT_FALSE(m_window->undoItem()->isEnabled());
    EXPECT_FALSE(m_window->redoItem()->isEnabled());
    EXPECT_TRUE(m_window->saveItem()->isEnabled());
    EXPECT_EQ(pageView()->editor().page().mediaBox(), QRectF(0, 0, 400, 300));
}

TEST_F(AnnotationWindowControllerTest, DrawingWithTheMouseMakesMarksThatUndoAndRedo)
{
    // Colour and tool from the segments; out-of-range indexes are ignored.
    m_window->colorControl()->segmentButton(3)->click();
    m_window->toolControl()->segmentButton(1)->click();
    m_window->viewController()->toolSegmentChanged(7);
    EXPECT_EQ(pageView()->editor().tool(), AnnotationTool::rectangle);
    EXPECT_EQ(pageView()->editor().annotationColor(), AnnotationPalette::colors()[3].color);

    // The preview follows the drag in view coordinates.
    const AnnotationPageGeometry geometry = pageView()->pageGeometry();
    send(QEvent::MouseButtonPress, geometry.pageToView(QPointF(50, 50)), Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, geometry.pageToView(QPointF(150, 100)), Qt::NoButton, Qt::LeftButton);
    ASSERT_TRUE(pageView()->previewPath());
    EXPECT_EQ(pageView()->previewPath()->boundingRect(), geometry.pageRectToView(QRectF(50, 50, 100, 50)));
    send(QEvent::MouseButtonRelease, geometry.pageToView(QPointF(150, 100)), Qt::LeftButton, Qt::NoButton);
    EXPECT_FALSE(pageView()->previewPath());
    ASSERT_EQ(pageView()->editor().annotationHistory().size(), 1);
    const AnnotationMark &square = *pageView()->editor().annotationHistory().first();
    EXPECT_EQ(square.kind, AnnotationMark::Kind::square);
    EXPECT_NEAR(square.bounds.x(), 50, 0.01);
    EXPECT_NEAR(square.bounds.height(), 50, 0.01);
    EXPECT_TRUE(m_window->undoItem()->isEnabled());

    // A click is not a drag.
    click(QPointF(200, 200));
    EXPECT_EQ(pageView()->editor().annotationHistory().size(), 1);

    m_window->undoItem()->trigger();
    EXPECT_TRUE(pageView()->editor().page().annotations().isEmpty());
    EXPECT_FALSE(m_window->undoItem()->isEnabled());
    EXPECT_TRUE(m_window->redoItem()->isEnabled());
    m_window->redoItem()->trigger();
    EXPECT_EQ(pageView()->editor().page().annotations().size(), 1);
    m_window->undoItem()->trigger();

    // A new mark after an undo disables Redo.
    m_window->toolControl()->segmentButton(0)->click();
    drag(QPointF(10, 10), QPointF(110, 60));
    EXPECT_FALSE(m_window->redoItem()->isEnabled());
    ASSERT_EQ(pageView()->editor().annotationHistory().size(), 1);
    EXPECT_EQ(pageView()->editor().annotationHistory().first()->kind, AnnotationMark::Kind::line);
}

TEST_F(AnnotationWindowControllerTest, TextEntryCommitsOnReturnOrLeavingAndCancelsOnEscapeOrAnotherTool)
{
    m_window->toolControl()->segmentButton(3)->click();
    m_window->fontSizeControl()->segmentButton(2)->click();
    click(QPointF(100, 200));
    QLineEdit *field = pageView()->inlineTextField();
    ASSERT_TRUE(field);
    EXPECT_EQ(field->height(), 45);
    EXPECT_EQ(field->width(), 220);
    EXPECT_EQ(field->placeholderText(), QStringLiteral("Return or Escape"));
    EXPECT_EQ(field->pos(), pageView()->pageGeometry().pageToView(QPointF(100, 200)).toPoint());

    // Return with no text: nothing.
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_FALSE(pageView()->inlineTextField());
    EXPECT_TRUE(pageView()->editor().annotationHistory().isEmpty());

    click(QPointF(100, 200));
    field = pageView()->inlineTextField();
    ASSERT_TRUE(field);
    QTest::keyClicks(field, QStringLiteral("Mass"));
    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_EQ(pageView()->editor().annotationHistory().size(), 1);
    const AnnotationMark &label = *pageView()->editor().annotationHistory().first();
    EXPECT_EQ(label.contents, QStringLiteral("Mass"));
    EXPECT_NEAR(label.bounds.top(), 160, 0.01);
    EXPECT_DOUBLE_EQ(label.bounds.height(), 40);
    EXPECT_DOUBLE_EQ(label.fontSize, 28);

    // Escape cancels.
    click(QPointF(50, 50));
    QTest::keyClicks(pageView()->inlineTextField(), QStringLiteral("gone"));
    QTest::keyClick(pageView()->inlineTextField(), Qt::Key_Escape);
    EXPECT_FALSE(pageView()->inlineTextField());
    EXPECT_EQ(pageView()->editor().annotationHistory().size(), 1);

    // Clicking elsewhere commits the open entry and opens another.
    click(QPointF(50, 50));
    QTest::keyClicks(pageView()->inlineTextField(), QStringLiteral("first"));
    click(QPointF(250, 250));
    EXPECT_EQ(pageView()->editor().annotationHistory().size(), 2);
    ASSERT_TRUE(pageView()->inlineTextField());

    // Another tool closes it without a mark.
    QTest::keyClicks(pageView()->inlineTextField(), QStringLiteral("dropped"));
    m_window->toolControl()->segmentButton(2)->click();
    EXPECT_FALSE(pageView()->inlineTextField());
    EXPECT_EQ(pageView()->editor().annotationHistory().size(), 2);
}

TEST_F(AnnotationWindowControllerTest, SaveWritesTheMarksAndClosesCancelLeavesTheFile)
{
    const QString pngPath = m_media->filePath();
    drag(QPointF(20, 20), QPointF(200, 150));
    m_window->cancelItem()->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_window.isNull(); }, 2000));
    EXPECT_EQ(m_media->filePath(), pngPath);
    EXPECT_FALSE(undoManager()->canUndo());

    m_window = new AnnotationWindowController(m_media);
    m_window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window));
    EXPECT_TRUE(pageView()->editor().annotationHistory().isEmpty());
    m_window->colorControl()->segmentButton(6)->click(); // black
    m_window->toolControl()->segmentButton(1)->click();
    drag(QPointF(20, 20), QPointF(200, 150));
    LogCapture capture;
    m_window->saveItem()->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_window.isNull(); }, 2000));
    EXPECT_EQ(m_media->fileName(), m_media->uuid() + QStringLiteral(".jpg"));
    const QImage saved = fileImage(m_media);
    ASSERT_EQ(saved.size(), QSize(400, 300));
    EXPECT_TRUE(near(saved.pixelColor(21, 200), Qt::black)); // left border at page y 100
    EXPECT_TRUE(near(saved.pixelColor(100, 200), Qt::white));
    EXPECT_EQ(undoManager()->undoActionName(), QStringLiteral("Annotate Image"));
}

TEST_F(AnnotationWindowControllerTest, MediaWithoutAnImageLogsAndCannotBeSaved)
{
    ASSERT_TRUE(QFile::remove(m_media->filePath()));
    LogCapture capture;
    auto *window = new AnnotationWindowController(m_media);
    EXPECT_TRUE(capture.contains(QStringLiteral("AnnotationViewController: no image available"), LogLevel::Error));
    window->show();
    window->saveItem()->trigger();
    EXPECT_TRUE(capture.contains(QStringLiteral("AnnotationViewController: missing data for save"), LogLevel::Error));
    EXPECT_TRUE(window->isVisible());
    delete window;
}
