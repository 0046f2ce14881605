#pragma once

#include <QDate>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <optional>

namespace ovalis {

// Dates as the user types them into a date field. Understood, in this order:
// the field's own display form ("12 Mar 1980" or "12/03/1980", whatever the
// locale shows); a year first, "1980-03-12"; three parts in the locale's own
// order of day and month, with a month given by number or by name
// ("12/3/1980", "15 3 2024", "Mar 12 1980" where the month comes first).
// Parts are separated by spaces, '/', '-', '.' or ','. A year of two digits
// is the latest such year not after today's. Anything else is not a date:
// nothing is guessed, and an impossible day (31 April) is refused.
class TypedDate
{
public:
    // The locale's short date form with four-digit years: a birth year must
    // not read as a century later.
    static QString displayFormat(const QLocale &locale = QLocale());
    static QString displayText(const QDate &date, const QLocale &locale = QLocale());
    // One date (12 March 1980) in each of the forms read: as displayed, year
    // first, and by numbers in the locale's order.
    static QStringList examples(const QLocale &locale = QLocale());

    // The date the text names, or nothing. Empty text is no date either;
    // callers tell it apart themselves.
    static std::optional<QDate> parse(const QString &text, const QLocale &locale = QLocale(),
                                      const QDate &today = QDate::currentDate());
};

} // namespace ovalis
