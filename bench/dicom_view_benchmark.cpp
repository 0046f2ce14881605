// Times what the grid and the display do with a 512 x 512 16-bit CT-like
// DICOM image: its thumbnail, and a change of window, as a render alone and
// as the display shows it (render, scaled copy and paint of a 1000 x 1000
// display with the image fitted to it).
//
//   build/bench/dicom_view_benchmark
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "BenchmarkReport.h"
#include "media/DicomRenderer.h"
#include "media/MediaThumbnailProvider.h"
#include "media/MediaThumbnailRenderer.h"
#include "media/ui/MediaDisplayViewController.h"
#include "store/Case.h"
#include "store/CoreDataStack.h"
#include "store/ManagedObjectContext.h"
#include "store/Media.h"
#include "support/DicomTestImage.h"

using namespace ovalis;

namespace {

constexpr int rounds = 40;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A different window each time, as a drag makes them.
DicomWindow windowFor(int round)
{
    return {-600.0 + round * 17.0, 1500.0 - round * 11.0};
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.info=false\n*.debug=false\n"));
    QTemporaryDir temporary;
    const QString path = temporary.filePath(QStringLiteral("ct.dcm"));
    const QByteArray bytes = test::DicomTestImage::ctPhantom(512).bytes();
    QFile file(path);
    if (bytes.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write the test image\n");
        return 1;
    }
    file.close();
    std::printf("a 512 x 512 16-bit CT-like DICOM image, %.0f KB; medians of %d rounds\n", double(bytes.size()) / 1024,
                rounds);

    QElapsedTimer timer;
    std::vector<double> times;
    for (int round = 0; round < rounds; ++round) {
        timer.start();
        const MediaThumbnailRenderer::Thumbnail thumbnail =
            MediaThumbnailRenderer::render(path, MediaThumbnailProvider::defaultSide);
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (thumbnail.kind != MediaThumbnailRenderer::Kind::Image)
            return 1;
    }
    bench::report("grid thumbnail (read, decode, window, scale to 160)", median(times), 30);
    bench::report("grid thumbnail, slowest round", *std::max_element(times.begin(), times.end()), 30);

    times.clear();
    const DicomRenderer renderer(path);
    for (int round = 0; round < rounds; ++round) {
        timer.start();
        const QImage image = renderer.render(0, windowFor(round));
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (image.isNull())
            return 1;
    }
    bench::report("window/level re-render (table and pixels)", median(times), 16);

    // The display: a library with the image, shown fitted to 1000 x 1000.
    QDir().mkpath(temporary.filePath(QStringLiteral("tmp")));
    qputenv("TMPDIR", temporary.filePath(QStringLiteral("tmp")).toUtf8());
    CoreDataStack stack(temporary.filePath(QStringLiteral("Ovalis")));
    QString error;
    if (!stack.loadPersistentStores(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    auto *item = stack.mainContext()->insertNew<Case>();
    item->setPatientID(QStringLiteral("ABC1235"));
    Media *media = item->addMedia(bytes, QStringLiteral("ct.dcm"));
    MediaDisplayViewController display;
    display.resize(1000, 1000);
    display.setFitImageToWindow(true);
    display.applyFitToWindow();
    display.show();
    display.setCurrentCase(item);
    display.showMedia(media, false);
    timer.start();
    while (!display.showsDicom() && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    if (!display.showsDicom()) {
        std::fprintf(stderr, "the display did not show the image\n");
        return 1;
    }
    display.repaint();
    times.clear();
    std::vector<double> cpu;
    for (int round = 0; round < rounds; ++round) {
        const double cpuStart = bench::threadCpuMilliseconds();
        timer.start();
        display.setDicomWindow(windowFor(round));
        display.repaint();
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
        cpu.push_back(bench::threadCpuMilliseconds() - cpuStart);
    }
    bench::report("window change shown: render, scale to 1000 x 1000, paint", median(times), 16);
    bench::report("  same, thread CPU time", median(cpu), 16);
    bench::report("  same, slowest round", *std::max_element(times.begin(), times.end()), 16);
    return 0;
}
