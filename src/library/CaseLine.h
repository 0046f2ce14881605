#pragma once

#include <QList>
#include <QString>

namespace ovalis {

class Case;

// The one-line, tab-separated text of a case used when copying case lines:
// patient identifier, age (6 characters), sex, date of diagnosis (8
// characters) and the quoted first line of the summary.
class CaseLine
{
public:
    static QString line(const Case *item);
    // Appends the line of a case to out, without a line break.
    static void append(QString &out, const Case *item);
    static QString lines(const QList<Case *> &cases);
    // Appends the first line of a summary in single quotes, cut after 80
    // characters with an ellipsis, as the case line ends.
    static void appendQuotedSummary(QString &out, const QString &summary);
};

} // namespace ovalis
