// Times the whole-library backup of 2,000 media files (about 600 MB of
// incompressible bytes) against `tar -cf` of the library folder, alone and
// followed by an fsync of the tar (the backup is on the disk when it says it
// is done), and its restore into an empty library against `tar -xf` plus the
// JSON-only restore of the same records, all in the same run on the same disk.
//
//   build/bench/library_archive_benchmark [--files N] [--megabytes M]
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QUrl>
#include <cstdio>
#include <unistd.h>

#include "BenchmarkReport.h"
#include "GeneratedLibrary.h"
#include "exchange/JSONImporter.h"
#include "exchange/LibraryArchive.h"
#include "store/Case.h"
#include "store/CoreDataStack.h"
#include "store/LibraryGenerator.h"
#include "store/ManagedObjectContext.h"
#include "store/Media.h"

using namespace ovalis;
using namespace ovalis::bench;

namespace {

constexpr double targetRatio = 1.3;

// Cases with media files until about `files` files exist, then every file
// is rewritten with random bytes so that the library weighs `bytes`.
bool makeLibrary(const QString &path, int files, qint64 bytes)
{
    std::unique_ptr<CoreDataStack> stack = openLibraryAt(path);
    if (!stack)
        return false;
    LibraryGenerator::Options options;
    options.cases = files / 3;
    options.tags = 50;
    options.mediaPerCase = 3;
    options.withFiles = true;
    QString error;
    if (!LibraryGenerator(stack.get()).generate(options, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return false;
    }
    QStringList media;
    QDirIterator iterator(stack->mediaDirectory(), QDir::Files, QDirIterator::Subdirectories);
    while (iterator.hasNext())
        media.append(iterator.next());
    if (media.isEmpty())
        return false;
    QRandomGenerator random(21);
    QByteArray data(qsizetype(bytes / media.size()) & ~qsizetype(3), Qt::Uninitialized);
    for (const QString &file : std::as_const(media)) {
        random.fillRange(reinterpret_cast<quint32 *>(data.data()), data.size() / 4);
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(data) != data.size())
            return false;
    }
    std::printf("library: %d cases, %lld media files, %.0f MB of media\n",
                stack->mainContext()->countOfObjects(Case::entityName()), qlonglong(media.size()),
                double(data.size()) * double(media.size()) / 1048576.0);
    return true;
}

// A `tar` run in directory; its wall-clock time in milliseconds, or -1.
double timeTar(const QString &directory, const QStringList &arguments)
{
    ::sync();
    QProcess tar;
    tar.setWorkingDirectory(directory);
    QElapsedTimer timer;
    timer.start();
    tar.start(QStringLiteral("tar"), arguments);
    if (!tar.waitForFinished(-1) || tar.exitStatus() != QProcess::NormalExit || tar.exitCode() != 0) {
        std::fprintf(stderr, "tar %s failed: %s\n", qPrintable(arguments.join(QLatin1Char(' '))),
                     tar.readAllStandardError().constData());
        return -1;
    }
    return double(timer.nsecsElapsed()) / 1e6;
}

void reportRatio(const char *name, double ratio)
{
    std::printf("%-62s %9.2f      (target %6.2f)    %s\n", name, ratio, targetRatio, ratio <= targetRatio ? "ok" : "OVER");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.info=false\n*.debug=false\n"));
    const QStringList arguments = app.arguments();
    const auto option = [&arguments](const char *name, int fallback) {
        const qsizetype at = arguments.indexOf(QLatin1String(name));
        return at >= 0 ? arguments.value(at + 1).toInt() : fallback;
    };
    const int files = option("--files", 2000);
    const qint64 bytes = qint64(option("--megabytes", 600)) << 20;

    QTemporaryDir scratch;
    if (!scratch.isValid())
        return 1;
    const QString library = scratch.filePath(QStringLiteral("Library"));
    if (!makeLibrary(library, files, bytes))
        return 1;

    // The records alone, for the JSON restore the archive's restore is set against.
    const QString records = scratch.filePath(QStringLiteral("records.json"));
    {
        std::unique_ptr<CoreDataStack> stack = openLibraryAt(library);
        if (!stack)
            return 1;
        const JSONImporter::ExportResult exported = JSONImporter(QUrl::fromLocalFile(records)).exportDatabase(stack->mainContext());
        if (!exported.error.isEmpty()) {
            std::fprintf(stderr, "export failed: %s\n", qPrintable(exported.error));
            return 1;
        }
    }

    const QString tarFile = scratch.filePath(QStringLiteral("library.tar"));
    const double tarCreateMs = timeTar(scratch.path(), {QStringLiteral("-cf"), tarFile, QStringLiteral("Library")});
    if (tarCreateMs < 0)
        return 1;
    report("tar -cf of the library folder", tarCreateMs, tarCreateMs);
    // The backup is on the disk before it takes its name and says it is done;
    // tar leaves its file in the page cache. tar followed by an fsync of its
    // file is the comparison for a backup that survives a power cut.
    QElapsedTimer flushTimer;
    flushTimer.start();
    if (QProcess::execute(QStringLiteral("sync"), {tarFile}) != 0)
        return 1;
    const double tarCreateFlushedMs = tarCreateMs + double(flushTimer.nsecsElapsed()) / 1e6;
    report("tar -cf, then fsync of the tar", tarCreateFlushedMs, tarCreateFlushedMs);

    const QString archive = scratch.filePath(QStringLiteral("Ovalis Library.tar"));
    double backupMs = 0;
    {
        std::unique_ptr<CoreDataStack> stack = openLibraryAt(library);
        if (!stack)
            return 1;
        ::sync();
        QElapsedTimer timer;
        timer.start();
        const LibraryArchive::Result written = LibraryArchive::write(stack->mainContext(), archive);
        backupMs = double(timer.nsecsElapsed()) / 1e6;
        if (!written.succeeded()) {
            std::fprintf(stderr, "backup failed: %s\n", qPrintable(written.error));
            return 1;
        }
        std::printf("archive: %d cases, %d files, %.0f MB\n", written.cases, written.files,
                    double(QFileInfo(archive).size()) / 1048576.0);
    }
    report("LibraryArchive::write", backupMs, targetRatio * tarCreateMs);

    const QString unpacked = scratch.filePath(QStringLiteral("Unpacked"));
    if (!QDir().mkpath(unpacked))
        return 1;
    const double tarExtractMs = timeTar(unpacked, {QStringLiteral("-xf"), tarFile});
    if (tarExtractMs < 0)
        return 1;
    report("tar -xf of that tar", tarExtractMs, tarExtractMs);
    // The unpacked copy stays until the end: a restore timed just after
    // thousands of files are deleted pays for it, as the file system then
    // skips their inodes when it makes new files.

    double jsonRestoreMs = 0;
    {
        std::unique_ptr<CoreDataStack> stack = openLibraryAt(scratch.filePath(QStringLiteral("FromRecords")));
        if (!stack)
            return 1;
        ::sync();
        bool done = false;
        JSONImporter::RestoreSummary summary;
        QElapsedTimer timer;
        timer.start();
        JSONImporter(QUrl::fromLocalFile(records)).importBackup(stack->mainContext(), [&](const auto &result) {
            summary = result;
            done = true;
        });
        waitFor(done);
        jsonRestoreMs = double(timer.nsecsElapsed()) / 1e6;
        if (!summary.error.isEmpty()) {
            std::fprintf(stderr, "JSON restore failed: %s\n", qPrintable(summary.error));
            return 1;
        }
    }
    report("JSON-only restore into an empty library", jsonRestoreMs, jsonRestoreMs);

    double restoreMs = 0;
    {
        std::unique_ptr<CoreDataStack> stack = openLibraryAt(scratch.filePath(QStringLiteral("FromArchive")));
        if (!stack)
            return 1;
        ::sync();
        QElapsedTimer timer;
        timer.start();
        const LibraryArchive::Result restored = LibraryArchive::restore(archive, stack->mainContext());
        restoreMs = double(timer.nsecsElapsed()) / 1e6;
        if (!restored.succeeded()) {
            std::fprintf(stderr, "restore failed: %s\n", qPrintable(restored.error));
            return 1;
        }
        std::printf("restored %d cases and %d files\n", restored.cases, restored.files);
    }
    report("LibraryArchive::restore into an empty library", restoreMs, targetRatio * (tarExtractMs + jsonRestoreMs));

    reportRatio("backup / tar -cf", backupMs / tarCreateMs);
    reportRatio("backup / (tar -cf + fsync)", backupMs / tarCreateFlushedMs);
    reportRatio("restore / (tar -xf + JSON restore)", restoreMs / (tarExtractMs + jsonRestoreMs));
    return 0;
}
