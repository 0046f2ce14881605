// Times the library clean-up and the command-line listing at library scale:
// deleteOrphanedMedia over 100,000 files and records, and a whole
// `ovalis-cli list --search` process over 100,000 cases.
//
//   build/maintenance_benchmark [--cases N]
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>

#include "store/Case.h"
#include "store/CoreDataStack.h"
#include "store/LibraryGenerator.h"
#include "store/LibraryMaintenance.h"
#include "store/ManagedObjectContext.h"
#include "store/Media.h"
#include "util/SerialQueue.h"

using namespace ovalis;

namespace {

void report(const char *name, double milliseconds, double budget)
{
    std::printf("%-58s %9.1f ms   (budget %6.0f ms) %s\n", name, milliseconds, budget, milliseconds <= budget ? "ok" : "OVER");
    std::fflush(stdout);
}

void touch(const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    file.open(QIODevice::WriteOnly);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.info=false\n*.debug=false\n"));
    int cases = 100000;
    const QStringList arguments = app.arguments();
    for (int i = 1; i + 1 < arguments.size(); i += 2)
        if (arguments[i] == QLatin1String("--cases"))
            cases = arguments[i + 1].toInt();

    QTemporaryDir temporary;
    const QString library = temporary.filePath(QStringLiteral("Ovalis"));
    QElapsedTimer timer;
    {
        CoreDataStack stack(library);
        QString error;
        if (!stack.loadPersistentStores(&error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        LibraryGenerator::Options options;
        options.cases = cases;
        options.tags = 2000;
        options.mediaPerCase = 1;
        timer.start();
        if (!LibraryGenerator(&stack).generate(options, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        // A file for every record, and some that belong to nobody.
        int files = 0;
        for (ManagedObject *object : stack.mainContext()->arrayOfObjects(Media::entityName())) {
            touch(static_cast<Media *>(object)->filePath());
            ++files;
        }
        for (int i = 0; i < 1000; ++i)
            touch(stack.mediaDirectory() + QStringLiteral("/FF/%1/%2/00/FF%1%200-0000.jpg").arg(i % 100, 2, 10, QLatin1Char('0')).arg(i / 100, 2, 10, QLatin1Char('0')));
        std::printf("generated %d cases with %d media files and 1000 stray files in %.1f s\n", cases, files,
                    double(timer.elapsed()) / 1000.0);
    }

    {
        CoreDataStack stack(library);
        QString error;
        stack.loadPersistentStores(&error);
        LibraryMaintenance maintenance(stack.mainContext());
        timer.start();
        maintenance.deleteOrphanedRecords();
        const double records = double(timer.nsecsElapsed()) / 1e6;
        maintenance.deleteOrphanedFiles();
        const double files = double(timer.nsecsElapsed()) / 1e6 - records;
        maintenance.deleteEmptyMediaFolders();
        const double total = double(timer.nsecsElapsed()) / 1e6;
        report("deleteOrphanedMedia over the library's files and records", total, 5000);
        std::printf("  (orphan records %.0f ms, orphan files %.0f ms, empty folders %.0f ms)\n", records, files,
                    total - records - files);
        stack.mainContext()->saveWithParent(true);
        stack.fileDeletionQueue()->waitForDone();
    }

    const QString cli = QCoreApplication::applicationDirPath() + QStringLiteral("/../ovalis-cli");
    QList<double> times;
    qsizetype lines = 0;
    for (int run = 0; run < 5; ++run) {
        QProcess process;
        timer.start();
        process.start(cli, {QStringLiteral("--library"), library, QStringLiteral("list"), QStringLiteral("--search"),
                            QStringLiteral("smith")});
        process.waitForFinished(60000);
        times.append(double(timer.nsecsElapsed()) / 1e6);
        lines = process.readAllStandardOutput().count('\n');
        if (process.exitCode() != 0) {
            std::fprintf(stderr, "ovalis-cli failed: %s\n", process.readAllStandardError().constData());
            return 1;
        }
    }
    std::sort(times.begin(), times.end());
    report("ovalis-cli list --search smith, whole process (median)", times[times.size() / 2], 300);
    std::printf("  (%lld cases listed)\n", qlonglong(lines));
    return 0;
}
