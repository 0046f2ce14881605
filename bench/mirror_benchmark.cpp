// Times the library mirror on a PostgreSQL server of its own on this machine:
// the first upload of a generated library, the first download into an empty
// library (beside an ovalis-cli restore of the same library's JSON backup in
// the same run), the longest stall of the main thread while a download is
// merged, the peak memory of a download by ovalis-cli sync, how long one edit
// takes to show on another running machine, and a sync with nothing to do.
//
//   mirror_benchmark [--library DIR] [--cases N] [--tags T] [--edits N]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <future>

#include "BenchmarkReport.h"
#include "ChildPeakMemory.h"
#include "GeneratedLibrary.h"
#include "LatencyProbe.h"
#include "exchange/JSONImporter.h"
#include "store/Case.h"
#include "store/ManagedObjectContext.h"
#include "support/PostgresTestServer.h"
#include "transfer/LibraryMirror.h"
#include "transfer/MirrorService.h"
#include "transfer/PostgresConnection.h"

using namespace ovalis;
using namespace ovalis::bench;

namespace {

// Runs a sync on a thread of its own while this thread turns its loop (and
// merges what the sync writes); milliseconds until the window has it all.
double timedSync(LibraryMirror &mirror, LibraryMirror::Report *report)
{
    QElapsedTimer timer;
    timer.start();
    auto done = std::async(std::launch::async, [&] {
        LibraryMirror::Report result = mirror.sync(false);
        mirror.waitForMerges();
        return result;
    });
    while (done.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready)
        QCoreApplication::processEvents();
    *report = done.get();
    if (!report->ok)
        std::fprintf(stderr, "sync failed: %s\n", qPrintable(report->error));
    return double(timer.nsecsElapsed()) / 1e6;
}

double median(QList<double> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    GeneratedLibrary library(application.arguments());
    const QString source = library.prepare();
    if (source.isEmpty())
        return 1;
    int edits = 15;
    const QStringList arguments = application.arguments();
    if (const qsizetype at = arguments.indexOf(QStringLiteral("--edits")); at >= 0 && at + 1 < arguments.size())
        edits = arguments[at + 1].toInt();

    test::PostgresTestServer server;
    if (!server.isRunning()) {
        std::fprintf(stderr, "%s\n", qPrintable(server.error()));
        return 1;
    }
    QTemporaryDir work;
    // The generated library is copied, so that it stays as made for the next run.
    const QString hospitalPath = work.filePath(QStringLiteral("hospital"));
    QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-r"), source, hospitalPath});
    std::unique_ptr<CoreDataStack> hospital = openLibraryAt(hospitalPath);
    if (!hospital)
        return 1;
    LibraryMirror hospitalMirror(hospital.get());
    QString error;
    hospitalMirror.open(&error);
    hospitalMirror.setServer(server.connectionString());
    hospitalMirror.setMachineName(QStringLiteral("hospital"));

    LibraryMirror::Report report;
    const double upload = timedSync(hospitalMirror, &report);
    std::printf("  %lld records and links sent\n", report.sent);
    bench::report("first upload", upload, 60000);
    // Another machine downloads later, from a server that has settled after
    // the bulk load: its statistics gathered and its checkpoint written, not
    // working through them on the same two cores while the download is timed.
    {
        PostgresConnection settle;
        QString failure;
        if (!settle.connect(server.connectionString(), QString(), 10, &failure)
            || !settle.exec(QStringLiteral("VACUUM ANALYZE"), {}, nullptr, &failure)
            || !settle.exec(QStringLiteral("CHECKPOINT"), {}, nullptr, &failure))
            std::fprintf(stderr, "the server could not settle: %s\n", qPrintable(failure));
    }

    // The same library through a JSON backup, restored by ovalis-cli.
    const QString backup = work.filePath(QStringLiteral("backup.json"));
    {
        auto reader = hospital->contextForStore(hospital->storePath(), true, false);
        const JSONImporter::ExportResult written = JSONImporter(QUrl::fromLocalFile(backup)).exportDatabaseOnQueue(reader.get());
        if (!written.error.isEmpty())
            std::fprintf(stderr, "backup failed: %s\n", qPrintable(written.error));
    }
    QElapsedTimer timer;
    timer.start();
    QProcess::execute(QStringLiteral(OVALIS_CLI_PATH), {QStringLiteral("--library"), work.filePath(QStringLiteral("restored")),
                                                        QStringLiteral("restore-backup"), backup});
    const double restore = double(timer.nsecsElapsed()) / 1e6;
    std::printf("%-62s %9.1f ms\n", "restore of the JSON backup (ovalis-cli restore-backup)", restore);

    // A first download by ovalis-cli: its time and its memory.
    timer.start();
    const qint64 peak = childPeakMemoryKiB(QStringLiteral(OVALIS_CLI_PATH),
                                           {QStringLiteral("--library"), work.filePath(QStringLiteral("laptop-cli")),
                                            QStringLiteral("sync"), QStringLiteral("--server"), server.connectionString(),
                                            QStringLiteral("--machine"), QStringLiteral("laptop-cli"), QStringLiteral("--no-media")});
    const double cliDownload = double(timer.nsecsElapsed()) / 1e6;
    bench::report("first download into an empty library (ovalis-cli sync)", cliDownload, std::min(60000.0, 2 * restore));
    std::printf("%-62s %9.1f MB   (budget %6.0f MB) %s\n", "peak memory of that download", double(peak) / 1024.0, 700.0,
                peak >= 0 && double(peak) / 1024.0 <= 700 ? "ok" : "OVER");

    // A first download into a running library: the main thread merges it.
    std::unique_ptr<CoreDataStack> laptop = openLibraryAt(work.filePath(QStringLiteral("laptop")));
    if (!laptop)
        return 1;
    LibraryMirror laptopMirror(laptop.get());
    laptopMirror.open(&error);
    laptopMirror.setServer(server.connectionString());
    laptopMirror.setMachineName(QStringLiteral("laptop"));
    LatencyProbe probe;
    probe.start();
    const double download = timedSync(laptopMirror, &report);
    probe.stop();
    std::printf("  %lld records and links received\n", report.received);
    bench::report("first download into an empty running library", download, std::min(60000.0, 2 * restore));
    bench::report("longest main-thread stall during that download", probe.longest(), 100);

    // Nothing to do.
    QList<double> idle;
    for (int i = 0; i < 20; ++i)
        idle << timedSync(laptopMirror, &report);
    bench::report("sync with nothing to do (median of 20)", median(idle), 50);

    // One edit saved at the hospital, seen in the laptop's window: both run
    // the mirror service, which sends after a save and listens for the other.
    MirrorService hospitalService(hospital.get());
    hospitalService.setMachineName(QStringLiteral("hospital"));
    MirrorService laptopService(laptop.get());
    laptopService.setMachineName(QStringLiteral("laptop"));
    hospitalService.start();
    laptopService.start();
    hospitalService.waitUntilIdle(60000);
    laptopService.waitUntilIdle(60000);
    auto *edited = static_cast<Case *>(hospital->mainContext()->arrayOfObjects(Case::entityName(), {}, {}, 1).value(0));
    const QString uuid = edited ? edited->uuid() : QString();
    QList<double> seen;
    for (int i = 0; i < edits && edited; ++i) {
        const QString summary = QStringLiteral("Edited %1").arg(i);
        edited->setSummary(summary);
        timer.start();
        hospital->mainContext()->save();
        Case *there = nullptr;
        while (timer.elapsed() < 20000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            if (!there)
                there = static_cast<Case *>(laptop->mainContext()->object(
                    Case::entityName(), Predicate::fromFormat(QStringLiteral("uuid == %@"), {uuid})));
            if (there && there->summary() == summary)
                break;
        }
        seen << double(timer.nsecsElapsed()) / 1e6;
        QThread::msleep(200);
    }
    bench::report("one edit at the hospital seen on the laptop (median)", median(seen), 2000);
    std::printf("%-62s %9.1f ms\n", "  slowest of those edits", seen.isEmpty() ? 0.0 : *std::max_element(seen.cbegin(), seen.cend()));
    hospitalService.stop();
    laptopService.stop();
    return 0;
}
