#pragma once

#include <QDateTime>
#include <QString>

namespace ovalis {

// Dates in backup files: "yyyy-MM-dd" (Gregorian, ASCII digits) of the
// instant's day in the local time zone; read back as local midnight of that
// day. The time of day is not kept.
class CalendarDateText
{
public:
    static QString format(const QDateTime &instant);
    // Local midnight of the day; an invalid QDateTime for text that is not a date.
    static QDateTime parse(const QString &text);
};

} // namespace ovalis
