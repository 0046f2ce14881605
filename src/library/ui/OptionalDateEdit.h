#pragma once

#include <QDate>
#include <QWidget>

class QAction;
class QCalendarWidget;
class QLineEdit;
class QMenu;
class QToolButton;

namespace ovalis {

// A date that may be absent, typed as text or picked from a calendar. The
// text is read when editing ends (Return, or the focus leaving): the
// date as the field shows it, a year first (1980-03-12) or day and month in
// the locale's order (12/3/1980) all give that date, and empty text removes
// it. Text that is no date is refused: the field turns red, the date stays
// what it was, and Escape shows it again. A click into the field selects its
// text, so that typing replaces it. Years are always shown in full.
class OptionalDateEdit : public QWidget
{
    Q_OBJECT

public:
    explicit OptionalDateEdit(QWidget *parent = nullptr);

    // The locale's short date format with four-digit years.
    static QString fullYearDateFormat();

    // Invalid when absent.
    QDate date() const { return m_date; }
    // Shows date (invalid: absent) without emitting dateEdited. Text the
    // user is editing, or has had refused, stays while the date is the one
    // already shown.
    void setDate(const QDate &date);
    // Drops text being edited or refused and shows the date again.
    void discardEdits() { showDate(m_date); }

    // Whether the field holds text that was refused as no date.
    bool isRefused() const { return m_refused; }
    // A flag on a date that is a date but cannot be right (empty: none):
    // shown as a warning sign in the field, with the text as its tip.
    void setWarning(const QString &text);
    QString warning() const { return m_warning; }

    QLineEdit *lineEdit() const { return m_lineEdit; }
    QToolButton *calendarButton() const { return m_calendarButton; }
    QCalendarWidget *calendar() const { return m_calendar; }

signals:
    // The user set, changed or removed the date (invalid when removed).
    void dateEdited(const QDate &date);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void commitText();
    void accept(const QDate &date);
    void showDate(const QDate &date);
    void showRefused(bool refused);
    void updateLook();

    QLineEdit *m_lineEdit;
    QToolButton *m_calendarButton;
    QMenu *m_calendarMenu;
    QCalendarWidget *m_calendar;
    QAction *m_warningAction;
    QDate m_date;
    QString m_warning;
    bool m_refused = false;
    bool m_selectAllOnRelease = false;
    bool m_styling = false; // updateLook's own palette change
};

} // namespace ovalis
