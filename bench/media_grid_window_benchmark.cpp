// Times the media grid on a case with 500 12-megapixel JPEGs, headless
// (offscreen platform): from showing the grid to its first screen of
// thumbnails, how long the event loop stalls while the rest load, and with
// the thumbnails on disk from an earlier run, all of them ready.
//
//   build/media_grid_window_benchmark [--library DIR] [--media N] [--warm-only] [--snapshot PNG]
//
// The library is generated once into DIR (by default a folder in the
// temporary directory) and reused by later runs; so are the thumbnails on
// disk, which the cold run clears first and --warm-only keeps.
#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QImageWriter>
#include <QItemSelectionModel>
#include <QListView>
#include <QLoggingCategory>
#include <QPainter>
#include <QRadialGradient>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <sys/resource.h>

#include "BenchmarkReport.h"
#include "media/MediaCollectionModel.h"
#include "media/MediaThumbnailProvider.h"
#include "media/ui/SelectableMediaCollectionViewController.h"
#include "store/Case.h"
#include "store/CoreDataStack.h"
#include "store/ManagedObjectContext.h"
#include "store/Media.h"
#include "util/Settings.h"

using namespace ovalis;

namespace {

const QString benchmarkCaseID = QStringLiteral("GRIDBENCH");
constexpr int distinctImages = 12;

// A 4000 × 3000 photograph stand-in: gradients, soft shapes and grain, so
// that it compresses like a real picture (a few megabytes).
QByteArray makeJpeg(int seed)
{
    QImage image(4000, 3000, QImage::Format_RGB32);
    {
        QPainter painter(&image);
        QLinearGradient background(0, 0, 4000, 3000);
        background.setColorAt(0, QColor::fromHsv((seed * 37) % 360, 120, 90));
        background.setColorAt(1, QColor::fromHsv((seed * 37 + 140) % 360, 160, 230));
        painter.fillRect(image.rect(), background);
        painter.setPen(Qt::NoPen);
        for (int i = 0; i < 14; ++i) {
            const QPointF centre(((seed + 3) * 977 * (i + 1)) % 4000, ((seed + 5) * 613 * (i + 2)) % 3000);
            QRadialGradient blob(centre, 250 + (i * 131) % 700);
            blob.setColorAt(0, QColor::fromHsv((seed * 53 + i * 29) % 360, 200, 250, 200));
            blob.setColorAt(1, Qt::transparent);
            painter.setBrush(blob);
            painter.drawEllipse(centre, 950, 950);
        }
    }
    quint32 state = 2463534242u + quint32(seed) * 7919u;
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            const int grain = int(state & 31) - 16;
            const QRgb pixel = line[x];
            line[x] = qRgb(qBound(0, qRed(pixel) + grain, 255), qBound(0, qGreen(pixel) + grain, 255),
                           qBound(0, qBlue(pixel) + grain, 255));
        }
    }
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(90);
    writer.write(image);
    return data;
}

Case *findBenchmarkCase(CoreDataStack &stack)
{
    const QList<ManagedObject *> found = stack.mainContext()->arrayOfObjects(
        Case::entityName(), Predicate::fromFormat(QStringLiteral("patientID == %@"), {benchmarkCaseID}));
    return found.isEmpty() ? nullptr : static_cast<Case *>(found.first());
}

// The case with count media whose files are all there, made when missing.
Case *benchmarkCase(CoreDataStack &stack, int count)
{
    Case *item = findBenchmarkCase(stack);
    if (item && item->media().size() == count) {
        bool complete = true;
        for (const Media *media : item->media())
            complete = complete && media->fileExists();
        if (complete)
            return item;
    }
    if (item)
        stack.mainContext()->deleteObject(item);
    QElapsedTimer timer;
    timer.start();
    item = stack.mainContext()->insertNew<Case>();
    item->setPatientID(benchmarkCaseID);
    item->setSummary(QStringLiteral("Media grid benchmark"));
    QList<QByteArray> images;
    qint64 bytes = 0;
    for (int i = 0; i < distinctImages; ++i)
        images.append(makeJpeg(i));
    for (int i = 0; i < count; ++i) {
        item->addMedia(images[i % distinctImages], QStringLiteral("IMG_%1.jpg").arg(i, 4, 10, QLatin1Char('0')));
        bytes += images[i % distinctImages].size();
    }
    stack.mainContext()->saveWithParent(true);
    std::printf("generated %d 4000x3000 JPEGs (%.0f MB) in %.1f s\n", count, double(bytes) / 1e6,
                double(timer.elapsed()) / 1000.0);
    std::fflush(stdout);
    return item;
}

// Processor time of the whole process (all threads) so far.
double cpuMilliseconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

// Shows the case in a fresh grid and runs the event loop until every
// thumbnail is ready, timing the visible ones, the whole case and the
// longest time the loop did not turn.
struct Run {
    double firstScreen = -1;
    double all = -1;
    double longestStall = 0;
    double showing = 0; // the UI thread busy with setting the case, laying out and the first paint
    double cpu = 0;
    int visible = 0;
};

Run showCase(Case *item, const QString &cacheDirectory, const QString &snapshot = QString())
{
    Run run;
    MediaThumbnailProvider provider(cacheDirectory);
    SelectableMediaCollectionViewController grid(&provider);
    grid.resize(1280, 800);
    QEventLoop loop;
    QElapsedTimer clock;
    QElapsedTimer sinceTick;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, &grid, [&] {
        run.longestStall = std::max(run.longestStall, double(sinceTick.nsecsElapsed()) / 1e6);
        sinceTick.start();
    });

    // Counted as they arrive; the first screen is timed once it has been painted.
    QSet<QString> ready;
    QSet<QString> onScreen;
    int onScreenMissing = 0;
    int total = 0;
    QObject::connect(&provider, &MediaThumbnailProvider::thumbnailReady, &grid, [&](const QString &uuid) {
        if (ready.contains(uuid))
            return;
        ready.insert(uuid);
        if (onScreen.contains(uuid) && --onScreenMissing == 0)
            QTimer::singleShot(0, &grid, [&] {
                grid.grab();
                run.firstScreen = double(clock.nsecsElapsed()) / 1e6;
            });
        if (ready.size() == total)
            loop.quit();
    });

    const double cpuBefore = cpuMilliseconds();
    clock.start();
    sinceTick.start();
    grid.setCurrentCase(item);
    const double setting = double(sinceTick.nsecsElapsed()) / 1e6;
    grid.show();
    const double showing = double(sinceTick.nsecsElapsed()) / 1e6;
    QCoreApplication::processEvents();
    if (qEnvironmentVariableIsSet("OVALIS_BENCH_DETAIL"))
        std::printf("  set %.1f, show %.1f, events %.1f ms\n", setting, showing - setting,
                    double(sinceTick.nsecsElapsed()) / 1e6 - showing);
    run.showing = double(sinceTick.nsecsElapsed()) / 1e6;
    run.longestStall = run.showing; // showing blocks the loop too

    QListView *view = grid.collectionView();
    total = int(grid.mediaArray().size());
    for (int row = 0; row < total; ++row) {
        const QString uuid = grid.mediaArray()[row]->uuid();
        if (view->visualRect(grid.model()->index(row)).intersects(view->viewport()->rect()) && !ready.contains(uuid)) {
            onScreen.insert(uuid);
            ++onScreenMissing;
        }
    }
    run.visible = int(onScreen.size());
    if (onScreenMissing == 0)
        run.firstScreen = run.showing;
    sinceTick.start();
    ticker.start();
    QTimer::singleShot(600000, &loop, &QEventLoop::quit);
    if (ready.size() < total)
        loop.exec();
    run.all = double(clock.nsecsElapsed()) / 1e6;
    run.cpu = cpuMilliseconds() - cpuBefore;
    ticker.stop();
    if (!snapshot.isEmpty()) {
        grid.collectionView()->selectionModel()->select(grid.model()->index(3), QItemSelectionModel::Select);
        grid.grab().save(snapshot);
    }
    // Let the last thumbnails reach the disk before the provider goes.
    while (provider.isBusy())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    return run;
}

// The machine's load, as the figures depend on it.
QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readLine()) : QStringLiteral("unknown\n");
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.info=false\n*.debug=false\n"));
    QString library = QDir::temp().filePath(QStringLiteral("ovalis-media-grid-benchmark"));
    int count = 500;
    bool warmOnly = false;
    QString snapshot;
    const QStringList arguments = app.arguments();
    for (int i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--warm-only"))
            warmOnly = true;
        else if (arguments[i] == QLatin1String("--library") && i + 1 < arguments.size())
            library = arguments[++i];
        else if (arguments[i] == QLatin1String("--media") && i + 1 < arguments.size())
            count = arguments[++i].toInt();
        else if (arguments[i] == QLatin1String("--snapshot") && i + 1 < arguments.size())
            snapshot = arguments[++i];
    }
    QTemporaryDir temporary;
    Settings::setSharedForTesting(
        std::make_unique<QSettings>(temporary.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat));
    Settings::registerApplicationDefaults();

    CoreDataStack stack(library);
    QString error;
    if (!stack.loadPersistentStores(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    Case *item = benchmarkCase(stack, count);
    const QString cache = QDir(library).filePath(QStringLiteral("thumbnail-cache"));
    std::printf("%d media, load average %s", count, qPrintable(loadAverage()));

    if (!warmOnly) {
        QDir(cache).removeRecursively();
        const Run cold = showCase(item, cache);
        std::printf("%d thumbnails on the first screen (1280x800)\n", cold.visible);
        bench::report("cold: show the grid to its first screen of thumbnails", cold.firstScreen, 1000);
        bench::report("cold: longest event-loop stall while the rest load", cold.longestStall, 50);
        bench::report("cold: UI thread busy showing the case (set, layout, paint)", cold.showing, 50);
        std::printf("  (all %d thumbnails made in %.1f s, %.1f ms of processor time each)\n", count, cold.all / 1000.0,
                    cold.cpu / count);
    }

    const Run warm = showCase(item, cache, snapshot);
    bench::report("warm disk cache: show the grid to all thumbnails ready", warm.all, 500);
    bench::report("warm disk cache: first screen of thumbnails", warm.firstScreen, 200);
    bench::report("warm disk cache: longest event-loop stall", warm.longestStall, 50);
    bench::report("warm disk cache: UI thread busy showing the case", warm.showing, 50);
    std::printf("  (%.2f ms of processor time per thumbnail)\n", warm.cpu / count);
    bench::reportPeakMemory(600);
    Settings::setSharedForTesting(nullptr);
    return 0;
}
