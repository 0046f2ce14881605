#include <QSettings>
#include <QTemporaryDir>
#include <QWidget>
#include <gtest/gtest.h>

#include "exchange/BackupReminder.h"
#include "exchange/ui/BackupReminderView.h"
#include "util/Settings.h"

namespace ovalis::test {
namespace {

class BackupReminderViewTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_directory.isValid());
        Settings::setSharedForTesting(
            std::make_unique<QSettings>(m_directory.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat));
    }
    void TearDown() override { Settings::setSharedForTesting(nullptr); }

    QTemporaryDir m_directory;
    QDate m_today = QDate(2026, 3, 10);
};

TEST_F(BackupReminderViewTest, ShowsQuietlyOnlyWhenTurnedOnAndTheLastBackupIsOldEnough)
{
    QWidget window;
    auto &view = *new BackupReminderView(&window);
    view.setToday([this] { return m_today; });
    window.show();

    // Off by default, even with no backup at all.
    EXPECT_EQ(BackupReminder::intervalDays(), 0);
    EXPECT_FALSE(view.isVisible());

    // Turned on with no backup known: due at once.
    BackupReminder::setIntervalDays(7);
    EXPECT_TRUE(view.isVisible());
    EXPECT_EQ(view.text(), QStringLiteral("No whole-library backup yet: File ▸ Back Up Library…"));

    // A backup six days ago is recent enough; seven days ago is due, with its date.
    BackupReminder::recordBackup(m_today.addDays(-6));
    EXPECT_FALSE(view.isVisible());
    BackupReminder::recordBackup(m_today.addDays(-7));
    EXPECT_TRUE(view.isVisible());
    EXPECT_EQ(view.text(), QStringLiteral("Last whole-library backup 3 March 2026: time for another (File ▸ Back Up Library…)"));

    // The next day is looked at again.
    BackupReminder::recordBackup(m_today);
    EXPECT_FALSE(view.isVisible());
    m_today = m_today.addDays(7);
    view.refresh();
    EXPECT_TRUE(view.isVisible());

    // Turned off again, or a hand-edited value out of range: no reminder.
    BackupReminder::setIntervalDays(0);
    EXPECT_FALSE(view.isVisible());
    EXPECT_FALSE(Settings::shared().contains(BackupReminder::intervalKey));
    Settings::shared().setValue(BackupReminder::intervalKey, -3);
    EXPECT_FALSE(view.isVisible());
    Settings::shared().setValue(BackupReminder::intervalKey, QStringLiteral("soon"));
    EXPECT_FALSE(view.isVisible());
    Settings::shared().setValue(BackupReminder::lastBackupKey, QStringLiteral("not a date"));
    Settings::shared().setValue(BackupReminder::intervalKey, 30);
    EXPECT_TRUE(view.text().startsWith(QStringLiteral("No whole-library backup yet")));
}

} // namespace
} // namespace ovalis::test
