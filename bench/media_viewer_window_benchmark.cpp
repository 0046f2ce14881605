// Times the media window's display, headless (offscreen platform):
//  - stepping through 30 photographs of 12 megapixels with the Right arrow
//    key, from the key to the next image painted, at a presenter's pace
//    (a key every 250 ms) and with each key pressed as soon as the image
//    before is painted;
//  - a 50-megapixel image: opening its file, repainting, and resizing.
//
//   build/media_viewer_window_benchmark [--images N]
#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QListView>
#include <QLoggingCategory>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <functional>
#include <cstdio>

#include "BenchmarkReport.h"
#include "media/DisplayImageLoader.h"
#include "media/ui/DisplayImageView.h"
#include "media/ui/MediaDisplayViewController.h"
#include "media/ui/MediaWindowController.h"
#include "media/ui/SelectableMediaCollectionViewController.h"
#include "store/Case.h"
#include "store/CoreDataStack.h"
#include "store/ManagedObjectContext.h"
#include "store/Media.h"
#include "util/Settings.h"

using namespace ovalis;
using bench::report;

namespace {

double milliseconds(const QElapsedTimer &timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

double median(QList<double> times)
{
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

double worst(const QList<double> &times)
{
    return *std::max_element(times.cbegin(), times.cend());
}

// A photograph-like JPEG: smooth gradients, shapes and fine grain, which
// decodes about as slowly as a real photograph of that size.
QByteArray photograph(const QSize &size, int seed)
{
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, size.width(), size.height());
    gradient.setColorAt(0, QColor::fromHsv(seed * 37 % 360, 120, 220));
    gradient.setColorAt(1, QColor::fromHsv((seed * 37 + 150) % 360, 160, 60));
    painter.fillRect(image.rect(), gradient);
    QRandomGenerator random(seed);
    painter.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 60; ++i) {
        painter.setBrush(QColor::fromHsv(random.bounded(360), 150, 40 + random.bounded(200), 140));
        painter.setPen(Qt::NoPen);
        const int radius = 50 + random.bounded(size.width() / 6);
        painter.drawEllipse(QPoint(random.bounded(size.width()), random.bounded(size.height())), radius, radius);
    }
    painter.end();
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int grain = int(random.generate() & 15) - 8;
            const QRgb pixel = line[x];
            line[x] = qRgb(std::clamp(qRed(pixel) + grain, 0, 255), std::clamp(qGreen(pixel) + grain, 0, 255),
                           std::clamp(qBlue(pixel) + grain, 0, 255));
        }
    }
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 90);
    return data;
}

// Runs the event loop until done() or the time is up; answers done().
bool waitFor(const std::function<bool()> &done, int timeoutMilliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMilliseconds)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(200);
    }
    return true;
}

void wait(int milliseconds)
{
    waitFor([] { return false; }, milliseconds);
}

// Waits until the display shows media's image and has painted it.
bool waitUntilPainted(MediaDisplayViewController *display, Media *media)
{
    const bool shown = waitFor(
        [&] { return display->media() == media && !display->imageView()->image().isNull(); }, 10000);
    display->imageView()->repaint();
    return shown;
}

void pressRight(MediaWindowController &window)
{
    QWidget *target = window.collectionViewController()->collectionView();
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Right, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &release);
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.info=false\n*.debug=false\n"));
    int count = 30;
    const QStringList arguments = app.arguments();
    for (int i = 1; i + 1 < arguments.size(); i += 2)
        if (arguments[i] == QLatin1String("--images"))
            count = std::max(3, arguments[i + 1].toInt());

    QTemporaryDir temporary;
    Settings::setSharedForTesting(
        std::make_unique<QSettings>(temporary.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat));
    Settings::registerApplicationDefaults();
    CoreDataStack stack(temporary.filePath(QStringLiteral("Ovalis")));
    QString error;
    if (!stack.loadPersistentStores(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }

    QElapsedTimer timer;
    timer.start();
    Case *item = stack.mainContext()->insertNew<Case>();
    item->setPatientID(QStringLiteral("ABC1235"));
    // Four different photographs, each written several times over.
    QList<QByteArray> photographs;
    for (int seed = 0; seed < 4; ++seed)
        photographs.append(photograph(QSize(4000, 3000), seed + 1));
    for (int i = 0; i < count; ++i)
        item->addMedia(photographs[i % photographs.size()], QStringLiteral("photo-%1.jpg").arg(i + 1));
    std::printf("wrote %d JPEGs of 4000 x 3000 (%.1f MB each) in %.1f s\n", count,
                double(photographs.first().size()) / 1e6, milliseconds(timer) / 1000.0);
    const QList<Media *> media = item->sortedMedia();

    // What a prefetch costs one worker: the file read and decoded to fit
    // the screen, and its copy for the display.
    QList<double> decodes;
    for (int i = 0; i < 5; ++i) {
        timer.start();
        const DisplayImageLoader::Image decoded = DisplayImageLoader::decode(media[i]->filePath(), QSize(1920, 1200));
        decoded.image.scaled(DisplayImageLoader::displayCopySize(decoded.originalSize, QSizeF(1216, 852), 1.0),
                             Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        decodes.append(milliseconds(timer));
    }
    report("decode a 12-megapixel JPEG for the display (median of 5)", median(decodes), 100);

    MediaWindowController window(stack);
    window.resize(1440, 900);
    window.show();
    QCoreApplication::processEvents();
    MediaDisplayViewController *display = window.displayViewController();
    std::printf("display %d x %d, images decoded to fit %d x %d\n", display->width(), display->height(),
                display->imageLoader()->maximumSize().width(), display->imageLoader()->maximumSize().height());

    for (int pass = 0; pass < 2; ++pass) {
        const bool paced = pass == 0;
        timer.start();
        window.setCurrentCase(nullptr);
        window.setCurrentCase(item);
        if (!waitUntilPainted(display, media.first())) {
            std::fprintf(stderr, "the first image was not shown\n");
            return 1;
        }
        if (paced)
            report("open the case: first image painted", milliseconds(timer), 300);
        QList<double> steps;
        for (int i = 1; i < count; ++i) {
            if (paced)
                wait(250);
            timer.start();
            pressRight(window);
            if (!waitUntilPainted(display, media[i])) {
                std::fprintf(stderr, "image %d was not shown\n", i + 1);
                return 1;
            }
            steps.append(milliseconds(timer));
        }
        if (paced) {
            report("Right arrow to next image painted, a key every 250 ms (median)", median(steps), 100);
            report("  slowest of those", worst(steps), 100);
        } else {
            report("Right arrow to next image painted, keys back to back (median)", median(steps), 100);
            report("  slowest of those", worst(steps), 100);
        }
    }
    window.close();

    // A 50-megapixel file: decoded to fit the screen, then painted.
    const QByteArray huge = photograph(QSize(8660, 5773), 9);
    Case *hugeCase = stack.mainContext()->insertNew<Case>();
    Media *hugeMedia = hugeCase->addMedia(huge, QStringLiteral("huge.jpg"));
    MediaDisplayViewController hugeDisplay;
    hugeDisplay.resize(1440, 900);
    hugeDisplay.show();
    QCoreApplication::processEvents();
    timer.start();
    hugeDisplay.setCurrentCase(hugeCase);
    hugeDisplay.setMedia(hugeMedia);
    waitUntilPainted(&hugeDisplay, hugeMedia);
    report("50-megapixel JPEG: file opened to image painted", milliseconds(timer), 1000);

    // The same image held whole, as it would be for a file that cannot be
    // decoded reduced: repaints draw the scaled copy.
    QImage whole(8660, 5773, QImage::Format_RGB32);
    whole.fill(QColor(90, 120, 150));
    DisplayImageView view;
    view.resize(1440, 900);
    view.show();
    QCoreApplication::processEvents();
    int arrived = 0;
    QObject::connect(&view, &DisplayImageView::scaledCopyArrived, [&] { ++arrived; });
    auto waitForCopy = [&](int before) { waitFor([&] { return arrived > before; }, 10000); };
    timer.start();
    view.setImage(whole);
    view.repaint();
    report("50-megapixel image: first paint (unsmoothed)", milliseconds(timer), 100);
    waitForCopy(0);
    report("  smooth copy for the view's size arrived", milliseconds(timer), 1000);
    QList<double> repaints;
    for (int i = 0; i < 10; ++i) {
        timer.start();
        view.repaint();
        repaints.append(milliseconds(timer));
    }
    report("50-megapixel image: repaint (median of 10)", median(repaints), 16);
    QList<double> resizes;
    QList<double> copies;
    for (int i = 0; i < 6; ++i) {
        timer.start();
        view.resize(i % 2 ? QSize(1440, 900) : QSize(1100, 700));
        const int before = arrived;
        view.repaint();
        resizes.append(milliseconds(timer));
        waitForCopy(before);
        copies.append(milliseconds(timer));
    }
    report("50-megapixel image: resize and repaint (median of 6)", median(resizes), 100);
    report("  smooth copy for the new size arrived (median of 6)", median(copies), 1000);
    bench::reportPeakMemory(2048);
    return 0;
}
