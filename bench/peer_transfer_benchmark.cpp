// Fetching missing media from a peer on 127.0.0.1: this process fetches
// N files of 1 MB from an `ovalis-cli serve-peer` child process, and the same
// bytes are copied once more with plain TLS (openssl s_server -WWW to
// openssl s_client) for comparison. Prints both throughputs and the memory
// each side of the fetch used above its idle state, and how long the
// requesting main thread stalled (a 4 ms latency probe) during the fetch.
//
// Usage: peer_transfer_benchmark [count]   (default 2000)

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <unistd.h>

#include "BenchmarkReport.h"
#include "LatencyProbe.h"
#include "store/Case.h"
#include "store/CoreDataStack.h"
#include "store/ManagedObjectContext.h"
#include "store/Media.h"
#include "store/MediaFileStore.h"
#include "transfer/OvalisMediaTransferViewModel.h"
#include "util/Log.h"
#include "util/Settings.h"

using namespace ovalis;

namespace {

constexpr qint64 fileSize = 1024 * 1024;

qint64 memoryKiB(qint64 pid, const char *field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').first().toLongLong();
    return -1;
}

// User and system CPU time of a process so far, in seconds.
double processCpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    // The fields after the command's closing parenthesis; utime and stime are the 12th and 13th.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 12 ? double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK)) : -1;
}

// From here on VmHWM reports the peak since now.
void resetPeak(qint64 pid)
{
    QFile clear(QStringLiteral("/proc/%1/clear_refs").arg(pid));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

quint16 freePort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

// Runs the event loop until the condition holds. Unlike QTest::qWaitFor it
// never sleeps between turns, which would hold up every request and reply.
bool waitFor(const std::function<bool()> &condition, int seconds)
{
    if (condition())
        return true;
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition())
            loop.quit();
    });
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    poll.start(20);
    loop.exec();
    return condition();
}

[[noreturn]] void die(const char *message)
{
    std::fprintf(stderr, "peer_transfer_benchmark: %s\n", message);
    std::exit(1);
}

void report(const char *name, double value, const char *unit, const char *budget)
{
    std::printf("%-52s %10.1f %s   %s\n", name, value, unit, budget);
    std::fflush(stdout);
}

// The plain TLS copy of `bytes` bytes: seconds, or a negative number.
double plainTlsCopySeconds(const QString &directory, qint64 bytes, const QByteArray &content)
{
    QFile blob(directory + QStringLiteral("/blob"));
    if (!blob.open(QIODevice::WriteOnly))
        return -1;
    for (qint64 written = 0; written < bytes; written += content.size())
        blob.write(content);
    blob.close();
    QProcess make;
    make.setWorkingDirectory(directory);
    make.start(QStringLiteral("openssl"), {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                                           QStringLiteral("ec"), QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:P-256"),
                                           QStringLiteral("-nodes"), QStringLiteral("-keyout"), QStringLiteral("key.pem"),
                                           QStringLiteral("-out"), QStringLiteral("cert.pem"), QStringLiteral("-days"),
                                           QStringLiteral("1"), QStringLiteral("-subj"), QStringLiteral("/CN=bench")});
    if (!make.waitForFinished(30000) || make.exitCode() != 0)
        return -1;
    const quint16 port = freePort();
    QProcess server;
    server.setWorkingDirectory(directory);
    server.start(QStringLiteral("openssl"), {QStringLiteral("s_server"), QStringLiteral("-accept"), QString::number(port),
                                             QStringLiteral("-cert"), QStringLiteral("cert.pem"), QStringLiteral("-key"),
                                             QStringLiteral("key.pem"), QStringLiteral("-tls1_3"), QStringLiteral("-WWW"),
                                             QStringLiteral("-quiet")});
    if (!server.waitForStarted())
        return -1;
    waitFor([] { return false; }, 1); // s_server prints nothing to wait for once it listens
    QProcess client;
    client.setStandardOutputFile(directory + QStringLiteral("/copy"));
    QElapsedTimer timer;
    timer.start();
    client.start(QStringLiteral("openssl"), {QStringLiteral("s_client"), QStringLiteral("-connect"),
                                             QStringLiteral("127.0.0.1:%1").arg(port), QStringLiteral("-tls1_3"),
                                             QStringLiteral("-quiet"), QStringLiteral("-ign_eof")});
    client.write("GET /blob HTTP/1.0\r\n\r\n");
    client.closeWriteChannel();
    client.waitForFinished(-1);
    const double seconds = timer.elapsed() / 1000.0;
    server.kill();
    server.waitForFinished();
    const qint64 copied = QFileInfo(directory + QStringLiteral("/copy")).size();
    QFile::remove(directory + QStringLiteral("/copy"));
    QFile::remove(directory + QStringLiteral("/blob"));
    return copied >= bytes ? seconds : -1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    Log::install();
    if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
        QLoggingCategory::setFilterRules(QStringLiteral("*.info=false\n*.debug=false\n"));
    const int count = argc > 1 ? QByteArray(argv[1]).toInt() : 2000;
    if (count <= 0)
        die("the count must be a positive number");
    QTemporaryDir directory;
    Settings::setSharedForTesting(std::make_unique<QSettings>(directory.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat));
    Settings::registerApplicationDefaults();

    // The source library holds the files; this one has their records only.
    QByteArray content(fileSize, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(content.data()), fileSize / 4);
    const QString sourcePath = directory.filePath(QStringLiteral("Source"));
    QStringList uuids;
    {
        CoreDataStack source(sourcePath);
        QString error;
        if (!source.loadPersistentStores(&error))
            die("cannot make the source library");
        Case *item = source.mainContext()->insertNew<Case>();
        item->setPatientID(QStringLiteral("BEN0001"));
        for (int i = 0; i < count; ++i) {
            QByteArray bytes = content;
            memcpy(bytes.data(), &i, sizeof i);
            uuids.append(item->addMedia(bytes, QStringLiteral("file.bin"))->uuid());
        }
        source.mainContext()->saveWithParent(true);
    }
    CoreDataStack stack(directory.filePath(QStringLiteral("This")));
    QString error;
    if (!stack.loadPersistentStores(&error))
        die("cannot make this library");
    Case *item = stack.mainContext()->insertNew<Case>();
    item->setPatientID(QStringLiteral("BEN0001"));
    for (const QString &uuid : std::as_const(uuids)) {
        auto *media = stack.mainContext()->insertNew<Media>();
        media->setUuid(uuid);
        media->setFileName(QStringLiteral("file.bin"));
        media->setItsCase(item);
    }
    stack.mainContext()->saveWithParent(true);

    const quint16 port = freePort();
    QProcess responder;
    responder.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    responder.start(QStringLiteral(OVALIS_CLI_PATH), {QStringLiteral("--library"), sourcePath, QStringLiteral("serve-peer"),
                                                      QStringLiteral("--port"), QString::number(port),
                                                      QStringLiteral("--accept-from-any")});
    if (!waitFor([&responder] { return responder.canReadLine() || responder.state() == QProcess::NotRunning; }, 30)
        || !responder.readLine().startsWith("Serving"))
        die("the responder did not start");

    auto manager = std::make_unique<MultiPeerManager>(QStringLiteral("Benchmark"), QStringLiteral("ovalis-peer"));
    manager->setDiscovery(nullptr);
    auto model = OvalisMediaTransferViewModel::forLibrary(stack, std::move(manager));
    model->start();
    if (!waitFor([&] { return model->statusString() == QStringLiteral("Missing %1 media items").arg(count); }, 120))
        die("this library's missing media were not counted");
    model->connectToAddress(QStringLiteral("127.0.0.1"), port);
    if (!waitFor([&] { return model->connectionStatus() == ConnectionStatus::connected; }, 30))
        die("no connection to the responder");

    const qint64 responderPid = responder.processId();
    const qint64 idleSelf = memoryKiB(QCoreApplication::applicationPid(), "VmRSS:");
    const qint64 idleResponder = memoryKiB(responderPid, "VmRSS:");
    resetPeak(QCoreApplication::applicationPid());
    resetPeak(responderPid);
    QElapsedTimer timer;
    timer.start();
    const double cpuBefore = bench::threadCpuMilliseconds();
    const double responderCpuBefore = processCpuSeconds(responderPid);
    // How long this (the requesting) main thread stays away from its event loop.
    bench::LatencyProbe probe;
    probe.start();
    model->transfer();
    if (!waitFor([&] { return model->statusString() == QStringLiteral("Finished transferring"); }, 3600))
        die("the transfer did not finish");
    probe.stop();
    const double seconds = timer.elapsed() / 1000.0;
    const double cpu = bench::threadCpuMilliseconds() - cpuBefore;
    const double responderCpu = processCpuSeconds(responderPid) - responderCpuBefore;
    const qint64 peakSelf = memoryKiB(QCoreApplication::applicationPid(), "VmHWM:");
    const qint64 peakResponder = memoryKiB(responderPid, "VmHWM:");
    model->disconnectRemote();
    responder.kill();
    responder.waitForFinished();

    int identical = 0;
    const QUrl media = MediaFileStore::mediaDirectoryURL(stack);
    for (int i = 0; i < count; ++i) {
        QFile file(MediaFileStore::mediaFileURL(media, uuids[i], QStringLiteral("bin")).toLocalFile());
        QByteArray expected = content;
        memcpy(expected.data(), &i, sizeof i);
        identical += file.open(QIODevice::ReadOnly) && file.readAll() == expected;
    }

    const double megabytes = double(count) * double(fileSize) / (1024.0 * 1024.0);
    const double plain = plainTlsCopySeconds(directory.path(), qint64(count) * fileSize, content);
    std::printf("%d files of 1 MB over TLS 1.3 on 127.0.0.1; %d arrived byte-identical\n", count, identical);
    report("peer fetch: wall time", seconds, "s  ", "");
    report("peer fetch: requester main-thread CPU time", cpu / 1000.0, "s  ", "");
    report("peer fetch: responder CPU time", responderCpu, "s  ", "");
    report("peer fetch: requester main-thread stall, longest", probe.longest(), "ms ",
           probe.longest() <= 50 ? "(budget 50 ms) ok" : "(budget 50 ms) OVER");
    report("peer fetch: requester main-thread stall, 99th percentile", probe.percentile(99), "ms ",
           probe.percentile(99) <= 20 ? "(budget 20 ms) ok" : "(budget 20 ms) OVER");
    report("peer fetch: throughput", megabytes / seconds, "MB/s", "");
    if (plain > 0) {
        report("plain TLS copy (openssl s_server -> s_client): throughput", megabytes / plain, "MB/s", "");
        report("peer fetch / plain TLS copy", 100.0 * plain / seconds, "%   ", plain / seconds >= 0.5 ? "(budget >= 50 %) ok" : "(budget >= 50 %) OVER");
    } else {
        std::printf("plain TLS copy could not be measured (is openssl installed?)\n");
    }
    report("requester memory above idle", double(peakSelf - idleSelf) / 1024.0, "MB  ",
           peakSelf - idleSelf <= 50 * 1024 ? "(budget 50 MB) ok" : "(budget 50 MB) OVER");
    report("responder memory above idle", double(peakResponder - idleResponder) / 1024.0, "MB  ",
           peakResponder - idleResponder <= 50 * 1024 ? "(budget 50 MB) ok" : "(budget 50 MB) OVER");
    Settings::setSharedForTesting(nullptr);
    return identical == count ? 0 : 1;
}
