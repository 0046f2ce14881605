#include <QAction>
#include <QBuffer>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QMediaPlayer>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>
#include <QWindow>
#include <numeric>
#include <gtest/gtest.h>

#include "store/LibraryNotifications.h"
#include "media/CursorImage.h"
#include "media/LoupeGeometry.h"
#include "media/PlaceholderImage.h"
#include "media/ui/DisplayImageView.h"
#include "media/ui/InteractiveView.h"
#include "media/ui/LoopingMoviePlayer.h"
#include "media/ui/MediaDisplayViewController.h"
#include "media/ui/MediaSingleLabelView.h"
#include "media/ui/MediaSummaryAndDetailView.h"
#include "media/ui/MovieView.h"
#include "store/NHI.h"
#include "media/TestMovieWriter.h"
#include "support/DicomTestImage.h"
#include "support/EncodedImage.h"
#include "support/StoreFixture.h"
#include "util/NotificationCenter.h"

using namespace ovalis;

namespace {

class MediaDisplayViewControllerTest : public test::StoreFixture
{
protected:
    void SetUp() override
    {
        StoreFixture::SetUp();
        m_display = std::make_unique<MediaDisplayViewController>();
        m_display->resize(800, 600);
        m_display->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_display.get()));
    }

    void TearDown() override
    {
        m_display.reset();
        StoreFixture::TearDown();
    }

    // A case with the given media files, in that order.
    Case *caseWithMedia(const QList<QPair<QByteArray, QString>> &files)
    {
        Case *item = newCase(QStringLiteral("ABC1235"), QStringLiteral("Summary"));
        for (const auto &file : files)
            item->addMedia(file.first, file.second);
        return item;
    }

    Case *caseWithImages(int count)
    {
        QList<QPair<QByteArray, QString>> files;
        for (int i = 0; i < count; ++i)
            files.append({test::encodedImage(QSize(320, 240), QColor::fromHsv(i * 60, 200, 200)), QStringLiteral("image-%1.jpg").arg(i + 1)});
        return caseWithMedia(files);
    }

    void show(Case *item, Media *media, bool multiple = false)
    {
        m_display->setCurrentCase(item);
        m_display->showMedia(media, multiple);
    }

    bool waitForImageOf(const QSize &size)
    {
        return QTest::qWaitFor([&] { return m_display->imageView()->imageSize() == size; }, 5000);
    }

    // Places the pointer at pos in the display.
    void pointAt(const QPoint &pos)
    {
        QCursor::setPos(m_display->mapToGlobal(pos));
        QCoreApplication::processEvents();
    }

    void sendKey(QEvent::Type type, int key)
    {
        QKeyEvent event(type, key, type == QEvent::KeyPress && key == Qt::Key_Alt ? Qt::AltModifier : Qt::NoModifier);
        QCoreApplication::sendEvent(m_display->interactiveView(), &event);
    }

    bool isShown(QWidget *widget) const { return !widget->isHidden(); }

    std::unique_ptr<MediaDisplayViewController> m_display;
};

TEST_F(MediaDisplayViewControllerTest, ShowsTheCounterAndImageTheCopiesPlaceholderForSeveralAndNothingWithoutMedia)
{
    Case *item = caseWithImages(3);
    const QList<Media *> media = item->sortedMedia();
    show(item, media[1]);
    EXPECT_EQ(m_display->imageCounterRoundRectView()->text(), QStringLiteral("2/3"));
    EXPECT_TRUE(isShown(m_display->imageCounterRoundRectView()));
    ASSERT_TRUE(waitForImageOf(QSize(320, 240)));
    EXPECT_TRUE(isShown(m_display->imageView()));
    EXPECT_FALSE(isShown(m_display->movieView()));
    EXPECT_FALSE(m_display->disableToggleFitToWindow());
    // The second image's hue, not the first's.
    const QColor shown = m_display->imageView()->image().pixelColor(160, 120);
    EXPECT_NEAR(shown.hsvHue(), 60, 6);

    // Two selected: the tinted copies placeholder.
    show(item, nullptr, true);
    EXPECT_EQ(m_display->imageCounterRoundRectView()->text(), QStringLiteral("Multiple"));
    EXPECT_TRUE(isShown(m_display->imageCounterRoundRectView()));
    EXPECT_EQ(m_display->imageView()->image(), PlaceholderImage::copies());
    EXPECT_EQ(m_display->imageView()->tintColor(), QColor::fromRgbF(0.5f, 0.5f, 0.5f, 0.3f));
    EXPECT_EQ(m_display->imageView()->imageScaling(), ImageScaling::ProportionallyUpOrDown);
    EXPECT_TRUE(m_display->disableToggleFitToWindow());
    // Painted faintly: the placeholder's lines show as a dim grey.
    const QImage painted = m_display->grab().toImage();
    int brightest = 0;
    // The middle, clear of the counter and demographics above.
    for (int x = 200; x < 600; x += 2)
        for (int y = 150; y < 450; y += 2)
            brightest = std::max(brightest, qGray(painted.pixel(x, y)));
    EXPECT_GT(brightest, 20);
    EXPECT_LT(brightest, 90);

    // One again: the tint goes, the counter follows.
    show(item, media[2]);
    EXPECT_FALSE(m_display->imageView()->tintColor().isValid());
    EXPECT_EQ(m_display->imageCounterRoundRectView()->text(), QStringLiteral("3/3"));
    EXPECT_FALSE(m_display->disableToggleFitToWindow());

    // None: nothing shown at all.
    show(item, nullptr);
    EXPECT_FALSE(isShown(m_display->imageCounterRoundRectView()));
    EXPECT_FALSE(isShown(m_display->imageView()));
    EXPECT_FALSE(isShown(m_display->movieView()));
    EXPECT_TRUE(m_display->disableToggleFitToWindow());
    show(nullptr, media[0]);
    EXPECT_FALSE(isShown(m_display->imageView()));
    EXPECT_TRUE(m_display->disableToggleFitToWindow());

    // A media of another case counts as the first.
    Case *other = caseWithImages(1);
    show(item, other->sortedMedia().first());
    EXPECT_EQ(m_display->imageCounterRoundRectView()->text(), QStringLiteral("1/3"));
}

TEST_F(MediaDisplayViewControllerTest, MissingFilesShowTheQuestionMarkAndImagesKeepTheScalingTheyFind)
{
    Case *item = caseWithImages(2);
    const QList<Media *> media = item->sortedMedia();
    ASSERT_TRUE(QFile::remove(media[0]->filePath()));
    ASSERT_EQ(m_display->imageView()->imageScaling(), ImageScaling::ProportionallyDown);
    show(item, media[0]);
    EXPECT_EQ(m_display->imageCounterRoundRectView()->text(), QStringLiteral("1/2"));
    EXPECT_EQ(m_display->imageView()->image(), PlaceholderImage::missingFile());
    EXPECT_FALSE(m_display->imageView()->tintColor().isValid());
    EXPECT_TRUE(isShown(m_display->imageView()));
    EXPECT_TRUE(m_display->disableToggleFitToWindow());
    EXPECT_EQ(m_display->imageView()->imageScaling(), ImageScaling::ProportionallyUpOrDown);

    // The next image is shown with the placeholder's scaling until fit is applied.
    show(item, media[1]);
    ASSERT_TRUE(waitForImageOf(QSize(320, 240)));
    EXPECT_EQ(m_display->imageView()->imageScaling(), ImageScaling::ProportionallyUpOrDown);
    QAction fitItem;
    m_display->setFitToWindowToolbarItem(&fitItem);
    m_display->applyFitToWindow();
    EXPECT_EQ(m_display->imageView()->imageScaling(), ImageScaling::ProportionallyDown);
    EXPECT_EQ(fitItem.text(), QStringLiteral("Full Size"));
    EXPECT_EQ(*m_display->imageView()->displayedImageRect(), QRectF(240, 180, 320, 240));
    m_display->setFitImageToWindow(true);
    m_display->applyFitToWindow();
    EXPECT_EQ(fitItem.text(), QStringLiteral("Actual Size"));
    EXPECT_EQ(*m_display->imageView()->displayedImageRect(), QRectF(0, 0, 800, 600));
}

TEST_F(MediaDisplayViewControllerTest, PlaysOtherFilesAsLoopingMutedMovies)
{
    const QString moviePath = m_directory.filePath(QStringLiteral("clip.mp4"));
    ASSERT_TRUE(test::TestMovieWriter::write(moviePath, QSize(32, 32), 10, 5, [](int index) {
        QImage frame(32, 32, QImage::Format_RGB32);
        frame.fill(QColor(40 * index, 128, 200));
        return frame;
    }));
    QFile movie(moviePath);
    ASSERT_TRUE(movie.open(QIODevice::ReadOnly));
    Case *item = caseWithMedia({{test::encodedImage(QSize(64, 48), Qt::red), QStringLiteral("still.jpg")},
                                {movie.readAll(), QStringLiteral("clip.mp4")}});
    const QList<Media *> media = item->sortedMedia();
    show(item, media[0]);
    ASSERT_TRUE(waitForImageOf(QSize(64, 48)));

    show(item, media[1]);
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_display->movieView()->player() != nullptr; }, 5000));
    EXPECT_TRUE(isShown(m_display->movieView()));
    EXPECT_FALSE(isShown(m_display->imageView()));
    EXPECT_TRUE(m_display->imageView()->image().isNull());
    EXPECT_EQ(m_display->imageCounterRoundRectView()->text(), QStringLiteral("2/2"));
    EXPECT_FALSE(m_display->disableToggleFitToWindow());
    LoopingMoviePlayer *player = m_display->movieView()->player();
    EXPECT_EQ(player->url(), QUrl::fromLocalFile(media[1]->filePath()));
    EXPECT_TRUE(player->isMuted());
    EXPECT_EQ(player->player()->loops(), int(QMediaPlayer::Infinite));
    EXPECT_EQ(player->player()->playbackState(), QMediaPlayer::PlayingState);
    // Frames arrive in the view, over which the overlays lie.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !m_display->movieView()->currentFrame().isNull(); }, 10000));
    EXPECT_EQ(m_display->movieView()->currentFrame().size(), QSize(32, 32));

    // Back to the image: the movie pauses behind it.
    show(item, media[0]);
    EXPECT_TRUE(isShown(m_display->imageView()));
    EXPECT_FALSE(isShown(m_display->movieView()));
    EXPECT_EQ(player->player()->playbackState(), QMediaPlayer::PausedState);
}

TEST_F(MediaDisplayViewControllerTest, OverlaysLeaveOutIdentifiersAndAddressesAndFollowCaseDetailWhileVisible)
{
    Case *item = caseWithImages(1);
    item->setSummary(QStringLiteral("ABC1235 pneumothorax https://example.org/x"));
    item->setDetail(QString(996, QLatin1Char('d')) + QStringLiteral("ZZZ0016") + QStringLiteral("dddd"));
    item->setSex(Sex::female);
    item->setDateOfBirth(QDateTime(QDate(1980, 1, 10), QTime(12, 0)));
    item->setDateOfDiagnosis(QDateTime(QDate(2020, 4, 20), QTime(12, 0)));
    m_display->setCurrentCase(item);

    EXPECT_EQ(m_display->descriptionRoundRectView()->summaryTextField()->text(), QStringLiteral(" pneumothorax "));
    EXPECT_EQ(m_display->descriptionRoundRectView()->detailTextField()->text(), QString(1000, QLatin1Char('d')) + QChar(0x2026));
    EXPECT_EQ(m_display->demographicsRoundRectView()->text(), item->ageString() + QLatin1Char(' ') + item->sexString());
    EXPECT_TRUE(isShown(m_display->demographicsRoundRectView()));
    EXPECT_EQ(m_display->windowTitle(), QStringLiteral("Media - ABC1235"));

    // The description shows only when asked for.
    EXPECT_FALSE(isShown(m_display->descriptionRoundRectView()));
    m_display->setShowDescription(true);
    EXPECT_TRUE(isShown(m_display->descriptionRoundRectView()));

    // Edits reach the overlays through "Updated Case Detail" while the display is visible.
    Settings::shared().setValue(recogniseNHIsSettingKey, false);
    item->setSummary(QStringLiteral("ABC1235 again"));
    item->setPatientID(QString());
    NotificationCenter::defaultCenter().post(LibraryNotifications::updatedCaseDetail);
    EXPECT_EQ(m_display->descriptionRoundRectView()->summaryTextField()->text(), QStringLiteral("ABC1235 again"));
    EXPECT_EQ(m_display->windowTitle(), QStringLiteral("Media"));

    m_display->hide();
    item->setSummary(QStringLiteral("hidden edit"));
    NotificationCenter::defaultCenter().post(LibraryNotifications::updatedCaseDetail);
    EXPECT_EQ(m_display->descriptionRoundRectView()->summaryTextField()->text(), QStringLiteral("ABC1235 again"));

    // Without a case, or without age and sex, the demographics go.
    item->setSex(Sex::unknown);
    item->setDateOfBirth(QDateTime());
    m_display->setCurrentCase(item);
    EXPECT_EQ(m_display->demographicsRoundRectView()->text(), item->sexString());
    m_display->setCurrentCase(nullptr);
    EXPECT_FALSE(isShown(m_display->demographicsRoundRectView()));
    EXPECT_TRUE(m_display->descriptionRoundRectView()->summaryTextField()->text().isEmpty());
}

TEST_F(MediaDisplayViewControllerTest, ModifierKeysOverAnImageChooseTheCursorTools)
{
    Case *item = caseWithMedia({{test::encodedImage(QSize(1600, 1200), Qt::darkGreen), QStringLiteral("large.jpg")}});
    show(item, item->sortedMedia().first());
    ASSERT_TRUE(waitForImageOf(QSize(1600, 1200)));
    // Decoded with its copy for the display, so no scaling is left to the first paint.
    EXPECT_TRUE(m_display->imageView()->hasScaledCopy());
    const QImage small = CursorImage::named(QStringLiteral("Loupe-small"));
    const QImage large = CursorImage::named(QStringLiteral("Loupe-large"));

    pointAt(QPoint(400, 300));
    sendKey(QEvent::KeyPress, Qt::Key_Alt);
    EXPECT_EQ(m_display->cursorType(), MediaDisplayCursor::loupe);
    EXPECT_EQ(m_display->interactiveView()->cursor().shape(), Qt::BitmapCursor);
    EXPECT_EQ(m_display->interactiveView()->cursor().pixmap().size(), small.size());
    EXPECT_EQ(m_display->interactiveView()->cursor().hotSpot(), QPoint(small.width() / 2, small.height() / 2));
    EXPECT_TRUE(QTest::qWaitFor([&] { return qFuzzyCompare(m_display->imageView()->imageOpacity(), 0.3); }, 2000));
    // The lens shows the image's green; the rim its own grey.
    const QImage lens = m_display->interactiveView()->cursor().pixmap().toImage();
    EXPECT_NEAR(lens.pixelColor(small.width() / 2, small.height() / 2).green(), 128, 6);
    EXPECT_EQ(qAlpha(lens.pixel(1, 1)), 0);

    sendKey(QEvent::KeyRelease, Qt::Key_Alt);
    EXPECT_EQ(m_display->cursorType(), MediaDisplayCursor::none);
    EXPECT_EQ(m_display->interactiveView()->cursor().shape(), Qt::ArrowCursor);
    EXPECT_TRUE(QTest::qWaitFor([&] { return qFuzzyCompare(m_display->imageView()->imageOpacity(), 1.0); }, 2000));

    sendKey(QEvent::KeyPress, Qt::Key_Shift);
    EXPECT_EQ(m_display->cursorType(), MediaDisplayCursor::magnifier);
    EXPECT_EQ(m_display->interactiveView()->cursor().pixmap().size(), large.size());
    sendKey(QEvent::KeyRelease, Qt::Key_Shift);
    sendKey(QEvent::KeyPress, Qt::Key_Super_L);
    EXPECT_EQ(m_display->cursorType(), MediaDisplayCursor::redArrow);
    const QImage arrow = m_display->interactiveView()->cursor().pixmap().toImage();
    EXPECT_EQ(m_display->imageView()->targetImageOpacity(), 1.0);
    sendKey(QEvent::KeyRelease, Qt::Key_Super_L);
    sendKey(QEvent::KeyPress, Qt::Key_Super_R);
    EXPECT_EQ(m_display->cursorType(), MediaDisplayCursor::greenArrow);
    EXPECT_NE(m_display->interactiveView()->cursor().pixmap().toImage(), arrow);
    sendKey(QEvent::KeyRelease, Qt::Key_Super_R);
    EXPECT_EQ(m_display->cursorType(), MediaDisplayCursor::none);

    // Other keys pass; outside the display the tools stay off.
    QKeyEvent letter(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    EXPECT_FALSE(m_display->doFlagsChanged(&letter));
    pointAt(QPoint(900, 300));
    sendKey(QEvent::KeyPress, Qt::Key_Alt);
    EXPECT_EQ(m_display->cursorType(), MediaDisplayCursor::none);
    EXPECT_EQ(m_display->imageView()->targetImageOpacity(), 1.0);

    // Nor do they work over a missing file.
    pointAt(QPoint(400, 300));
    QFile::remove(item->sortedMedia().first()->filePath());
    m_display->refreshDisplay();
    sendKey(QEvent::KeyPress, Qt::Key_Shift);
    EXPECT_EQ(m_display->cursorType(), MediaDisplayCursor::none);
}

// Vertical stripes 20 pixels wide, red and black on the left half, blue and
// black on the right, as a PNG (no compression smear at the edges).
QByteArray stripedImage(const QSize &size)
{
    QImage image(size, QImage::Format_RGB32);
    for (int x = 0; x < size.width(); ++x) {
        const QColor colour = (x / 20) % 2 ? QColor(Qt::black) : (x < size.width() / 2 ? QColor(Qt::red) : QColor(Qt::blue));
        for (int y = 0; y < size.height(); ++y)
            image.setPixelColor(x, y, colour);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// Along the lens's middle row, inside its circle: the mean width of the
// stripes that lie wholly there, and the brightest red and blue seen.
struct LensStripes {
    double meanWidth = 0;
    int red = 0;
    int blue = 0;
};

LensStripes lensStripes(const QImage &lens)
{
    LensStripes stripes;
    const int y = lens.height() / 2;
    const int margin = 20;
    QList<int> widths;
    int run = 0;
    bool bright = false;
    bool first = true;
    for (int x = margin; x < lens.width() - margin; ++x) {
        const QColor colour = lens.pixelColor(x, y);
        stripes.red = std::max(stripes.red, colour.red());
        stripes.blue = std::max(stripes.blue, colour.blue());
        const bool isBright = std::max(colour.red(), colour.blue()) > 128;
        if (x > margin && isBright != bright) {
            if (!first)
                widths.append(run);
            first = false;
            run = 0;
        }
        bright = isBright;
        ++run;
    }
    if (!widths.isEmpty())
        stripes.meanWidth = std::accumulate(widths.begin(), widths.end(), 0.0) / widths.size();
    return stripes;
}

TEST_F(MediaDisplayViewControllerTest, LoupesFollowTheKeysAndMouseAsTheWindowSystemDeliversThem)
{
    // 1600 × 1200 shown in 800 × 600: a stripe is 10 pixels on the display.
    Case *item = caseWithMedia({{stripedImage(QSize(1600, 1200)), QStringLiteral("stripes.png")}});
    show(item, item->sortedMedia().first());
    ASSERT_TRUE(waitForImageOf(QSize(1600, 1200)));
    m_display->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_display.get()));
    // Events enter where a window system's do: at the window, not at a widget.
    QWindow *window = m_display->windowHandle();
    ASSERT_NE(window, nullptr);
    const auto lens = [&] { return m_display->interactiveView()->cursor().pixmap().toImage(); };
    const double displayedStripe = 10.0;
    const auto magnification = [](const QImage &frame, double factor) {
        return (frame.width() - 2 * LoupeGeometry::frameInset) / (factor * frame.width());
    };

    // Alt over the red half: the small loupe shows the red stripes at full
    // strength over the dimmed image.
    QTest::mouseMove(window, QPoint(200, 300));
    QTest::keyPress(window, Qt::Key_Alt);
    ASSERT_EQ(m_display->cursorType(), MediaDisplayCursor::loupe);
    const QImage small = CursorImage::named(QStringLiteral("Loupe-small"));
    ASSERT_EQ(lens().size(), small.size());
    LensStripes seen = lensStripes(lens());
    EXPECT_GT(seen.red, 240);
    EXPECT_LT(seen.blue, 20);
    EXPECT_NEAR(seen.meanWidth, displayedStripe * magnification(small, 1.0), 1.5);
    EXPECT_TRUE(QTest::qWaitFor([&] { return qFuzzyCompare(m_display->imageView()->imageOpacity(), 0.3); }, 2000));

    // Moved with Alt held: the lens follows onto the blue half.
    QTest::mouseMove(window, QPoint(600, 300));
    seen = lensStripes(lens());
    EXPECT_GT(seen.blue, 240);
    EXPECT_LT(seen.red, 20);

    QTest::keyRelease(window, Qt::Key_Alt);
    EXPECT_EQ(m_display->cursorType(), MediaDisplayCursor::none);
    EXPECT_EQ(m_display->interactiveView()->cursor().shape(), Qt::ArrowCursor);
    EXPECT_TRUE(QTest::qWaitFor([&] { return qFuzzyCompare(m_display->imageView()->imageOpacity(), 1.0); }, 2000));

    // Shift: the larger magnifier enlarges the stripes beyond the display's.
    QTest::keyPress(window, Qt::Key_Shift);
    ASSERT_EQ(m_display->cursorType(), MediaDisplayCursor::magnifier);
    const QImage large = CursorImage::named(QStringLiteral("Loupe-large"));
    ASSERT_EQ(lens().size(), large.size());
    seen = lensStripes(lens());
    EXPECT_GT(seen.blue, 240);
    EXPECT_GT(seen.meanWidth, displayedStripe * 1.2);
    EXPECT_NEAR(seen.meanWidth, displayedStripe * magnification(large, 2.0 / 3.0), 1.5);
    QTest::keyRelease(window, Qt::Key_Shift);
    EXPECT_EQ(m_display->cursorType(), MediaDisplayCursor::none);

    // The pointer gone from the window, as the window system says: Alt does nothing.
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(window, &leave);
    QTest::keyPress(window, Qt::Key_Alt);
    EXPECT_EQ(m_display->cursorType(), MediaDisplayCursor::none);
    QTest::keyRelease(window, Qt::Key_Alt);
}

TEST_F(MediaDisplayViewControllerTest, EachWheelNotchStepsOnceAndTouchpadsAddUp)
{
    QSignalSpy steps(m_display.get(), &MediaDisplayViewController::moveSelectionRequested);
    auto scroll = [&](const QPoint &pixels, const QPoint &angle) {
        QWheelEvent event(QPointF(400, 300), m_display->mapToGlobal(QPointF(400, 300)), pixels, angle, Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(m_display->interactiveView(), &event);
    };
    // A standard wheel: every notch is one step.
    scroll(QPoint(), QPoint(0, -120));
    ASSERT_EQ(steps.count(), 1);
    EXPECT_EQ(steps.at(0).at(0).toInt(), 1);
    scroll(QPoint(), QPoint(0, -120));
    scroll(QPoint(), QPoint(0, 120));
    ASSERT_EQ(steps.count(), 3);
    EXPECT_EQ(steps.at(1).at(0).toInt(), 1);
    EXPECT_EQ(steps.at(2).at(0).toInt(), -1);
    EXPECT_EQ(m_display->cumulativeYDelta(), 0.0);

    // Small angles add up to a notch.
    scroll(QPoint(), QPoint(0, -72));
    EXPECT_EQ(steps.count(), 3);
    scroll(QPoint(), QPoint(0, -72));
    ASSERT_EQ(steps.count(), 4);
    EXPECT_EQ(steps.at(3).at(0).toInt(), 1);

    // A touchpad's pixels must pass 30.
    scroll(QPoint(0, 30), QPoint(0, 120));
    EXPECT_EQ(steps.count(), 4);
    scroll(QPoint(0, 1), QPoint(0, 12));
    ASSERT_EQ(steps.count(), 5);
    EXPECT_EQ(steps.at(4).at(0).toInt(), -1);
}

TEST(DisplayImageViewTest, PaintsAScaledCopyMadeOncePerImageAndSize)
{
    DisplayImageView view;
    view.resize(400, 300);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));

    // Small enough to scale at once.
    QImage small(1600, 1200, QImage::Format_RGB32);
    small.fill(Qt::red);
    view.setImage(small);
    view.repaint();
    EXPECT_TRUE(view.hasScaledCopy());

    // Large: scaled on a worker while the view paints the image as it is.
    QImage large(4000, 3000, QImage::Format_RGB32);
    large.fill(Qt::blue);
    QSignalSpy arrived(&view, &DisplayImageView::scaledCopyArrived);
    view.setImage(large);
    view.repaint();
    EXPECT_FALSE(view.hasScaledCopy());
    EXPECT_EQ(qBlue(view.grab().toImage().pixel(200, 150)), 255);
    ASSERT_TRUE(arrived.wait(5000));
    EXPECT_TRUE(view.hasScaledCopy());
    view.repaint();
    EXPECT_EQ(arrived.count(), 1);

    // A new size makes one new copy.
    view.resize(200, 100);
    view.repaint();
    ASSERT_TRUE(arrived.wait(5000));
    EXPECT_TRUE(view.hasScaledCopy());
    EXPECT_EQ(*view.displayedImageRect(), QRectF(33.333333333333329, 0, 133.33333333333334, 100));
    view.repaint();
    QCoreApplication::processEvents();
    EXPECT_EQ(arrived.count(), 2);
}

} // namespace

TEST_F(MediaDisplayViewControllerTest, DicomWindowsAndFramesFollowKeysDragsAndShiftScrollingAndTheOverlaySaysSo)
{
    // Three 64 x 64 frames in Hounsfield units (intercept -1024): the first
    // -600 on its left half and 40 on its right, then 400 and 1000
    // throughout. The file's window is 40/400.
    test::DicomTestImage dicom;
    dicom.rows = 64;
    dicom.columns = 64;
    dicom.frames = 3;
    dicom.rescaleIntercept = -1024;
    dicom.rescaleSlope = 1;
    dicom.windowCenter = 40;
    dicom.windowWidth = 400;
    for (int frame = 0; frame < 3; ++frame)
        for (int i = 0; i < 64 * 64; ++i)
            dicom.values.push_back(1024 + (frame == 0 ? (i % 64 < 32 ? -600 : 40) : frame == 1 ? 400 : 1000));
    Case *item = caseWithMedia({{dicom.bytes(), QStringLiteral("scan.dcm")}});
    show(item, item->sortedMedia().first());
    ASSERT_TRUE(waitForImageOf(QSize(64, 64)));
    ASSERT_TRUE(m_display->showsDicom());
    const auto grey = [&](int x) { return qGray(m_display->imageView()->image().pixel(x, 10)); };
    const auto overlay = [&] { return m_display->dicomRoundRectView()->text(); };
    EXPECT_EQ(overlay(), QStringLiteral("W 400 L 40  frame 1/3"));
    EXPECT_TRUE(isShown(m_display->dicomRoundRectView()));
    EXPECT_EQ(grey(0), 0);
    EXPECT_EQ(grey(40), 128);

    // The lung preset centres the left half; brain and back to the file's window.
    sendKey(QEvent::KeyPress, Qt::Key_3);
    EXPECT_EQ(overlay(), QStringLiteral("W 1500 L \u2212600  frame 1/3"));
    EXPECT_EQ(grey(0), 128);
    EXPECT_EQ(grey(40), 236);
    sendKey(QEvent::KeyPress, Qt::Key_1);
    EXPECT_EQ(m_display->dicomWindow(), (DicomWindow{40, 80}));
    sendKey(QEvent::KeyPress, Qt::Key_4);
    EXPECT_EQ(overlay(), QStringLiteral("W 1800 L 400  frame 1/3"));
    sendKey(QEvent::KeyPress, Qt::Key_0);
    EXPECT_EQ(m_display->dicomWindow(), (DicomWindow{40, 400}));
    EXPECT_EQ(grey(40), 128);

    // Frames step with Page Down and Up, and stop at the ends.
    sendKey(QEvent::KeyPress, Qt::Key_PageDown);
    EXPECT_EQ(overlay(), QStringLiteral("W 400 L 40  frame 2/3"));
    EXPECT_EQ(grey(0), 255);
    sendKey(QEvent::KeyPress, Qt::Key_PageDown);
    sendKey(QEvent::KeyPress, Qt::Key_PageDown);
    EXPECT_EQ(m_display->dicomFrame(), 2);
    sendKey(QEvent::KeyPress, Qt::Key_PageUp);
    sendKey(QEvent::KeyPress, Qt::Key_PageUp);
    EXPECT_EQ(overlay(), QStringLiteral("W 400 L 40  frame 1/3"));

    // Shift with the wheel steps frames, not media, and puts the magnifier Shift brings away.
    pointAt(QPoint(400, 300));
    sendKey(QEvent::KeyPress, Qt::Key_Shift);
    ASSERT_EQ(m_display->cursorType(), MediaDisplayCursor::magnifier);
    QSignalSpy mediaSteps(m_display.get(), &MediaDisplayViewController::moveSelectionRequested);
    QWheelEvent wheel(QPointF(400, 300), m_display->mapToGlobal(QPointF(400, 300)), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::ShiftModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(m_display->interactiveView(), &wheel);
    EXPECT_EQ(m_display->dicomFrame(), 1);
    EXPECT_EQ(mediaSteps.count(), 0);
    EXPECT_EQ(m_display->cursorType(), MediaDisplayCursor::none);
    sendKey(QEvent::KeyRelease, Qt::Key_Shift);
    sendKey(QEvent::KeyPress, Qt::Key_PageUp);

    // A right-button drag: rightwards widens, downwards raises the level.
    const auto mouse = [&](QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons buttons, const QPointF &position,
                           Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QMouseEvent event(type, position, m_display->interactiveView()->mapToGlobal(position), button, buttons, modifiers);
        QCoreApplication::sendEvent(m_display->interactiveView(), &event);
    };
    mouse(QEvent::MouseButtonPress, Qt::RightButton, Qt::RightButton, QPointF(300, 300));
    mouse(QEvent::MouseMove, Qt::NoButton, Qt::RightButton, QPointF(350, 300));
    const DicomWindow widened = m_display->dicomWindow();
    EXPECT_GT(widened.width, 400);
    EXPECT_EQ(widened.center, 40);
    mouse(QEvent::MouseMove, Qt::NoButton, Qt::RightButton, QPointF(350, 340));
    EXPECT_GT(m_display->dicomWindow().center, 40);
    EXPECT_EQ(m_display->dicomWindow().width, widened.width);
    mouse(QEvent::MouseButtonRelease, Qt::RightButton, Qt::NoButton, QPointF(350, 340));
    EXPECT_NE(overlay(), QStringLiteral("W 400 L 40  frame 1/3"));
    EXPECT_TRUE(m_display->resetWindowAction()->isEnabled());
    m_display->resetWindowAction()->trigger();
    EXPECT_EQ(overlay(), QStringLiteral("W 400 L 40  frame 1/3"));

    // Control and the left button adjust too, and make no crop selection.
    mouse(QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton, QPointF(300, 300), Qt::ControlModifier);
    mouse(QEvent::MouseMove, Qt::NoButton, Qt::LeftButton, QPointF(250, 300), Qt::ControlModifier);
    mouse(QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton, QPointF(250, 300), Qt::ControlModifier);
    EXPECT_LT(m_display->dicomWindow().width, 400);
    EXPECT_FALSE(m_display->hasSelectionRect());

    // Other media: no overlay, and the keys and drags are theirs again.
    Case *images = caseWithImages(1);
    show(images, images->sortedMedia().first());
    ASSERT_TRUE(waitForImageOf(QSize(320, 240)));
    EXPECT_FALSE(m_display->showsDicom());
    EXPECT_FALSE(isShown(m_display->dicomRoundRectView()));
    EXPECT_FALSE(m_display->resetWindowAction()->isEnabled());
    EXPECT_FALSE(m_display->interactiveView()->adjustsWindow());
}

TEST_F(MediaDisplayViewControllerTest, ADicomFileThatCannotBeShownShowsWhy)
{
    QFile jpeg2000(QStringLiteral("/usr/lib/python3/dist-packages/pydicom/data/test_files/MR_small_jp2klossless.dcm"));
    if (!jpeg2000.open(QIODevice::ReadOnly))
        GTEST_SKIP() << "pydicom's sample files are not installed";
    Case *item = caseWithMedia({{jpeg2000.readAll(), QStringLiteral("scan.dcm")}});
    show(item, item->sortedMedia().first());
    const QImage reason = PlaceholderImage::unavailable(QStringLiteral("cannot display: JPEG 2000"), 512);
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_display->imageView()->image() == reason; }, 5000));
    EXPECT_TRUE(isShown(m_display->imageView()));
    EXPECT_FALSE(isShown(m_display->movieView()));
    EXPECT_FALSE(m_display->showsDicom());
    EXPECT_TRUE(m_display->disableToggleFitToWindow());
}
