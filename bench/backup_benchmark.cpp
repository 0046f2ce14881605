// Times the backup of a large library and its restore into an empty one,
// with the process's peak memory, then a folder import of 2,000 images of
// 300 KB in 400 case folders against `cp -r` of the same tree on the same disk.
//
//   build/bench/backup_benchmark [--library DIR] [--cases N] [--tags T] [--only export|restore|import]
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <cstdio>
#include <ctime>
#include <unistd.h>

#include "BenchmarkReport.h"
#include "GeneratedLibrary.h"
#include "exchange/FolderHierarchyImport.h"
#include "exchange/JSONImporter.h"
#include "store/Case.h"
#include "store/CoreDataStack.h"
#include "store/ManagedObjectContext.h"
#include "store/Media.h"

using namespace ovalis;
using namespace ovalis::bench;

namespace {

// CPU time of the whole process in milliseconds: on a machine shared with
// other work it shows what a run costs when wall-clock figures are inflated.
double processCpuMilliseconds()
{
    timespec time{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &time);
    return double(time.tv_sec) * 1e3 + double(time.tv_nsec) / 1e6;
}

// 400 case folders below topic folders, each with five 300 KB "images" split
// between two examination folders.
bool makeImageTree(const QString &root)
{
    QRandomGenerator random(42);
    QByteArray data(300 * 1024, '\0');
    for (int c = 0; c < 400; ++c) {
        const QString caseFolder = QStringLiteral("%1/Topic %2/Finding %3/Case %4").arg(root).arg(c % 8).arg(c % 50).arg(c);
        for (int i = 0; i < 5; ++i) {
            const QString folder = caseFolder + (i < 3 ? QStringLiteral("/CT") : QStringLiteral("/MRI/sag T1"));
            if (!QDir().mkpath(folder))
                return false;
            random.fillRange(reinterpret_cast<quint32 *>(data.data()), data.size() / 4);
            QFile file(QStringLiteral("%1/%2.jpg").arg(folder).arg(i));
            if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
                return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.info=false\n*.debug=false\n"));
    const GeneratedLibrary library(app.arguments());
    QTemporaryDir scratch;
    const QString backup = scratch.filePath(QStringLiteral("backup.json"));
    QElapsedTimer timer;
    const qsizetype onlyAt = app.arguments().indexOf(QStringLiteral("--only"));
    const QString only = onlyAt >= 0 ? app.arguments().value(onlyAt + 1) : QString();
    const auto runs = [&only](const char *step) { return only.isEmpty() || only == QLatin1String(step); };
    if (runs("export") || runs("restore")) {
        std::unique_ptr<CoreDataStack> stack = library.open();
        if (!stack)
            return 1;
        const double exportCpu = processCpuMilliseconds();
        timer.start();
        const JSONImporter::ExportResult result = JSONImporter(QUrl::fromLocalFile(backup)).exportDatabase(stack->mainContext());
        const double exportMs = double(timer.nsecsElapsed()) / 1e6;
        if (!result.error.isEmpty()) {
            std::fprintf(stderr, "export failed: %s\n", qPrintable(result.error));
            return 1;
        }
        std::printf("backup of %d cases: %.1f MB, %.0f ms of CPU\n", result.casesWritten,
                    double(QFileInfo(backup).size()) / 1048576.0, processCpuMilliseconds() - exportCpu);
        if (runs("export"))
            report("export backup (fetch, order, encode, write)", exportMs, 3000);
    }
    if (runs("restore")) {
        std::unique_ptr<CoreDataStack> stack = openLibraryAt(scratch.filePath(QStringLiteral("Restored")));
        if (!stack)
            return 1;
        bool done = false;
        JSONImporter::RestoreSummary summary;
        const double restoreCpu = processCpuMilliseconds();
        timer.start();
        JSONImporter(QUrl::fromLocalFile(backup)).importBackup(stack->mainContext(), [&](const auto &result) {
            summary = result;
            done = true;
        });
        waitFor(done);
        const double restoreMs = double(timer.nsecsElapsed()) / 1e6;
        if (!summary.error.isEmpty()) {
            std::fprintf(stderr, "restore failed: %s\n", qPrintable(summary.error));
            return 1;
        }
        std::printf("restored %d cases with %d media records, %.0f ms of CPU\n", summary.casesRead, summary.mediaRecords,
                    processCpuMilliseconds() - restoreCpu);
        report("restore backup into an empty library (read, decode, save)", restoreMs, 10000);
        // What reached the file, read by a second stack as another process would.
        const std::unique_ptr<CoreDataStack> reader = openLibraryAt(scratch.filePath(QStringLiteral("Restored")));
        if (!reader)
            return 1;
        const int storedCases = reader->mainContext()->countOfObjects(Case::entityName());
        const int storedMedia = reader->mainContext()->countOfObjects(Media::entityName());
        std::printf("the restored file holds %d cases and %d media records\n", storedCases, storedMedia);
        if (storedCases != summary.casesRead || storedMedia != summary.mediaRecords) {
            std::fprintf(stderr, "the restore did not reach the file whole\n");
            return 1;
        }
    }
    if (only.isEmpty())
        reportPeakMemory(1024);
    if (!runs("import"))
        return 0;

    const QString tree = scratch.filePath(QStringLiteral("Teaching"));
    if (!makeImageTree(tree)) {
        std::fprintf(stderr, "could not write the image tree\n");
        return 1;
    }
    // Each timed step starts with nothing of the others waiting to be
    // written: the import's flush then waits for its own files only.
    ::sync();
    timer.start();
    if (QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-r"), tree, scratch.filePath(QStringLiteral("Copy"))}) != 0)
        return 1;
    const double copyMs = double(timer.nsecsElapsed()) / 1e6;
    std::unique_ptr<CoreDataStack> stack = openLibraryAt(scratch.filePath(QStringLiteral("Imported")));
    if (!stack)
        return 1;
    ::sync();
    bool done = false;
    FolderHierarchyImport::Summary summary;
    const double importCpu = processCpuMilliseconds();
    timer.start();
    FolderHierarchyImport::importFolderHierarchy(tree, stack->mainContext(), [&](const auto &result) {
        summary = result;
        done = true;
    });
    waitFor(done);
    const double importMs = double(timer.nsecsElapsed()) / 1e6;
    std::printf("folder import: %d cases, %d media files, %.0f ms of CPU; cp -r of the same tree %.1f ms\n",
                summary.casesImported, summary.mediaCopied, processCpuMilliseconds() - importCpu, copyMs);
    report("import 2,000 images of 300 KB in 400 case folders", importMs, 2 * copyMs);
    return 0;
}
