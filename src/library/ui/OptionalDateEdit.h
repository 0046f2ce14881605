#pragma once

#include <QDate>
#include <QWidget>

class QCheckBox;
class QDateEdit;

namespace ovalis {

// A date that may be absent: a check box that says whether there is one and
// a date field (with a calendar) for it. Years are always shown in full.
class OptionalDateEdit : public QWidget
{
    Q_OBJECT

public:
    explicit OptionalDateEdit(QWidget *parent = nullptr);

    // The locale's short date format with four-digit years: a birth year
    // must not read as a century later.
    static QString fullYearDateFormat();

    // Invalid when absent.
    QDate date() const;
    // Shows date (invalid: absent) without emitting dateEdited.
    void setDate(const QDate &date);

    QCheckBox *presenceBox() const { return m_presenceBox; }
    QDateEdit *dateEdit() const { return m_dateEdit; }

signals:
    // The user set, changed or removed the date (invalid when removed).
    void dateEdited(const QDate &date);

private:
    void showPresence(bool present);

    QCheckBox *m_presenceBox;
    QDateEdit *m_dateEdit;
    bool m_updating = false;
};

} // namespace ovalis
