#include "exchange/CalendarDateText.h"

#include <QRegularExpression>

#include "util/LocalDate.h"

namespace ovalis {

QString CalendarDateText::format(const QDateTime &instant)
{
    const QDate date = LocalDate::of(instant);
    if (!date.isValid() || date.year() < 1 || date.year() > 9999)
        return QString();
    return QStringLiteral("%1-%2-%3")
        .arg(date.year(), 4, 10, QLatin1Char('0'))
        .arg(date.month(), 2, 10, QLatin1Char('0'))
        .arg(date.day(), 2, 10, QLatin1Char('0'));
}

QDateTime CalendarDateText::parse(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^([0-9]{1,4})-([0-9]{1,2})-([0-9]{1,2})$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return QDateTime();
    const QDate date(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt());
    if (!date.isValid())
        return QDateTime();
    return date.startOfDay(Qt::LocalTime);
}

} // namespace ovalis
