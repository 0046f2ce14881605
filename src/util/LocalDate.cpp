#include "util/LocalDate.h"

#include <QHash>

namespace ovalis {

namespace {

constexpr qint64 msecsPerDay = 86400000;
constexpr qint64 msecsPerWeek = 7 * msecsPerDay;
constexpr qint64 julianDayOfEpoch = 2440588; // 1970-01-01

qint64 floorDivide(qint64 value, qint64 divisor)
{
    return value / divisor - (value % divisor < 0 ? 1 : 0);
}

int offsetAt(qint64 msecs)
{
    return QDateTime::fromMSecsSinceEpoch(msecs, Qt::LocalTime).offsetFromUtc();
}

QHash<qint64, int> &offsetsByWeek()
{
    thread_local QHash<qint64, int> offsets; // UTC week -> seconds east of UTC
    return offsets;
}

} // namespace

void LocalDate::forgetZone()
{
    offsetsByWeek().clear();
}

QDate LocalDate::of(const QDateTime &instant)
{
    if (!instant.isValid())
        return QDate();
    if (instant.timeSpec() == Qt::LocalTime)
        return instant.date();
    const qint64 msecs = instant.toMSecsSinceEpoch();
    const qint64 week = floorDivide(msecs, msecsPerWeek);
    // A week whose offset is the same at its first and last millisecond has one
    // offset throughout: zones do not change and change back within a week.
    QHash<qint64, int> &offsets = offsetsByWeek();
    auto it = offsets.constFind(week);
    if (it == offsets.constEnd()) {
        const int first = offsetAt(week * msecsPerWeek);
        if (first != offsetAt(week * msecsPerWeek + msecsPerWeek - 1))
            return instant.toLocalTime().date();
        if (offsets.size() > 100000)
            offsets.clear();
        it = offsets.insert(week, first);
    }
    return QDate::fromJulianDay(julianDayOfEpoch + floorDivide(msecs + qint64(*it) * 1000, msecsPerDay));
}

} // namespace ovalis
