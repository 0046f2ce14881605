#include <QDir>
#include <QFile>
#include <QMainWindow>
#include <QProgressBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QSemaphore>
#include <QSet>
#include <QTest>
#include <QThread>
#include <atomic>
#include <mutex>
#include <gtest/gtest.h>

#include "exchange/BackupReminder.h"
#include "exchange/JSONImporter.h"
#include "exchange/LabelledProgressInfo.h"
#include "exchange/ui/BackupCommands.h"
#include "exchange/ui/LabelledProgressView.h"
#include "store/Case.h"
#include "store/ManagedObjectContext.h"
#include "store/Media.h"
#include "support/StoreFixture.h"
#include "util/Log.h"

namespace ovalis::test {
namespace {

class BackupCommandsTest : public StoreFixture
{
protected:
    void SetUp() override
    {
        StoreFixture::SetUp();
        m_commands = std::make_unique<BackupCommands>(*m_stack, [] { return nullptr; });
        m_commands->setBackupLocationChooser([this](const QString &proposed) {
            m_proposed = proposed;
            return m_chosen;
        });
        m_commands->setRestoreFileChooser([this] { return m_chosen; });
        m_commands->setAlertPresenter([this](const QString &message, const QString &informative) {
            m_alerts.append(message + QStringLiteral(" | ") + informative);
        });
        m_commands->setLibraryBackupLocationChooser([this](const QString &proposed) {
            m_proposed = proposed;
            return m_chosen;
        });
        m_commands->setLibraryFileChooser([this] { return m_chosen; });
        m_commands->setNoticePresenter([this](const QString &notice) { m_notices.append(notice); });
    }

    void TearDown() override
    {
        m_commands.reset();
        StoreFixture::TearDown();
    }

    // Waits for the running library backup or restore to end.
    void waitForLibraryJob()
    {
        ASSERT_TRUE(QTest::qWaitFor([this] { return !m_commands->isRunningLibraryJob(); }, 60000));
    }

    // Records the threads that run the library jobs' steps; while
    // m_holdWorker is set, each step waits for m_released.
    void observeWorkerSteps()
    {
        m_commands->setWorkerStepObserver([this](qint64, qint64) {
            {
                std::lock_guard lock(m_workersLock);
                m_workers.insert(QThread::currentThread());
            }
            if (m_holdWorker)
                m_released.tryAcquire(1, 60000);
        });
    }

    // Whether steps ran since the last call, none of them on the main thread.
    bool stepsRanOnlyOnWorkers()
    {
        std::lock_guard lock(m_workersLock);
        const bool onlyWorkers = !m_workers.isEmpty() && !m_workers.contains(QCoreApplication::instance()->thread());
        m_workers.clear();
        return onlyWorkers;
    }

    std::unique_ptr<BackupCommands> m_commands;
    std::mutex m_workersLock;
    QSet<QThread *> m_workers;
    std::atomic<bool> m_holdWorker = false;
    QSemaphore m_released;
    QString m_chosen;
    QString m_proposed;
    QStringList m_alerts;
    QStringList m_notices;
};

TEST_F(BackupCommandsTest, BackupAndRestoreGoThroughTheirPanelsAndReportWhatFailed)
{
    EXPECT_EQ(BackupCommands::proposedBackupName(QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7))),
              QStringLiteral("Ovalis-DB-20260304050607.json"));
    newCase(QStringLiteral("ABC1234"));
    context()->saveWithParent(true);

    // Cancelled panels do nothing.
    LogCapture log;
    m_commands->exportDatabase();
    m_commands->importBackup();
    EXPECT_TRUE(m_proposed.startsWith(QStringLiteral("Ovalis-DB-")));
    EXPECT_TRUE(log.contains(QStringLiteral("Export database")));
    EXPECT_TRUE(log.contains(QStringLiteral("Import backup")));
    EXPECT_FALSE(log.containsPrefix(QStringLiteral("Export to ")));
    EXPECT_TRUE(m_alerts.isEmpty());

    m_chosen = m_directory.filePath(QStringLiteral("missing folder/backup.json"));
    m_commands->exportDatabase();
    waitForLibraryJob();
    ASSERT_EQ(m_alerts.size(), 1);
    EXPECT_TRUE(m_alerts.first().startsWith(QStringLiteral("The backup “backup.json” could not be written. | ")));

    m_chosen = m_directory.filePath(QStringLiteral("backup.json"));
    m_commands->exportDatabase();
    waitForLibraryJob();
    EXPECT_EQ(m_alerts.size(), 1);
    QSignalSpy finished(m_commands.get(), &BackupCommands::restoreFinished);
    m_commands->importBackup();
    ASSERT_TRUE(finished.wait(60000));
    EXPECT_EQ(finished.first().first().toInt(), 1);
    EXPECT_EQ(fetchCases(QString()).size(), 2);

    QFile damaged(m_chosen);
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write(R"([{"patient_identifier":"A","tags":""}])");
    damaged.close();
    m_commands->importBackup();
    ASSERT_TRUE(QTest::qWaitFor([this] { return m_alerts.size() == 2; }, 60000));
    EXPECT_EQ(m_alerts.last(), QStringLiteral("Nothing was restored from “backup.json”. | case record 1: the key \"sex\" is missing"));
    EXPECT_EQ(fetchCases(QString()).size(), 2);
}

TEST_F(BackupCommandsTest, EveryBackupAndRestoreSaysInTheWindowsStatusBarWhatItDid)
{
    newCase(QStringLiteral("ABC1"));
    newCase(QStringLiteral("ABC2"));
    context()->saveWithParent(true);
    QMainWindow window;
    auto *content = new QWidget(&window);
    window.setCentralWidget(content);
    window.show();
    BackupCommands commands(*m_stack, [content] { return content; });
    commands.setBackupLocationChooser([this](const QString &) { return m_chosen; });
    commands.setRestoreFileChooser([this] { return m_chosen; });
    commands.setLibraryBackupLocationChooser([this](const QString &) { return m_chosen; });
    commands.setLibraryFileChooser([this] { return m_chosen; });
    commands.setAlertPresenter([this](const QString &message, const QString &) { m_alerts.append(message); });
    const auto shown = [&window] { return window.statusBar()->currentMessage(); };

    m_chosen = m_directory.filePath(QStringLiteral("backup.json"));
    const auto waitForJob = [&commands] { return QTest::qWaitFor([&commands] { return !commands.isRunningLibraryJob(); }, 60000); };
    commands.exportDatabase();
    ASSERT_TRUE(waitForJob());
    EXPECT_EQ(shown(), QStringLiteral("Backed up 2 cases to “backup.json”."));

    QSignalSpy finished(&commands, &BackupCommands::restoreFinished);
    commands.importBackup();
    ASSERT_TRUE(finished.wait(60000));
    EXPECT_EQ(shown(), QStringLiteral("Restored 2 cases from “backup.json”."));
    EXPECT_EQ(fetchCases(QString()).size(), 4);

    m_chosen = m_directory.filePath(QStringLiteral("Ovalis Library.tar"));
    commands.backUpLibrary();
    ASSERT_TRUE(waitForJob());
    EXPECT_EQ(shown(), QStringLiteral("Backed up 4 cases and 0 media files to “Ovalis Library.tar”."));
    EXPECT_TRUE(m_alerts.isEmpty());

    // A failure is an alert; the status bar claims nothing.
    window.statusBar()->clearMessage();
    m_chosen = m_directory.filePath(QStringLiteral("missing folder/backup.json"));
    commands.exportDatabase();
    ASSERT_TRUE(waitForJob());
    EXPECT_EQ(m_alerts, QStringList{QStringLiteral("The backup “backup.json” could not be written.")});
    EXPECT_TRUE(shown().isEmpty());
}

TEST_F(BackupCommandsTest, LibraryBackupAndRestoreShowProgressCanBeCancelledAndSayHowTheyEnded)
{
    EXPECT_EQ(BackupCommands::proposedLibraryBackupName(QDate(2026, 3, 4)), QStringLiteral("Ovalis Library 2026-03-04.tar"));
    Case *item = newCase(QStringLiteral("LIB1"));
    item->addMedia(QByteArray(3 * 1024 * 1024, 'a'), QStringLiteral("scan.jpg"));
    context()->saveWithParent(true);
    LabelledProgressView progressView;
    QSignalSpy running(m_commands.get(), &BackupCommands::libraryJobRunningChanged);
    QSignalSpy backedUp(m_commands.get(), &BackupCommands::libraryBackedUp);

    // A cancelled panel does nothing.
    m_commands->backUpLibrary();
    m_commands->restoreLibrary();
    EXPECT_EQ(m_proposed, BackupCommands::proposedLibraryBackupName(QDate::currentDate()));
    EXPECT_TRUE(running.isEmpty());
    EXPECT_TRUE(m_alerts.isEmpty() && m_notices.isEmpty());

    // While it runs, the window's progress display shows it, and Cancel stops
    // it: no archive is left and the window says so.
    const QString archive = m_directory.filePath(QStringLiteral("Ovalis Library.tar"));
    m_chosen = archive;
    bool progressShown = false;
    QSemaphore cancelled;
    const auto cancelOnFirstStep = QObject::connect(m_commands.get(), &BackupCommands::libraryJobProgressed, [&] {
        QCoreApplication::processEvents();
        progressShown = progressShown || progressView.isShowingProgress();
        EXPECT_TRUE(m_commands->isRunningLibraryJob());
        m_commands->cancelLibraryJob();
        cancelled.release();
    });
    // The worker waits at its first step until the window has cancelled.
    m_commands->setWorkerStepObserver([&](qint64, qint64) { cancelled.tryAcquire(1, 60000); });
    m_commands->backUpLibrary();
    waitForLibraryJob();
    QObject::disconnect(cancelOnFirstStep);
    m_commands->setWorkerStepObserver({});
    EXPECT_TRUE(progressShown);
    EXPECT_FALSE(QFile::exists(archive));
    EXPECT_EQ(m_notices, QStringList{QStringLiteral("The library backup was cancelled.")});
    EXPECT_TRUE(m_alerts.isEmpty());
    EXPECT_TRUE(backedUp.isEmpty());
    EXPECT_FALSE(BackupReminder::lastBackup().isValid());
    ASSERT_EQ(running.size(), 2);
    EXPECT_FALSE(running.last().first().toBool());
    EXPECT_FALSE(m_commands->isRunningLibraryJob());

    // Completed: a short message names what was done, and the progress ends.
    m_commands->backUpLibrary();
    waitForLibraryJob();
    EXPECT_TRUE(QFile::exists(archive));
    ASSERT_EQ(m_notices.size(), 2);
    EXPECT_EQ(m_notices.last(), QStringLiteral("Backed up 1 case and 1 media file to “Ovalis Library.tar”."));
    ASSERT_EQ(backedUp.size(), 1);
    EXPECT_EQ(backedUp.first().first().toString(), archive);
    EXPECT_EQ(BackupReminder::lastBackup(), backedUp.first().last().toDateTime().date());
    QCoreApplication::processEvents();
    EXPECT_FALSE(progressView.isShowingProgress());

    // A restore adds the cases with their media.
    m_commands->restoreLibrary();
    waitForLibraryJob();
    EXPECT_TRUE(m_alerts.isEmpty()) << m_alerts.join(QLatin1Char('\n')).toStdString();
    ASSERT_EQ(m_notices.size(), 3);
    EXPECT_EQ(m_notices.last(), QStringLiteral("Restored 1 case and 0 media files from “Ovalis Library.tar”."));
    const QList<Case *> cases = fetchCases(QStringLiteral("patientID == %@"), {QStringLiteral("LIB1")});
    ASSERT_EQ(cases.size(), 2);
    for (const Case *restored : cases) {
        ASSERT_EQ(restored->sortedMedia().size(), 1);
        EXPECT_TRUE(restored->sortedMedia().first()->fileExists());
    }

    // Failures are alerts naming the file and the reason, and change nothing.
    m_chosen = m_directory.filePath(QStringLiteral("missing folder/library.tar"));
    m_commands->backUpLibrary();
    waitForLibraryJob();
    ASSERT_EQ(m_alerts.size(), 1);
    EXPECT_TRUE(m_alerts.last().startsWith(QStringLiteral("The library backup “library.tar” could not be written. | ")));
    EXPECT_EQ(BackupReminder::lastBackup(), backedUp.first().last().toDateTime().date());
    EXPECT_GT(m_alerts.last().size(), m_alerts.last().indexOf(QLatin1Char('|')) + 2);

    m_chosen = m_directory.filePath(QStringLiteral("damaged.tar"));
    QFile damaged(m_chosen);
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write(QByteArray(4096, 'x'));
    damaged.close();
    m_commands->restoreLibrary();
    waitForLibraryJob();
    ASSERT_EQ(m_alerts.size(), 2);
    EXPECT_TRUE(m_alerts.last().startsWith(QStringLiteral("Nothing was restored from “damaged.tar”. | ")));
    EXPECT_EQ(fetchCases(QString()).size(), 2);
    EXPECT_EQ(m_notices.size(), 3);
}

TEST_F(BackupCommandsTest, TheArchiveBytesAreHandledOnAWorkerWhileTheMainThreadKeepsTurning)
{
    Case *item = newCase(QStringLiteral("WORK1"));
    item->addMedia(QByteArray(6 * 1024 * 1024 + 5, 'w'), QStringLiteral("scan.jpg"));
    context()->saveWithParent(true);
    observeWorkerSteps();
    QSignalSpy progressed(m_commands.get(), &BackupCommands::libraryJobProgressed);
    const QString folder = m_directory.filePath(QStringLiteral("out"));
    ASSERT_TRUE(QDir().mkpath(folder));
    m_chosen = folder + QStringLiteral("/library.tar");

    // The command returns while the worker writes; its progress arrives
    // only through the main thread's event loop.
    m_commands->backUpLibrary();
    EXPECT_TRUE(m_commands->isRunningLibraryJob());
    EXPECT_TRUE(progressed.isEmpty());
    waitForLibraryJob();
    ASSERT_TRUE(m_alerts.isEmpty()) << m_alerts.join(QLatin1Char('\n')).toStdString();
    ASSERT_FALSE(progressed.isEmpty());
    EXPECT_EQ(progressed.last().at(0).toLongLong(), progressed.last().at(1).toLongLong());
    EXPECT_GT(progressed.last().at(0).toLongLong(), 6 * 1024 * 1024);
    EXPECT_TRUE(stepsRanOnlyOnWorkers());
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("library.tar")});

    // The same for a restore, up to the cases being added on the main thread.
    progressed.clear();
    m_commands->restoreLibrary();
    EXPECT_TRUE(m_commands->isRunningLibraryJob());
    EXPECT_TRUE(progressed.isEmpty());
    waitForLibraryJob();
    ASSERT_TRUE(m_alerts.isEmpty()) << m_alerts.join(QLatin1Char('\n')).toStdString();
    EXPECT_FALSE(progressed.isEmpty());
    EXPECT_EQ(fetchCases(QStringLiteral("patientID == %@"), {QStringLiteral("WORK1")}).size(), 2);
    EXPECT_TRUE(stepsRanOnlyOnWorkers());

    // A cancel while the worker runs leaves nothing in the folder, not even
    // a hidden partial file, and no new cases after a restore.
    m_holdWorker = true;
    const auto cancelWhileRunning = [&](void (BackupCommands::*command)()) {
        (m_commands.get()->*command)();
        m_commands->cancelLibraryJob();
        m_released.release();
        waitForLibraryJob();
    };
    cancelWhileRunning(&BackupCommands::backUpLibrary);
    EXPECT_EQ(m_notices.last(), QStringLiteral("The library backup was cancelled."));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("library.tar")});
    cancelWhileRunning(&BackupCommands::restoreLibrary);
    EXPECT_EQ(m_notices.last(), QStringLiteral("The library restore was cancelled; nothing was changed."));
    EXPECT_EQ(fetchCases(QStringLiteral("patientID == %@"), {QStringLiteral("WORK1")}).size(), 2);
    EXPECT_TRUE(QDir(m_stack->libraryDirectory()).entryList({QStringLiteral(".restore-*")}, QDir::AllEntries | QDir::Hidden).isEmpty());
    QFile::remove(m_chosen);
    cancelWhileRunning(&BackupCommands::backUpLibrary);
    EXPECT_TRUE(QDir(folder).entryList(QDir::Files | QDir::Hidden).isEmpty());

    // A cancel that comes once the archive is in place does not disown it.
    m_holdWorker = false;
    m_commands->backUpLibrary();
    for (int waited = 0; !QFile::exists(m_chosen) && waited < 60000; ++waited)
        QThread::msleep(1); // no events: the worker's end waits in the queue
    ASSERT_TRUE(QFile::exists(m_chosen));
    m_commands->cancelLibraryJob();
    waitForLibraryJob();
    EXPECT_TRUE(m_notices.last().startsWith(QStringLiteral("Backed up 2 cases and "))) << m_notices.last().toStdString();
    EXPECT_TRUE(m_notices.last().endsWith(QStringLiteral(" to “library.tar”."))) << m_notices.last().toStdString();
    EXPECT_TRUE(m_alerts.isEmpty()) << m_alerts.join(QLatin1Char('\n')).toStdString();
}

TEST_F(BackupCommandsTest, TheRecordsBackupIsReadOnAWorkerWithTheUnsavedEditsAndTheSameBytes)
{
    for (int i = 0; i < 2500; ++i)
        newCase(QStringLiteral("SAVED%1").arg(i), QStringLiteral("summary %1").arg(i % 7));
    context()->saveWithParent(true);
    // Typed but not yet saved: the backup holds them all the same.
    newCase(QStringLiteral("UNSAVED"))->setSummary(QStringLiteral("typed just now"));
    fetchCases(QStringLiteral("patientID == %@"), {QStringLiteral("SAVED3")}).first()->setDetail(QStringLiteral("edited"));
    const QString before = m_directory.filePath(QStringLiteral("main context.json"));
    ASSERT_TRUE(JSONImporter(QUrl::fromLocalFile(before)).exportDatabase(context()).error.isEmpty());

    observeWorkerSteps();
    QSignalSpy progressed(m_commands.get(), &BackupCommands::libraryJobProgressed);
    m_chosen = m_directory.filePath(QStringLiteral("backup.json"));
    m_commands->exportDatabase();
    EXPECT_TRUE(m_commands->isRunningLibraryJob());
    EXPECT_TRUE(progressed.isEmpty());
    waitForLibraryJob();
    ASSERT_TRUE(m_alerts.isEmpty()) << m_alerts.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(m_notices.last(), QStringLiteral("Backed up 2,501 cases to “backup.json”."));
    EXPECT_FALSE(context()->hasChanges());
    ASSERT_FALSE(progressed.isEmpty());
    EXPECT_EQ(progressed.last().at(0).toLongLong(), 2501);
    EXPECT_EQ(progressed.last().at(1).toLongLong(), 2501);
    EXPECT_TRUE(stepsRanOnlyOnWorkers());
    QFile written(m_chosen);
    QFile expected(before);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly) && expected.open(QIODevice::ReadOnly));
    const QByteArray bytes = written.readAll();
    EXPECT_TRUE(bytes == expected.readAll());
    written.close();

    // A cancel while the worker reads leaves the earlier backup as it was.
    m_holdWorker = true;
    newCase(QStringLiteral("LATER"));
    m_commands->exportDatabase();
    m_commands->cancelLibraryJob();
    m_released.release();
    waitForLibraryJob();
    EXPECT_EQ(m_notices.last(), QStringLiteral("The backup was cancelled."));
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_TRUE(written.readAll() == bytes);
    EXPECT_EQ(QDir(m_directory.path()).entryList({QStringLiteral("backup.json*")}, QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("backup.json")});

    // Closing the window while the worker reads is safe.
    m_holdWorker = false;
    m_commands->exportDatabase();
    m_commands.reset();
}

} // namespace
} // namespace ovalis::test
