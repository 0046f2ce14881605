#include "exchange/ui/BackupReminderView.h"

#include <QTimer>

#include "exchange/BackupReminder.h"
#include "util/Settings.h"

namespace ovalis {

BackupReminderView::BackupReminderView(QWidget *parent)
    : QLabel(parent)
    , m_today([] { return QDate::currentDate(); })
{
    setObjectName(QStringLiteral("backupReminder"));
    setTextFormat(Qt::PlainText);
    setForegroundRole(QPalette::PlaceholderText);
    connect(&Settings::shared(), &Settings::valueChanged, this, [this](const QString &key) {
        if (key == BackupReminder::intervalKey || key == BackupReminder::lastBackupKey)
            refresh();
    });
    auto *hourly = new QTimer(this);
    hourly->setInterval(60 * 60 * 1000);
    connect(hourly, &QTimer::timeout, this, &BackupReminderView::refresh);
    hourly->start();
    refresh();
}

void BackupReminderView::setToday(std::function<QDate()> today)
{
    m_today = std::move(today);
    refresh();
}

void BackupReminderView::refresh()
{
    const QString text = BackupReminder::dueText(m_today());
    setText(text);
    setVisible(!text.isEmpty());
}

} // namespace ovalis
