#include "library/TypedDate.h"

#include <QList>
#include <QRegularExpression>

namespace ovalis {

namespace {

struct Part {
    QString text;
    bool numeric = false;
};

// The parts of the text, or nothing when it holds anything but parts and separators.
std::optional<QList<Part>> partsOf(const QString &text)
{
    static const QRegularExpression part(QStringLiteral("\\d+|[^\\W\\d_]+"), QRegularExpression::UseUnicodePropertiesOption);
    static const QRegularExpression separators(QStringLiteral("^[\\s/.,\\-]*$"));
    QList<Part> parts;
    qsizetype end = 0;
    for (auto it = part.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        if (!separators.match(text.mid(end, match.capturedStart() - end)).hasMatch())
            return std::nullopt;
        const QString captured = match.captured();
        parts.append({captured, captured.at(0).isDigit()});
        end = match.capturedEnd();
    }
    if (!separators.match(text.mid(end)).hasMatch())
        return std::nullopt;
    return parts;
}

// 1 to 12 for a month's name in the locale or in English, long or short, any letter case.
int monthNamed(const QString &name, const QLocale &locale)
{
    for (const QLocale &names : {locale, QLocale::c()})
        for (int month = 1; month <= 12; ++month)
            for (QLocale::FormatType type : {QLocale::LongFormat, QLocale::ShortFormat}) {
                QString monthName = names.monthName(month, type);
                QString standalone = names.standaloneMonthName(month, type);
                for (QString *candidate : {&monthName, &standalone}) {
                    candidate->remove(QLatin1Char('.'));
                    if (!candidate->isEmpty() && candidate->compare(name, Qt::CaseInsensitive) == 0)
                        return month;
                }
            }
    return 0;
}

int number(const Part &part)
{
    bool ok = false;
    const int value = part.text.toInt(&ok);
    return ok ? value : -1;
}

// A year of four digits as it stands, one of two digits in the century up
// to today's year; other lengths are not years.
int yearOf(const Part &part, const QDate &today)
{
    if (!part.numeric)
        return -1;
    if (part.text.size() == 4)
        return number(part);
    if (part.text.size() != 2)
        return -1;
    const int twoDigits = number(part);
    int year = today.year() - today.year() % 100 + twoDigits;
    if (year > today.year())
        year -= 100;
    return year;
}

int dayOf(const Part &part)
{
    return part.numeric && part.text.size() <= 2 ? number(part) : -1;
}

int monthOf(const Part &part, const QLocale &locale)
{
    if (!part.numeric)
        return monthNamed(part.text, locale);
    return part.text.size() <= 2 ? number(part) : -1;
}

std::optional<QDate> dateOf(int year, int month, int day)
{
    const QDate date(year, month, day);
    if (year < 1 || !date.isValid())
        return std::nullopt;
    return date;
}

} // namespace

QString TypedDate::displayFormat(const QLocale &locale)
{
    QString format = locale.dateFormat(QLocale::ShortFormat);
    if (!format.contains(QStringLiteral("yyyy")))
        format.replace(QStringLiteral("yy"), QStringLiteral("yyyy"));
    return format;
}

QString TypedDate::displayText(const QDate &date, const QLocale &locale)
{
    return date.isValid() ? locale.toString(date, displayFormat(locale)) : QString();
}

QStringList TypedDate::examples(const QLocale &locale)
{
    const QString format = displayFormat(locale);
    const bool dayBeforeMonth = format.indexOf(QLatin1Char('d')) < format.indexOf(QLatin1Char('M'));
    QStringList forms{displayText(QDate(1980, 3, 12), locale), QStringLiteral("1980-03-12"),
                      dayBeforeMonth ? QStringLiteral("12/3/1980") : QStringLiteral("3/12/1980")};
    forms.removeDuplicates();
    return forms;
}

std::optional<QDate> TypedDate::parse(const QString &text, const QLocale &locale, const QDate &today)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    const QString format = displayFormat(locale);
    // The year in full: a shortened one is read below, in its own century.
    if (const QDate shown = locale.toDate(trimmed, format); shown.isValid() && shown.year() >= 1000)
        return shown;

    const std::optional<QList<Part>> parts = partsOf(trimmed);
    if (!parts || parts->size() != 3)
        return std::nullopt;
    const Part &first = parts->at(0);
    const Part &second = parts->at(1);
    const Part &third = parts->at(2);

    // A year of four digits first: year, month, day.
    if (first.numeric && first.text.size() == 4)
        return dateOf(number(first), monthOf(second, locale), dayOf(third));

    // A month by name: the other two are day and year, by the year's four
    // digits, or else in the locale's order.
    const qsizetype dayAt = format.indexOf(QLatin1Char('d'));
    const qsizetype monthAt = format.indexOf(QLatin1Char('M'));
    const qsizetype yearAt = format.indexOf(QLatin1Char('y'));
    const bool dayBeforeMonth = dayAt < monthAt;
    const bool yearFirst = yearAt < dayAt && yearAt < monthAt;
    if (!first.numeric || !second.numeric || !third.numeric) {
        const int namedAt = !first.numeric ? 0 : !second.numeric ? 1 : 2;
        QList<Part> numbers = *parts;
        const Part named = numbers.takeAt(namedAt);
        if (!numbers[0].numeric || !numbers[1].numeric)
            return std::nullopt;
        const int month = monthNamed(named.text, locale);
        if (numbers[1].text.size() == 4 || (numbers[0].text.size() != 4 && !yearFirst))
            return dateOf(yearOf(numbers[1], today), month, dayOf(numbers[0]));
        return dateOf(yearOf(numbers[0], today), month, dayOf(numbers[1]));
    }

    // Three numbers ending in a year: day and month in the locale's order.
    if (third.text.size() == 4 || !yearFirst) {
        const Part &day = dayBeforeMonth ? first : second;
        const Part &month = dayBeforeMonth ? second : first;
        return dateOf(yearOf(third, today), monthOf(month, locale), dayOf(day));
    }
    // A locale that puts a two-digit year first.
    const Part &day = dayBeforeMonth ? second : third;
    const Part &month = dayBeforeMonth ? third : second;
    return dateOf(yearOf(first, today), monthOf(month, locale), dayOf(day));
}

} // namespace ovalis
