// Times the file edits of the media window on a 50-megapixel image: a crop
// (decode, backup, cut, JPEG write) and an annotation save (backup, flatten
// with four marks, JPEG write), each as the user's command runs it.
//
//   build/bench/image_edit_benchmark
#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <cstdio>

#include "BenchmarkReport.h"
#include "media/AnnotatedImageSave.h"
#include "media/AnnotationEditor.h"
#include "media/AnnotationGeometry.h"
#include "media/AnnotationPage.h"
#include "media/MediaCrop.h"
#include "store/Case.h"
#include "store/CoreDataStack.h"
#include "store/ManagedObjectContext.h"
#include "store/Media.h"
#include "util/UndoManager.h"

using namespace ovalis;

namespace {

// Gradients with sensor-like noise, so that JPEG has detail to code (about
// 4 MB at 50 megapixels; photographs of that size are often larger).
QImage generatedImage(const QSize &size)
{
    QImage image(size, QImage::Format_RGB32);
    quint32 state = 12345;
    for (int y = 0; y < size.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            state = state * 1664525u + 1013904223u;
            const int noise = int(state >> 28) - 8;
            line[x] = qRgb(qBound(0, (x / 32) % 256 + noise, 255), qBound(0, (y / 24) % 256 + noise, 255),
                           qBound(0, ((x + y) / 56) % 256 + noise, 255));
        }
    }
    return image;
}

QByteArray jpeg(const QImage &image)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG");
    return data;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.info=false\n*.debug=false\n"));
    QTemporaryDir temporary;
    // Backups go to the temporary folder, which must exist.
    QDir().mkpath(temporary.filePath(QStringLiteral("tmp")));
    qputenv("TMPDIR", temporary.filePath(QStringLiteral("tmp")).toUtf8());

    CoreDataStack stack(temporary.filePath(QStringLiteral("Ovalis")));
    QString error;
    if (!stack.loadPersistentStores(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    stack.mainContext()->undoManager()->setGroupsByEvent(false);

    const QSize size(8192, 6144); // 50.3 megapixels
    QElapsedTimer timer;
    timer.start();
    const QByteArray data = jpeg(generatedImage(size));
    std::printf("generated a %d x %d JPEG (%.1f MB) in %.1f s\n", size.width(), size.height(), double(data.size()) / 1e6,
                double(timer.elapsed()) / 1000.0);

    auto *item = stack.mainContext()->insertNew<Case>();
    item->setPatientID(QStringLiteral("ABC1235"));
    Media *cropped = item->addMedia(data, QStringLiteral("large.jpg"));
    Media *annotated = item->addMedia(data, QStringLiteral("large-2.jpg"));

    // The display is 1600 × 1200 with the image fitted; the selection is its
    // middle half, so the cut keeps a quarter of the pixels.
    const CropViewLayout layout{QSizeF(1600, 1200), false};
    timer.start();
    MediaCrop::cropSelectedImages({cropped}, QRectF(400, 300, 800, 600), layout);
    bench::report("crop a 50-megapixel image (decode, backup, cut, write)", double(timer.nsecsElapsed()) / 1e6, 3000);
    if (QImage(cropped->filePath()).size() != QSize(4096, 3072)) {
        std::fprintf(stderr, "the crop has the wrong size\n");
        return 1;
    }

    timer.start();
    AnnotationEditor editor(annotated->image());
    const double decode = double(timer.nsecsElapsed()) / 1e6;
    const QColor red(255, 59, 48);
    for (AnnotationTool tool : {AnnotationTool::arrow, AnnotationTool::rectangle, AnnotationTool::circle}) {
        editor.setTool(tool);
        editor.beginDrag(QPointF(1000 + 1500 * int(tool), 1000));
        editor.endDrag(QPointF(2200 + 1500 * int(tool), 2500));
    }
    editor.setFontSize(28);
    editor.openTextEntry(QPointF(1000, 5000));
    editor.commitTextEntry(QStringLiteral("Fracture"), AnnotationGeometry::textWidth(QStringLiteral("Fracture"), 28));
    timer.start();
    const QImage flat = flattenPage(editor.page(), QSizeF(size));
    const double flatten = double(timer.nsecsElapsed()) / 1e6;
    timer.start();
    if (!AnnotatedImageSave::save(annotated, editor.page())) {
        std::fprintf(stderr, "the annotation save failed\n");
        return 1;
    }
    const double save = double(timer.nsecsElapsed()) / 1e6;
    bench::report("annotate-save a 50-megapixel image (backup, flatten, write)", save, 3000);
    std::printf("  (opening the editor's image %.0f ms, flatten alone %.0f ms, %d x %d)\n", decode, flatten, flat.width(),
                flat.height());
    bench::reportPeakMemory(2048);
    return 0;
}
