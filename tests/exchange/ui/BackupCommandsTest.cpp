#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include "exchange/ui/BackupCommands.h"
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

} // namespace
} // namespace ovalis::test
