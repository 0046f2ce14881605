#include "library/CaseLine.h"

#include <QLocale>
#include <QStringList>

#include "store/Case.h"

namespace ovalis {

namespace {

QString fixedWidth(const QString &text, int width)
{
    return text.left(width).leftJustified(width, QLatin1Char(' '));
}

} // namespace

QString CaseLine::line(const Case *item)
{
    const QString id = item->patientID();
    const QDateTime diagnosis = item->dateOfDiagnosis();
    const QString date = diagnosis.isValid()
                             ? fixedWidth(QLocale().toString(diagnosis.toLocalTime().date(), QLocale::ShortFormat), 8)
                             : QStringLiteral("??????");
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
