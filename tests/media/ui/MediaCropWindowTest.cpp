#include <QAction>
#include <QApplication>
#include <QListView>
#include <QMouseEvent>
#include <QTest>
#include <gtest/gtest.h>

#include "media/AnnotationEditor.h"
#include "media/ExternalEditor.h"
#include "media/MediaEditFixture.h"
#include "media/MediaFileWatcher.h"
#include "media/ui/AnnotationPageView.h"
#include "media/ui/AnnotationViewController.h"
#include "media/ui/AnnotationWindowController.h"
#include "media/ui/DisplayImageView.h"
#include "media/ui/InteractiveView.h"
#include "media/ui/MediaDisplayViewController.h"
#include "media/ui/MediaWindowController.h"
#include "media/ui/SelectableMediaCollectionViewController.h"
#include "support/DicomTestImage.h"
#include "util/Settings.h"

using namespace ovalis;

namespace {

class MediaCropWindowTest : public test::MediaEditFixture
{
protected:
    void SetUp() override
    {
        MediaEditFixture::SetUp();
        m_case = newCase(QStringLiteral("ABC1235"));
        m_case->addMedia(encoded(quarteredImage(QSize(400, 300), Qt::white, Qt::red), "JPEG"), QStringLiteral("a.jpg"));
        m_case->addMedia(encoded(quarteredImage(QSize(400, 300), Qt::white, Qt::blue), "PNG"), QStringLiteral("b.png"));
        forgetSetUpUndo();
        m_window = std::make_unique<MediaWindowController>(*m_stack);
        m_window->resize(1000, 700);
        m_window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
        m_window->setCurrentCase(m_case);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !display()->disableToggleFitToWindow(); }, 5000));
    }

    void TearDown() override
    {
        m_window.reset();
        MediaEditFixture::TearDown();
    }

    MediaDisplayViewController *display() const { return m_window->displayViewController(); }
    InteractiveView *surface() const { return display()->interactiveView(); }

    void send(QEvent::Type type, const QPointF &position, Qt::MouseButton button, Qt::MouseButtons buttons)
    {
        QMouseEvent event(type, position, surface()->mapToGlobal(position), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(surface(), &event);
    }

    void drag(const QPointF &from, const QPointF &to)
    {
        send(QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
        send(QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
    }

    Case *m_case = nullptr;
    std::unique_ptr<MediaWindowController> m_window;
};

} // namespace

TEST_F(MediaCropWindowTest, DraggedSelectionCropsEverySelectedImageAsOneUndoStep)
{
    EXPECT_FALSE(m_window->cropMenuItem()->isEnabled());
    const QSizeF size = surface()->size();

    // From the view's bottom-left corner to its centre: the lower-left
    // quarter of the view, and so of the image centred in it.
    drag(QPointF(0, size.height()), QPointF(size.width() / 2, size.height() / 2));
    ASSERT_TRUE(display()->hasSelectionRect());
    EXPECT_EQ(*display()->imageView()->selectionRect(), QRectF(0, 0, size.width() / 2, size.height() / 2));
    EXPECT_TRUE(m_window->cropMenuItem()->isEnabled());
    EXPECT_TRUE(m_window->cropToolbarItem()->isEnabled());

    // A click without a drag outside it leaves no rectangle to crop to.
    send(QEvent::MouseButtonPress, QPointF(size.width() - 5, 5), Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, QPointF(size.width() - 5, 5), Qt::LeftButton, Qt::NoButton);
    EXPECT_FALSE(display()->hasSelectionRect());
    EXPECT_FALSE(m_window->cropMenuItem()->isEnabled());
    drag(QPointF(0, size.height()), QPointF(size.width() / 2, size.height() / 2));

    m_window->collectionViewController()->collectionView()->selectAll();
    ASSERT_EQ(m_window->collectionViewController()->selectedMedia().size(), 2);
    m_window->cropMenuItem()->trigger();

    const QList<Media *> media = m_case->sortedMedia();
    for (const auto &[item, colour] : {std::pair{media[0], QColor(Qt::red)}, std::pair{media[1], QColor(Qt::blue)}}) {
        const QImage cropped = fileImage(item);
        EXPECT_NEAR(cropped.width(), 200, 1);
        EXPECT_NEAR(cropped.height(), 150, 1);
        EXPECT_TRUE(near(cropped.pixelColor(cropped.width() / 2, cropped.height() / 2), colour));
        EXPECT_EQ(item->fileName(), item->uuid() + QStringLiteral(".jpg"));
    }
    // The same media stay selected.
    EXPECT_EQ(m_window->collectionViewController()->selectedMedia().size(), 2);

    ASSERT_TRUE(m_window->undoManager()->canUndo());
    EXPECT_EQ(m_window->undoManager()->undoMenuItemTitle(), QStringLiteral("Undo Crop Images"));
    m_window->undoManager()->undo();
    EXPECT_EQ(fileImage(media[0]).size(), QSize(400, 300));
    EXPECT_EQ(fileImage(media[1]).size(), QSize(400, 300));
    EXPECT_EQ(media[1]->fileName(), media[1]->uuid() + QStringLiteral(".png"));

    // The selection goes when the display does.
    display()->hide();
    EXPECT_FALSE(display()->hasSelectionRect());
}

TEST_F(MediaCropWindowTest, DoubleClickOpensTheImageInTheChosenEditorAndWatchesIt)
{
    Settings::shared().setValue(ExternalEditor::settingsKey, QStringLiteral("true --edit"));
    Media *shown = display()->media();
    ASSERT_TRUE(shown);
    const QPointF centre(surface()->width() / 2.0, surface()->height() / 2.0);
    send(QEvent::MouseButtonPress, centre, Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, centre, Qt::LeftButton, Qt::NoButton);
    send(QEvent::MouseButtonDblClick, centre, Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, centre, Qt::LeftButton, Qt::NoButton);

    EXPECT_EQ(m_window->undoManager()->undoActionName(), QStringLiteral("Edit Image"));
    EXPECT_EQ(display()->fileWatcher()->watchedFiles(), QStringList{shown->filePath()});
    EXPECT_FALSE(display()->hasSelectionRect());

    // The editor's change shows in the display.
    ASSERT_TRUE(quarteredImage(QSize(100, 80), Qt::green, Qt::green).save(shown->filePath(), "JPEG"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return display()->imageView()->imageSize() == QSize(100, 80); }, 5000));
}

TEST_F(MediaCropWindowTest, ADicomImageIsCroppedAtTheWindowShownIntoANewMedium)
{
    // -600 throughout: black at the file's window (40/400), mid-grey at the
    // lung window.
    test::DicomTestImage dicom = test::DicomTestImage::ramp(300, 400, 424, 0);
    dicom.rescaleIntercept = -1024;
    dicom.windowCenter = 40;
    dicom.windowWidth = 400;
    const QByteArray bytes = dicom.bytes();
    Case *item = newCase(QStringLiteral("ABC1236"));
    Media *scan = item->addMedia(bytes, QStringLiteral("scan.dcm"));
    forgetSetUpUndo();
    m_window->setCurrentCase(item);
    ASSERT_TRUE(QTest::qWaitFor([&] { return display()->showsDicom(); }, 5000));
    QKeyEvent lung(QEvent::KeyPress, Qt::Key_3, Qt::NoModifier);
    QApplication::sendEvent(surface(), &lung);
    ASSERT_EQ(display()->dicomWindow(), (DicomWindow{-600, 1500}));

    // Annotate draws on the image as shown too.
    m_window->annotateImage();
    AnnotationWindowController *annotation = m_window->annotationWindowController();
    ASSERT_NE(annotation, nullptr);
    const QImage page = annotation->viewController()->pdfView()->editor().page().image();
    ASSERT_EQ(page.size(), QSize(400, 300));
    EXPECT_EQ(qGray(page.pixel(10, 10)), 128);
    annotation->close();

    const QSizeF size = surface()->size();
    drag(QPointF(0, size.height()), QPointF(size.width() / 2, size.height() / 2));
    ASSERT_TRUE(m_window->cropMenuItem()->isEnabled());
    m_window->cropMenuItem()->trigger();

    const QList<Media *> media = item->sortedMedia();
    ASSERT_EQ(media.size(), 2);
    EXPECT_EQ(media[0], scan);
    QFile kept(scan->filePath());
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), bytes);
    const QImage cropped = fileImage(media[1]);
    EXPECT_NEAR(cropped.width(), 200, 1);
    EXPECT_NEAR(cropped.height(), 150, 1);
    EXPECT_EQ(qGray(cropped.pixel(10, 10)), 128);
    // The display, refreshed for the new medium, keeps the window it showed.
    ASSERT_TRUE(QTest::qWaitFor([&] { return display()->showsDicom(); }, 5000));
    EXPECT_EQ(display()->dicomWindow(), (DicomWindow{-600, 1500}));
}
