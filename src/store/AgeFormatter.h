#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>

namespace ovalis {

// The age text of a case: the span from one date to another in calendar
// units, written for English as a number followed by y, m, w or d per unit
// ("45y 3m", "7m 2w", "2w 3d", "4d"), largest unit first, units of zero left
// out and at most maximumUnitCount() units (the smaller ones are dropped, not
// rounded).
//
// Calendar arithmetic. Every anniversary is counted from the earlier date
// itself, never chained from the previous one: the n-th month ends on the
// same day of the month n months later, or on the last day of that month when
// it is shorter. So a month from Jan 31 ends on Feb 28 (Feb 29 in a leap year)
// and two months on Mar 31; a month from Mar 31 ends on Apr 30. A year is
// twelve such months, so someone born on Feb 29 has a birthday on Feb 28 in
// common years and on Feb 29 in leap years. The days left over after the
// whole months are split into weeks of seven days and days.
//
// A span whose end lies before its start (a diagnosis before the birth) is
// written as the span from the end to the start with a leading minus sign:
// "-2y 3m". A span of no days is "0d".
//
// Date-times are taken in the local time zone and only their dates count.
class AgeFormatter
{
public:
    // Whole units of a span; all zero or positive.
    struct Components {
        int years = 0;
        int months = 0;
        int weeks = 0;
        int days = 0;
        bool negative = false; // the end lies before the start

        bool operator==(const Components &) const = default;
    };

    // At least one unit is always written.
    explicit AgeFormatter(int maximumUnitCount = 2);

    // The formatter Case::ageString uses (two units).
    static const AgeFormatter &shared();

    int maximumUnitCount() const { return m_maximumUnitCount; }

    // Empty when either date is invalid.
    QString string(const QDate &from, const QDate &to) const;
    QString string(const QDateTime &from, const QDateTime &to) const;

    // The span from one valid date to another, as described above.
    static Components components(const QDate &from, const QDate &to);

private:
    int m_maximumUnitCount;
};

} // namespace ovalis
