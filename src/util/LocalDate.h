#pragma once

#include <QDate>
#include <QDateTime>

namespace ovalis {

// The calendar date of an instant in the local time zone, as
// instant.toLocalTime().date() gives it, but cheap when called for many
// instants: the zone's offset is looked up once per week (per thread), except
// for weeks in which the offset changes, which take the full conversion.
class LocalDate
{
public:
    static QDate of(const QDateTime &instant);
    // Forgets the offsets learnt on this thread, after the local zone changed.
    static void forgetZone();
};

} // namespace ovalis
