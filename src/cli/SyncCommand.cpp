#include "cli/SyncCommand.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <unistd.h>

#include "cli/CommandArguments.h"
#include "cli/ExchangeCommandSupport.h"
#include "store/CoreDataStack.h"
#include "transfer/LibraryMirror.h"
#include "transfer/MirrorService.h"
#include "util/TerminationSignalNotifier.h"

namespace ovalis {

using namespace ExchangeCommandSupport;

namespace {

const QString serverHelp = QStringLiteral(
    "The server as a libpq connection string or URI, e.g. postgresql://user@host/db?sslmode=verify-full.\n"
    "It is remembered for the library. Passwords come from ~/.pgpass or PGPASSWORD.");

QString summary(const LibraryMirror::Report &report)
{
    QString text = QStringLiteral("Sent %1, received %2").arg(report.sent).arg(report.received);
    if (report.filesSent || report.filesReceived)
        text += QStringLiteral("; files sent %1, received %2").arg(report.filesSent).arg(report.filesReceived);
    if (report.conflicts)
        text += QStringLiteral("; %1 conflicts settled (see --verbose)").arg(report.conflicts);
    return text;
}

// Opens the mirror's state and sets the server and machine the options
// give; 0, or the exit code after saying why it cannot go on (no server set).
int openMirror(LibraryMirror &mirror, const QCommandLineParser &parser, const QCommandLineOption &serverOption,
               const QCommandLineOption &machineOption)
{
    QString error;
    if (!mirror.open(&error))
        return fail(error, 3);
    if (parser.isSet(serverOption))
        mirror.setServer(parser.value(serverOption).trimmed());
    if (parser.isSet(machineOption))
        mirror.setMachineName(parser.value(machineOption));
    if (mirror.server().isEmpty())
        return fail(QStringLiteral("no server is set for this library: give one with --server"), 1);
    return 0;
}

} // namespace

int runSync(const QString &library, const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Sends what changed in the library since the last sync to its mirror on a PostgreSQL server and takes\n"
        "in what other machines sent. The first sync sends the whole library and takes in the server's;\n"
        "stopped, it goes on where it stopped the next time. Media files follow the library's setting\n"
        "(kept on the server unless turned off) unless --media or --no-media says otherwise."));
    const QCommandLineOption serverOption(QStringLiteral("server"), serverHelp, QStringLiteral("CONNINFO"));
    const QCommandLineOption onceOption(QStringLiteral("once"), QStringLiteral("Sync once and exit (the default)."));
    const QCommandLineOption watchOption(QStringLiteral("watch"),
                                         QStringLiteral("Keep syncing: after each save here and each change another machine sends, until interrupted."));
    const QCommandLineOption mediaOption(QStringLiteral("media"), QStringLiteral("Also send and fetch media files."));
    const QCommandLineOption noMediaOption(QStringLiteral("no-media"), QStringLiteral("Leave media files out."));
    const QCommandLineOption machineOption(QStringLiteral("machine"),
                                           QStringLiteral("This machine's name in conflict reports (default: the host name)."),
                                           QStringLiteral("NAME"));
    parser.addHelpOption();
    parser.addOptions({serverOption, onceOption, watchOption, mediaOption, noMediaOption, machineOption});
    CommandArguments::parse(parser, QStringLiteral("sync"), arguments);
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("sync takes no arguments"), 1);
    if (parser.isSet(onceOption) && parser.isSet(watchOption))
        return fail(QStringLiteral("give --once or --watch, not both"), 1);
    if (parser.isSet(mediaOption) && parser.isSet(noMediaOption))
        return fail(QStringLiteral("give --media or --no-media, not both"), 1);
    std::unique_ptr<CoreDataStack> stack = openLibrary(library);
    if (!stack)
        return 2;
    std::optional<bool> media;
    if (parser.isSet(mediaOption))
        media = true;
    else if (parser.isSet(noMediaOption))
        media = false;

    if (!parser.isSet(watchOption)) {
        LibraryMirror mirror(stack.get());
        mirror.setMergesIntoMainContext(false);
        if (const int code = openMirror(mirror, parser, serverOption, machineOption))
            return code;
        const bool terminal = isatty(STDERR_FILENO);
        const LibraryMirror::Report report = mirror.sync(media.value_or(mirror.keepsMediaOnServer()),
                                                         [terminal](const LibraryMirror::Progress &progress) {
                                                             if (terminal)
                                                                 err() << '\r' << progress.phase << ' ' << progress.done
                                                                       << " of " << progress.total << "\x1b[K" << Qt::flush;
                                                         });
        if (terminal)
            err() << "\r\x1b[K" << Qt::flush;
        if (!report.ok)
            return fail(QStringLiteral("sync failed: ") + report.error, 3);
        out() << summary(report) << Qt::endl;
        return 0;
    }

    MirrorService service(stack.get());
    {
        LibraryMirror mirror(stack.get());
        if (const int code = openMirror(mirror, parser, serverOption, machineOption))
            return code;
        service.setMachineName(mirror.machineName());
    }
    service.setMediaOverride(media);
    QObject::connect(&service, &MirrorService::syncFinished, &service, [](const LibraryMirror::Report &report, bool) {
        const QString time = QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss"));
        if (report.ok) {
            if (report.sent || report.received || report.filesSent || report.filesReceived)
                out() << time << ' ' << summary(report) << Qt::endl;
        } else {
            err() << time << " sync failed: " << report.error << Qt::endl;
        }
    });
    TerminationSignalNotifier termination;
    QObject::connect(&termination, &TerminationSignalNotifier::terminationRequested, &service, [] { QCoreApplication::exit(0); });
    out() << "Watching; interrupt to stop." << Qt::endl;
    service.start();
    const int code = QCoreApplication::exec();
    service.stop();
    return code;
}

int runSyncStatus(const QString &library, const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Prints what waits to be sent to the library's mirror and what the server has that is not here."));
    const QCommandLineOption serverOption(QStringLiteral("server"), serverHelp, QStringLiteral("CONNINFO"));
    const QCommandLineOption machineOption(QStringLiteral("machine"), QStringLiteral("This machine's name."), QStringLiteral("NAME"));
    parser.addHelpOption();
    parser.addOptions({serverOption, machineOption});
    CommandArguments::parse(parser, QStringLiteral("sync-status"), arguments);
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("sync-status takes no arguments"), 1);
    std::unique_ptr<CoreDataStack> stack = openLibrary(library);
    if (!stack)
        return 2;
    LibraryMirror mirror(stack.get());
    if (const int code = openMirror(mirror, parser, serverOption, machineOption))
        return code;
    QString error;
    out() << "Server: " << mirror.server() << Qt::endl;
    const QString last = mirror.state().value(QStringLiteral("lastSync"));
    out() << "Last sync: " << (last.isEmpty() ? QStringLiteral("never") : last + QStringLiteral(" (") + mirror.state().value(QStringLiteral("lastResult")) + QLatin1Char(')'))
          << Qt::endl;
    LibraryMirror::Status status;
    const bool reached = mirror.status(&status, &error);
    out() << "Waiting to be sent: " << status.waitingToSend << " records" << Qt::endl;
    if (!reached)
        return fail(error, 3);
    out() << "On the server and not here: " << status.serverAhead << " changes, " << status.missingFiles << " media files"
          << Qt::endl;
    return 0;
}

} // namespace ovalis
