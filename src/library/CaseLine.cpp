#include "library/CaseLine.h"

#include <QHash>
#include <QLocale>

#include "store/Case.h"
#include "util/LocalDate.h"

namespace ovalis {

namespace {

// The first width characters of text, padded with spaces to width.
void appendFixedWidth(QString &out, QStringView text, int width)
{
    const QStringView kept = text.left(width);
    out += kept;
    for (qsizetype i = kept.size(); i < width; ++i)
        out += QLatin1Char(' ');
}

// The short date of a day, remembered: a library has far fewer days than cases.
const QString &shortDate(const QDate &date)
{
    thread_local QHash<qint64, QString> cache;
    thread_local const QLocale locale;
    const auto it = cache.constFind(date.toJulianDay());
    if (it != cache.constEnd())
        return *it;
    if (cache.size() >= 100000)
        cache.clear();
    QString text;
    appendFixedWidth(text, locale.toString(date, QLocale::ShortFormat), 8);
    return *cache.insert(date.toJulianDay(), text);
}

} // namespace

void CaseLine::append(QString &out, const Case *item)
{
    const QString id = item->patientID();
    out += id.isNull() ? QStringView(u"??????") : QStringView(id);
    out += QLatin1Char('\t');
    appendFixedWidth(out, item->ageString(), 6);
    out += QLatin1Char('\t');
    out += item->abbreviatedSex();
    out += QLatin1Char('\t');
    const QDateTime diagnosis = item->dateOfDiagnosis();
    out += diagnosis.isValid() ? QStringView(shortDate(LocalDate::of(diagnosis))) : QStringView(u"??????");
    out += QLatin1Char('\t');
    appendQuotedSummary(out, item->summary());
}

void CaseLine::appendQuotedSummary(QString &out, const QString &summary)
{
    out += QLatin1Char('\'');
    QStringView firstLine(summary);
    if (const qsizetype end = firstLine.indexOf(QLatin1Char('\n')); end >= 0)
        firstLine = firstLine.left(end);
    if (firstLine.size() >= 80) {
        out += firstLine.left(80);
        out += QChar(0x2026);
    } else {
        out += firstLine;
    }
    out += QLatin1Char('\'');
}

QString CaseLine::line(const Case *item)
{
    QString text;
    append(text, item);
    return text;
}

QString CaseLine::lines(const QList<Case *> &cases)
{
    QString text;
    for (qsizetype i = 0; i < cases.size(); ++i) {
        if (i > 0)
            text += QLatin1Char('\n');
        append(text, cases[i]);
    }
    return text;
}

} // namespace ovalis
