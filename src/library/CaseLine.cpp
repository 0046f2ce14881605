#include "library/CaseLine.h"

#include <QHash>
#include <QLocale>
#include <QStringList>

#include "store/Case.h"
#include "util/LocalDate.h"

namespace ovalis {

namespace {

QString fixedWidth(const QString &text, int width)
{
    return text.left(width).leftJustified(width, QLatin1Char(' '));
}

// The short date of a day, remembered: a library has far fewer days than cases.
QString shortDate(const QDate &date)
{
    thread_local QHash<qint64, QString> cache;
    thread_local const QLocale locale;
    const auto it = cache.constFind(date.toJulianDay());
    if (it != cache.constEnd())
        return *it;
    const QString text = fixedWidth(locale.toString(date, QLocale::ShortFormat), 8);
    if (cache.size() < 100000)
        cache.insert(date.toJulianDay(), text);
    return text;
}

} // namespace

QString CaseLine::line(const Case *item)
{
    const QString id = item->patientID();
    const QDateTime diagnosis = item->dateOfDiagnosis();
    const QString date = diagnosis.isValid() ? shortDate(LocalDate::of(diagnosis)) : QStringLiteral("??????");
    QString summary = item->summary();
    if (summary.isNull()) {
        summary = QString();
    } else {
        summary = summary.section(QLatin1Char('\n'), 0, 0);
        if (summary.size() >= 80)
            summary = summary.left(80) + QStringLiteral("\u2026");
    }
    return QStringLiteral("%1\t%2\t%3\t%4\t'%5'")
        .arg(id.isNull() ? QStringLiteral("??????") : id, fixedWidth(item->ageString(), 6), item->abbreviatedSex(), date,
             summary);
}

QString CaseLine::lines(const QList<Case *> &cases)
{
    QStringList result;
    for (const Case *item : cases)
        result.append(line(item));
    return result.join(QLatin1Char('\n'));
}

} // namespace ovalis
