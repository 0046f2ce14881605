#include "exchange/CalendarDateText.h"

#include <QStringView>

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
    // Y-M-D with one to four, two and two ASCII digits (a final line break
    // allowed), read by hand: a restore reads three dates a case, and a
    // regular expression was most of their cost.
    QStringView rest(text);
    if (rest.endsWith(u'\n'))
        rest.chop(1);
    int fields[3] = {0, 0, 0};
    const int widest[3] = {4, 2, 2};
    for (int field = 0; field < 3; ++field) {
        int digits = 0;
        while (!rest.isEmpty() && rest.front() >= u'0' && rest.front() <= u'9' && digits < widest[field]) {
            fields[field] = fields[field] * 10 + (rest.front().unicode() - u'0');
            rest = rest.mid(1);
            ++digits;
        }
        if (digits == 0)
            return QDateTime();
        if (field < 2) {
            if (rest.isEmpty() || rest.front() != u'-')
                return QDateTime();
            rest = rest.mid(1);
        }
    }
    if (!rest.isEmpty())
        return QDateTime();
    const QDate date(fields[0], fields[1], fields[2]);
    if (!date.isValid())
        return QDateTime();
    return date.startOfDay(Qt::LocalTime);
}

} // namespace ovalis
