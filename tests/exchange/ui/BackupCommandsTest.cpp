#include <QDir>
#include <QFile>
#include <QMainWindow>
#include <QProgressBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <gtest/gtest.h>

#include "exchange/BackupReminder.h"
#include "exchange/LabelledProgressInfo.h"
#include "exchange/ui/BackupCommands.h"
#include "exchange/ui/LabelledProgressView.h"
#include "store/Case.h"
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

    std::unique_ptr<BackupCommands> m_commands;
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
    ASSERT_EQ(m_alerts.size(), 1);
    EXPECT_TRUE(m_alerts.first().startsWith(QStringLiteral("The backup “backup.json” could not be written. | ")));

    m_chosen = m_directory.filePath(QStringLiteral("backup.json"));
    m_commands->exportDatabase();
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
    commands.exportDatabase();
    EXPECT_EQ(shown(), QStringLiteral("Backed up 2 cases to “backup.json”."));

    QSignalSpy finished(&commands, &BackupCommands::restoreFinished);
    commands.importBackup();
    ASSERT_TRUE(finished.wait(60000));
    EXPECT_EQ(shown(), QStringLiteral("Restored 2 cases from “backup.json”."));
    EXPECT_EQ(fetchCases(QString()).size(), 4);

    m_chosen = m_directory.filePath(QStringLiteral("Ovalis Library.tar"));
    commands.backUpLibrary();
    EXPECT_EQ(shown(), QStringLiteral("Backed up 4 cases and 0 media files to “Ovalis Library.tar”."));
    EXPECT_TRUE(m_alerts.isEmpty());

    // A failure is an alert; the status bar claims nothing.
    window.statusBar()->clearMessage();
    m_chosen = m_directory.filePath(QStringLiteral("missing folder/backup.json"));
    commands.exportDatabase();
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
    const auto cancelOnFirstStep = QObject::connect(m_commands.get(), &BackupCommands::libraryJobProgressed, [&] {
        QCoreApplication::processEvents();
        progressShown = progressShown || progressView.isShowingProgress();
        EXPECT_TRUE(m_commands->isRunningLibraryJob());
        m_commands->cancelLibraryJob();
    });
    m_commands->backUpLibrary();
    QObject::disconnect(cancelOnFirstStep);
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
    ASSERT_EQ(m_alerts.size(), 2);
    EXPECT_TRUE(m_alerts.last().startsWith(QStringLiteral("Nothing was restored from “damaged.tar”. | ")));
    EXPECT_EQ(fetchCases(QString()).size(), 2);
    EXPECT_EQ(m_notices.size(), 3);
}

} // namespace
} // namespace ovalis::test
