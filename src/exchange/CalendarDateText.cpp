#include "exchange/CalendarDateText.h"

#include <QRegularExpression>

#include "util/LocalDate.h"

namespace ovalis {

QString CalendarDateText::format(const QDateTime &instant)
{
    const QDate date = LocalDate::of(instant);
    if (!date.isValid() || date.year() < 1 || date.year() > 9999)
        return QString();
    // "yyyy-MM-dd" written digit by digit: a backup formats three dates a
    // case, and QString::arg made this the export's largest cost.
    char16_t text[10];
    const auto put = [&text](int at, int value, int digits) {
        for (int i = digits - 1; i >= 0; --i, value /= 10)
            text[at + i] = char16_t(u'0' + value % 10);
    };
    put(0, date.year(), 4);
    text[4] = u'-';
    put(5, date.month(), 2);
    text[7] = u'-';
    put(8, date.day(), 2);
    return QString(reinterpret_cast<const QChar *>(text), 10);
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
