#pragma once

#include <QDate>
#include <QLabel>
#include <functional>

namespace ovalis {

// A quiet line in the library window's status bar that asks for a
// whole-library backup when one is due, and hides otherwise. It follows the
// settings as they change and looks again every hour.
class BackupReminderView : public QLabel
{
    Q_OBJECT

public:
    explicit BackupReminderView(QWidget *parent = nullptr);

    // Test seam: the local date the reminder is judged on (default: today).
    void setToday(std::function<QDate()> today);

public slots:
    void refresh();

private:
    std::function<QDate()> m_today;
};

} // namespace ovalis
