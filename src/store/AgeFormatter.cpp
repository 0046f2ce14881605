#include "store/AgeFormatter.h"

#include "util/LocalDate.h"

#include <QStringList>
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
    // The estimate from the month numbers is at most one too many.
    qint64 months = qint64(end.year() - start.year()) * 12 + (end.month() - start.month());
    while (months > 0 && start.addMonths(int(months)) > end)
        --months;
    const qint64 remainingDays = start.addMonths(int(months)).daysTo(end);

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
    QStringList pieces;
    for (const auto &[count, unit] : units) {
        if (count == 0 || pieces.size() >= m_maximumUnitCount)
            continue;
        pieces.append(QString::number(count) + QLatin1Char(unit));
    }
    if (pieces.isEmpty())
        pieces.append(QStringLiteral("0d"));
    const QString text = pieces.join(QLatin1Char(' '));
    return span.negative ? QLatin1Char('-') + text : text;
}

QString AgeFormatter::string(const QDateTime &from, const QDateTime &to) const
{
    if (!from.isValid() || !to.isValid())
        return {};
    return string(LocalDate::of(from), LocalDate::of(to));
}

} // namespace ovalis
