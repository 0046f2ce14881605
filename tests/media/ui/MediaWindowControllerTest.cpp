#include <QAction>
#include <QKeyEvent>
#include <QListView>
#include <QPointer>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

#include "media/ui/AnnotationViewController.h"
#include "media/ui/AnnotationWindowController.h"
#include "media/ui/MediaDisplayViewController.h"
#include "media/ui/MediaSingleLabelView.h"
#include "media/ui/MediaSplitViewController.h"
#include "media/ui/MediaWindowController.h"
#include "media/ui/SelectableMediaCollectionViewController.h"
#include "store/LibraryNotifications.h"
#include "support/EncodedImage.h"
#include "support/StoreFixture.h"
#include "util/Log.h"
#include "util/NotificationCenter.h"
#include "util/UndoManager.h"

using namespace ovalis;

namespace {

class MediaWindowControllerTest : public test::StoreFixture
{
protected:
    void SetUp() override
    {
        StoreFixture::SetUp();
        m_case = newCase(QStringLiteral("ABC1235"), QStringLiteral("Summary"));
        for (int i = 0; i < 3; ++i)
            m_case->addMedia(test::encodedImage(QSize(120, 90), QColor::fromHsv(i * 90, 200, 200)), QStringLiteral("image-%1.jpg").arg(i + 1));
        m_window = std::make_unique<MediaWindowController>(*m_stack);
        m_window->resize(1000, 700);
        m_window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
        m_window->setCurrentCase(m_case);
        QCoreApplication::processEvents();
        m_goNextToken = NotificationCenter::defaultCenter().addObserver(
            QString(), nullptr, [this](const Notification &notification) { m_posted.append(notification.name); });
    }

    void TearDown() override
    {
        m_goNextToken.reset();
        m_window.reset();
        StoreFixture::TearDown();
    }

    bool press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QKeyEvent event(QEvent::KeyPress, key, modifiers);
        return m_window->handleKeyDown(&event);
    }

    MediaDisplayViewController *display() const { return m_window->displayViewController(); }
    Media *shown() const { return display()->media(); }

    Case *m_case = nullptr;
    std::unique_ptr<MediaWindowController> m_window;
    QStringList m_posted;
    ObserverToken m_goNextToken;
};

TEST_F(MediaWindowControllerTest, KeysStepMediaOrCasesToggleTheOverlaysAndPassTheRestOn)
{
    const QList<Media *> media = m_case->sortedMedia();
    ASSERT_EQ(shown(), media[0]);
    EXPECT_EQ(m_window->windowTitle(), QStringLiteral("Media - ABC1235"));

    EXPECT_TRUE(press(Qt::Key_Right));
    EXPECT_EQ(shown(), media[1]);
    EXPECT_TRUE(press(Qt::Key_Left));
    EXPECT_EQ(shown(), media[0]);

    // With Ctrl the library moves to another case; the media stay.
    m_posted.clear();
    EXPECT_TRUE(press(Qt::Key_Right, Qt::ControlModifier));
    EXPECT_EQ(shown(), media[0]);
    EXPECT_EQ(m_posted, QStringList{LibraryNotifications::goNext});
    EXPECT_TRUE(press(Qt::Key_Left, Qt::ControlModifier));
    EXPECT_EQ(m_posted.last(), LibraryNotifications::goPrevious);
    EXPECT_TRUE(press(Qt::Key_R));
    EXPECT_EQ(m_posted.last(), LibraryNotifications::selectRandomCase);

    EXPECT_TRUE(press(Qt::Key_Return));
    EXPECT_TRUE(display()->showDescription());
    EXPECT_TRUE(m_window->toggleDescriptionToolbarItem()->isChecked());
    EXPECT_TRUE(press(Qt::Key_Return));
    EXPECT_FALSE(display()->showDescription());

    // Space toggles fit only while a real image is shown.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !display()->disableToggleFitToWindow(); }, 5000));
    EXPECT_TRUE(m_window->fitToWindowToolbarItem()->isEnabled());
    EXPECT_TRUE(press(Qt::Key_Space));
    EXPECT_TRUE(display()->fitImageToWindow());
    EXPECT_EQ(m_window->fitToWindowToolbarItem()->text(), QStringLiteral("Actual Size"));
    display()->showMedia(nullptr, true);
    EXPECT_FALSE(m_window->fitToWindowToolbarItem()->isEnabled());
    EXPECT_TRUE(press(Qt::Key_Space));
    EXPECT_TRUE(display()->fitImageToWindow());
    EXPECT_EQ(m_window->fitToWindowToolbarItem()->text(), QStringLiteral("Actual Size"));

    m_posted.clear();
    EXPECT_FALSE(press(Qt::Key_A));
    EXPECT_FALSE(press(Qt::Key_Down));
    EXPECT_FALSE(press(Qt::Key_R, Qt::ControlModifier));
    EXPECT_TRUE(m_posted.isEmpty());

    // Keys typed into the window reach handleKeyDown while it is active.
    m_window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_window.get()));
    display()->showMedia(media[0], false);
    QTest::keyClick(m_window->collectionViewController()->collectionView(), Qt::Key_Right);
    EXPECT_EQ(shown(), media[1]);
}

TEST_F(MediaWindowControllerTest, FullScreenIsTheDisplayAloneFromEdgeToEdge)
{
    MediaSplitViewController *split = m_window->splitViewController();
    const int dividerWidth = split->handleWidth();
    ASSERT_GT(dividerWidth, 0);
    m_window->toggleFullScreen();
    const QRect screen = m_window->screen()->geometry();
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_window->geometry() == screen && split->sizes().value(0) == 0; }, 3000));
    QCoreApplication::processEvents();

    // The display covers the whole window: no divider, bar or margin beside it.
    EXPECT_EQ(QRect(display()->mapTo(m_window.get(), QPoint(0, 0)), display()->size()), m_window->rect());
    EXPECT_FALSE(split->handle(1)->isEnabled());
    // What shows at each edge is the display's black, not the window's light grey.
    const QImage shown = m_window->grab().toImage();
    const int middleX = shown.width() / 2;
    const int middleY = shown.height() / 2;
    for (int inset = 0; inset < 6; ++inset) {
        EXPECT_LT(qGray(shown.pixel(inset, middleY)), 16) << "left edge, " << inset;
        EXPECT_LT(qGray(shown.pixel(shown.width() - 1 - inset, middleY)), 16) << "right edge, " << inset;
        EXPECT_LT(qGray(shown.pixel(middleX, inset)), 16) << "top edge, " << inset;
        EXPECT_LT(qGray(shown.pixel(middleX, shown.height() - 1 - inset)), 16) << "bottom edge, " << inset;
    }

    // Back in a window the divider returns, as wide as before, and can be dragged.
    m_window->toggleFullScreen();
    EXPECT_TRUE(QTest::qWaitFor([&] { return split->sizes().value(0) > 0; }, 2000));
    EXPECT_EQ(split->handleWidth(), dividerWidth);
    EXPECT_TRUE(split->handle(1)->isEnabled());
    EXPECT_GT(display()->mapTo(m_window.get(), QPoint(0, 0)).x(), split->sizes().value(0));
}

TEST_F(MediaWindowControllerTest, FullScreenCollapsesTheBrowserAndRestoresItAsItWas)
{
    MediaSplitViewController *split = m_window->splitViewController();
    ASSERT_FALSE(split->isBrowserCollapsed());
    const bool backdrop = display()->isBackdropTransparent();
    EXPECT_EQ(m_window->fullScreenToolbarItem()->text(), QStringLiteral("Enter Full Screen"));

    m_window->toggleFullScreen();
    EXPECT_TRUE(m_window->isInFullScreen());
    EXPECT_TRUE(split->isBrowserCollapsed());
    EXPECT_NE(display()->isBackdropTransparent(), backdrop);
    EXPECT_EQ(m_window->fullScreenToolbarItem()->text(), QStringLiteral("Exit Full Screen"));
    m_window->toggleFullScreen();
    EXPECT_FALSE(m_window->isInFullScreen());
    EXPECT_TRUE(QTest::qWaitFor([&] { return split->sizes().value(0) > 0; }, 2000));
    EXPECT_FALSE(split->isBrowserCollapsed());
    EXPECT_EQ(display()->isBackdropTransparent(), backdrop);
    EXPECT_EQ(m_window->fullScreenToolbarItem()->text(), QStringLiteral("Enter Full Screen"));

    // Hidden before: stays hidden after.
    m_window->toggleSplitView();
    EXPECT_EQ(m_window->toggleSplitViewMenuItem()->text(), QStringLiteral("Show Browser"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return split->sizes().value(0) == 0; }, 2000));
    m_window->toggleFullScreen();
    m_window->toggleFullScreen();
    QTest::qWait(300);
    EXPECT_TRUE(split->isBrowserCollapsed());
    EXPECT_EQ(split->sizes().value(0), 0);
    m_window->toggleSplitView();
    EXPECT_EQ(m_window->toggleSplitViewMenuItem()->text(), QStringLiteral("Hide Browser"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return split->sizes().value(0) > 0; }, 2000));
}

TEST_F(MediaWindowControllerTest, AnnotateOpensTheEditorForTheShownImageAndUndoIsTheStoresOwn)
{
    ASSERT_TRUE(QTest::qWaitFor([&] { return !display()->disableToggleFitToWindow(); }, 5000));
    EXPECT_TRUE(m_window->annotateToolbarItem()->isEnabled());
    LogCapture capture;
    m_window->annotateToolbarItem()->trigger();
    EXPECT_TRUE(capture.contains(QStringLiteral("Annotate image")));
    QPointer<AnnotationWindowController> editor = m_window->annotationWindowController();
    ASSERT_TRUE(editor);
    EXPECT_TRUE(editor->isVisible());
    EXPECT_EQ(editor->viewController()->media(), shown());
    editor->close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return editor.isNull(); }, 2000));
    EXPECT_FALSE(m_window->annotationWindowController());

    // Several images, or none: nothing to annotate.
    display()->showMedia(nullptr, true);
    EXPECT_FALSE(m_window->annotateToolbarItem()->isEnabled());
    m_window->annotateImage();
    EXPECT_FALSE(m_window->annotationWindowController());

    EXPECT_EQ(m_window->undoManager(), context()->undoManager());
    LogCapture log;
    MediaWindowController another(*m_stack);
    EXPECT_TRUE(log.contains(QStringLiteral("Media window: set toolbar style to expanded")));
    EXPECT_EQ(another.windowTitle(), QStringLiteral("Media"));
}

} // namespace
