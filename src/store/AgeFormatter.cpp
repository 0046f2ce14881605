#include "store/AgeFormatter.h"

#include "util/LocalDate.h"

#include <charconv>
#include <utility>

namespace ovalis {

AgeFormatter::AgeFormatter(int maximumUnitCount)
    : m_maximumUnitCount(qMax(1, maximumUnitCount))
{
}

const AgeFormatter &AgeFormatter::shared()
{
    static const AgeFormatter formatter;
    return formatter;
}

AgeFormatter::Components AgeFormatter::components(const QDate &from, const QDate &to)
{
    Components result;
    QDate start = from;
    QDate end = to;
    if (end < start) {
        std::swap(start, end);
        result.negative = true;
    }

    // QDate::addMonths keeps the day of the month and falls back to the last
    // day of a shorter month, which is the anniversary rule of this class.
    // The estimate from the month numbers is at most one too many (more only
    // across the missing year zero).
    int startYear = 0, startMonth = 0, endYear = 0, endMonth = 0;
    start.getDate(&startYear, &startMonth, nullptr);
    end.getDate(&endYear, &endMonth, nullptr);
    qint64 months = qint64(endYear - startYear) * 12 + (endMonth - startMonth);
    QDate anniversary = start.addMonths(int(months));
    while (months > 0 && anniversary > end)
        anniversary = start.addMonths(int(--months));
    const qint64 remainingDays = anniversary.daysTo(end);

    result.years = int(months / 12);
    result.months = int(months % 12);
    result.weeks = int(remainingDays / 7);
    result.days = int(remainingDays % 7);
    return result;
}

QString AgeFormatter::string(const QDate &from, const QDate &to) const
{
    if (!from.isValid() || !to.isValid())
        return {};
    const Components span = components(from, to);
    const std::pair<int, char> units[] = {
        {span.years, 'y'}, {span.months, 'm'}, {span.weeks, 'w'}, {span.days, 'd'}};
    // Written into a small buffer: ages are formatted once per listed case.
    char text[64];
    char *end = text;
    if (span.negative)
        *end++ = '-';
    int written = 0;
    for (const auto &[count, unit] : units) {
        if (count == 0 || written >= m_maximumUnitCount)
            continue;
        if (written++ > 0)
            *end++ = ' ';
        end = std::to_chars(end, text + sizeof text, count).ptr;
        *end++ = unit;
    }
    if (written == 0) {
        *end++ = '0';
        *end++ = 'd';
    }
    return QString::fromLatin1(text, end - text);
}

QString AgeFormatter::string(const QDateTime &from, const QDateTime &to) const
{
    if (!from.isValid() || !to.isValid())
        return {};
    return string(LocalDate::of(from), LocalDate::of(to));
}

} // namespace ovalis
