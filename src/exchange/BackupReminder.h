#pragma once

#include <QDate>
#include <QString>

namespace ovalis {

// When to remind the user to back up the whole library: every N days after
// the last whole-library backup (N stored in the settings, 0 for never), and
// at once when there has been none. The date of the last backup is stored
// when a library backup completes.
class BackupReminder
{
public:
    static inline const QString intervalKey = QStringLiteral("Backup_Reminder_Days");
    static inline const QString lastBackupKey = QStringLiteral("Last_Library_Backup");
    static constexpr int longestInterval = 365;

    // The days between reminders; 0 when reminders are off (the default).
    static int intervalDays();
    static void setIntervalDays(int days);
    // The local date of the last whole-library backup; invalid when none is known.
    static QDate lastBackup();
    static void recordBackup(const QDate &localDate);

    // The reminder to show on localToday, or an empty string when none is due.
    static QString dueText(const QDate &localToday);
};

} // namespace ovalis
