#pragma once

#include <QCommandLineOption>
#include <QList>
#include <QString>
#include <optional>

class QTextStream;

namespace ovalis {

class Case;
class ManagedObject;

// How list and find print cases, whatever the user's locale:
// - text (the default): one tab-separated line a case, without a header:
//   patient identifier, age, sex, date of diagnosis and the quoted first
//   line of the summary, as the window's Copy gives them but with the date
//   as yyyy-MM-dd and the age in whole years;
// - tsv: a header line naming the columns, then the same columns with
//   nothing for a missing value, the whole summary unquoted, and a tab, line
//   break, carriage return or backslash in a value written as \t, \n, \r, \\;
// - json: an array of the cases as a JSON backup holds them (the same keys
//   and values), which restore-backup reads.
// An age is the whole years completed from the date of birth to the date of
// diagnosis (0 under a year, negative when the birth is the later date), and
// nothing when either date is missing.
class CaseListing
{
public:
    enum class Format { text, tsv, json };

    // The --format option of the commands that list cases.
    static QCommandLineOption formatOption();
    // The format a --format value names, if any.
    static std::optional<Format> formatNamed(const QString &name);

    // Writes the cases, in the order given, to the stream.
    static void write(QTextStream &out, const QList<ManagedObject *> &cases, Format format);

    // The age of a case in whole years as the listing writes it.
    static QString wholeAge(const Case *item);
};

} // namespace ovalis
