#include "exchange/BackupReminder.h"

#include <QCoreApplication>
#include <QLocale>

#include "util/Settings.h"

namespace ovalis {

int BackupReminder::intervalDays()
{
    bool ok = false;
    const int days = Settings::shared().value(intervalKey).toInt(&ok);
    // A value edited by hand out of range counts as off rather than nagging daily.
    return ok && days > 0 && days <= longestInterval ? days : 0;
}

void BackupReminder::setIntervalDays(int days)
{
    if (days > 0)
        Settings::shared().setValue(intervalKey, std::min(days, longestInterval));
    else
        Settings::shared().remove(intervalKey);
}

QDate BackupReminder::lastBackup()
{
    return QDate::fromString(Settings::shared().stringValue(lastBackupKey), Qt::ISODate);
}

void BackupReminder::recordBackup(const QDate &localDate)
{
    Settings::shared().setValue(lastBackupKey, localDate.toString(Qt::ISODate));
}

QString BackupReminder::dueText(const QDate &localToday)
{
    const int interval = intervalDays();
    if (interval == 0)
        return {};
    const QDate last = lastBackup();
    if (!last.isValid())
        return QCoreApplication::translate("BackupReminder", "No whole-library backup yet: File ▸ Back Up Library…");
    if (last.daysTo(localToday) < interval)
        return {};
    return QCoreApplication::translate("BackupReminder", "Last whole-library backup %1: time for another (File ▸ Back Up Library…)")
        .arg(QLocale().toString(last, QStringLiteral("d MMMM yyyy")));
}

} // namespace ovalis
