#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <signal.h>
#include <sqlite3.h>

#include "CliProcess.h"
#include "support/BackupCases.h"
#include "support/PostgresTestServer.h"

using namespace ovalis::test;

namespace {

// The backup of the library under home, its cases sorted (tags are a set).
QStringList exported(const QString &home)
{
    const QString path = home + QStringLiteral("/export.json");
    const CliResult result = runCli({QStringLiteral("export-backup"), path}, home);
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    return sortedBackupCases(path);
}

// Two homes, each with its own library, and a server of the test's own.
class CliSyncTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(server.isRunning()) << server.error().toStdString(); }

    PostgresTestServer server;
    const QString conninfo = server.connectionString();
    QTemporaryDir hospital;
    QTemporaryDir laptop;
};

} // namespace

// Two headless machines, each its own home and library, kept the same by
// ovalis-cli sync: a first upload and download, changes on both sides, and
// a machine watching the server takes in the other's changes by itself.
TEST_F(CliSyncTest, TwoLibrariesStayTheSameThroughOnceAndWatch)
{
    ASSERT_EQ(runCli({QStringLiteral("generate"), QStringLiteral("--cases"), QStringLiteral("40"), QStringLiteral("--tags"),
                      QStringLiteral("8")},
                     hospital.path())
                  .exitCode,
              0);

    const CliResult first = runCli({QStringLiteral("sync"), QStringLiteral("--machine"), QStringLiteral("hospital")}, hospital.path());
    EXPECT_EQ(first.exitCode, 1) << "a library without a server is told to give one";
    const CliResult waiting = runCli({QStringLiteral("sync-status"), QStringLiteral("--server"), conninfo}, hospital.path());
    EXPECT_EQ(waiting.exitCode, 0) << waiting.err.toStdString();
    EXPECT_TRUE(waiting.out.contains(QStringLiteral("Waiting to be sent: ")) && !waiting.out.contains(QStringLiteral("sent: 0 ")))
        << waiting.out.toStdString();

    const CliResult up = runCli({QStringLiteral("sync"), QStringLiteral("--server"), conninfo, QStringLiteral("--machine"),
                                 QStringLiteral("hospital")},
                                hospital.path());
    ASSERT_EQ(up.exitCode, 0) << up.err.toStdString();
    const CliResult down = runCli({QStringLiteral("sync"), QStringLiteral("--server"), conninfo, QStringLiteral("--machine"),
                                   QStringLiteral("laptop"), QStringLiteral("--once")},
                                  laptop.path());
    ASSERT_EQ(down.exitCode, 0) << down.err.toStdString();
    EXPECT_EQ(exported(laptop.path()).join(QLatin1Char('\n')).toStdString(), exported(hospital.path()).join(QLatin1Char('\n')).toStdString());
    EXPECT_EQ(exported(laptop.path()).size(), 40);

    // The laptop adds cases of its own from a backup; the server remembers itself.
    const QString extra = laptop.filePath(QStringLiteral("extra.json"));
    ASSERT_EQ(runCli({QStringLiteral("export-backup"), extra}, hospital.path()).exitCode, 0);
    ASSERT_EQ(runCli({QStringLiteral("restore-backup"), extra}, laptop.path()).exitCode, 0);
    const CliResult status = runCli({QStringLiteral("sync-status")}, laptop.path());
    EXPECT_TRUE(status.out.contains(QStringLiteral("On the server and not here: 0 changes"))) << status.out.toStdString();

    // The hospital watches; the laptop's sync reaches it without another command
    // there, though both go by this host's name now.
    QProcess watcher;
    startCli(watcher, {QStringLiteral("sync"), QStringLiteral("--watch")}, hospital.path());
    ASSERT_TRUE(watcher.waitForStarted());
    ASSERT_TRUE(QTest::qWaitFor([&] { return watcher.readAllStandardOutput().contains("Watching"); }, 20000));
    const CliResult sent = runCli({QStringLiteral("sync")}, laptop.path());
    ASSERT_EQ(sent.exitCode, 0) << sent.err.toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return exported(hospital.path()).size() == 80; }, 20000));
    watcher.terminate();
    EXPECT_TRUE(watcher.waitForFinished(20000));
    EXPECT_EQ(watcher.exitCode(), 0) << watcher.readAllStandardError().toStdString();
    EXPECT_EQ(exported(hospital.path()).join(QLatin1Char('\n')).toStdString(), exported(laptop.path()).join(QLatin1Char('\n')).toStdString());
}

// ovalis-cli sync killed in the middle of a first download: the library
// keeps what was saved, and the next sync goes on to the same library as the
// other machine's, each case once.
TEST_F(CliSyncTest, ASyncKilledHalfWayEndsTheSameOnceRunAgain)
{
    ASSERT_EQ(runCli({QStringLiteral("generate"), QStringLiteral("--cases"), QStringLiteral("5000")}, hospital.path()).exitCode, 0);
    ASSERT_EQ(runCli({QStringLiteral("sync"), QStringLiteral("--server"), conninfo}, hospital.path()).exitCode, 0);

    QProcess download;
    startCli(download, {QStringLiteral("sync"), QStringLiteral("--server"), conninfo}, laptop.path());
    ASSERT_TRUE(download.waitForStarted());
    // Killed once the first page taken in is recorded in the mirror's state.
    const QByteArray state = (laptop.path() + QStringLiteral("/Ovalis/Mirror.sqlite")).toUtf8();
    auto pagesTaken = [&] {
        sqlite3 *db = nullptr;
        qint64 seen = 0;
        if (sqlite3_open_v2(state.constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
            sqlite3_stmt *select = nullptr;
            if (sqlite3_prepare_v2(db, "SELECT value FROM settings WHERE key = 'pulledSeq'", -1, &select, nullptr) == SQLITE_OK
                && sqlite3_step(select) == SQLITE_ROW)
                seen = sqlite3_column_int64(select, 0);
            sqlite3_finalize(select);
        }
        sqlite3_close(db);
        return seen > 0;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return pagesTaken() || download.state() == QProcess::NotRunning; }, 60000));
    ASSERT_EQ(download.state(), QProcess::Running) << "the download ended before it could be killed";
    ::kill(pid_t(download.processId()), SIGKILL);
    ASSERT_TRUE(download.waitForFinished(10000));

    const CliResult again = runCli({QStringLiteral("sync")}, laptop.path());
    ASSERT_EQ(again.exitCode, 0) << again.err.toStdString();
    const QStringList cases = exported(laptop.path());
    EXPECT_EQ(cases.size(), 5000);
    EXPECT_EQ(cases.join(QLatin1Char('\n')).toStdString(), exported(hospital.path()).join(QLatin1Char('\n')).toStdString());
}
