#include "cli/CaseListing.h"

#include <QTextStream>

#include "exchange/CalendarDateText.h"
#include "exchange/CaseRelations.h"
#include "exchange/EncodedCase.h"
#include "library/CaseLine.h"
#include "store/AgeFormatter.h"
#include "store/Case.h"
#include "store/ManagedObjectContext.h"
#include "util/LocalDate.h"

namespace ovalis {

namespace {

// Cases encoded at a time for JSON: the text of a large library is written
// in parts rather than held whole.
constexpr qsizetype jsonBatchSize = 1000;

constexpr QStringView missing(u"??????");

void appendTextLine(QString &out, const Case *item)
{
    const QString id = item->patientID();
    out += id.isNull() ? QStringView(missing) : QStringView(id);
    out += QLatin1Char('\t');
    out += CaseListing::wholeAge(item);
    out += QLatin1Char('\t');
    out += item->abbreviatedSex();
    out += QLatin1Char('\t');
    const QString diagnosis = CalendarDateText::format(item->dateOfDiagnosis());
    out += diagnosis.isEmpty() ? QStringView(missing) : QStringView(diagnosis);
    out += QLatin1Char('\t');
    CaseLine::appendQuotedSummary(out, item->summary());
    out += QLatin1Char('\n');
}

// A value of a tsv line: the characters that would end a field or a line,
// and the backslash that marks them, written as escapes.
void appendTsvField(QString &out, QStringView value)
{
    for (const QChar c : value) {
        switch (c.unicode()) {
        case '\t': out += QLatin1String("\\t"); break;
        case '\n': out += QLatin1String("\\n"); break;
        case '\r': out += QLatin1String("\\r"); break;
        case '\\': out += QLatin1String("\\\\"); break;
        default: out += c;
        }
    }
}

void appendTsvLine(QString &out, const Case *item)
{
    appendTsvField(out, item->patientID());
    out += QLatin1Char('\t');
    out += CaseListing::wholeAge(item);
    out += QLatin1Char('\t');
    out += item->abbreviatedSex();
    out += QLatin1Char('\t');
    out += CalendarDateText::format(item->dateOfDiagnosis());
    out += QLatin1Char('\t');
    appendTsvField(out, item->summary());
    out += QLatin1Char('\n');
}

// The cases as the JSON array of a backup file, in UTF-8 rather than the
// file's UTF-16, written batch by batch. Cases ask for their own tags and
// media, unless they are many and a good part of the library: then those of
// the whole library are read at once, which costs less than a tenth of
// asking each case for its own, but is paid for every case of the library.
void writeJson(QTextStream &out, const QList<ManagedObject *> &cases)
{
    std::optional<CaseRelations> relations;
    if (cases.size() > jsonBatchSize) {
        ManagedObjectContext *context = cases.first()->managedObjectContext();
        if (cases.size() * 3 > context->countOfObjects(Case::entityName()))
            relations = CaseRelations::gather(context);
    }
    out << '[';
    for (qsizetype start = 0; start < cases.size(); start += jsonBatchSize) {
        QList<EncodedCase> batch;
        batch.reserve(std::min(jsonBatchSize, cases.size() - start));
        for (qsizetype i = start; i < cases.size() && i < start + jsonBatchSize; ++i) {
            const auto *item = static_cast<const Case *>(cases[i]);
            batch.append(relations ? relations->encoded(item) : EncodedCase::fromCase(item));
        }
        out << BackupFile::casesText(batch, start == 0);
    }
    out << BackupFile::closing(cases.isEmpty()) << '\n';
}

} // namespace

QCommandLineOption CaseListing::formatOption()
{
    return QCommandLineOption(QStringLiteral("format"),
                              QStringLiteral("text (the default: one line a case), tsv (the same columns under a header line, "
                                             "tabs, line breaks and backslashes in values escaped as \\t, \\n, \\r, \\\\) "
                                             "or json (the cases as a JSON backup holds them)."),
                              QStringLiteral("FORMAT"), QStringLiteral("text"));
}

std::optional<CaseListing::Format> CaseListing::formatNamed(const QString &name)
{
    if (name == QLatin1String("text"))
        return Format::text;
    if (name == QLatin1String("tsv"))
        return Format::tsv;
    if (name == QLatin1String("json"))
        return Format::json;
    return std::nullopt;
}

void CaseListing::write(QTextStream &out, const QList<ManagedObject *> &cases, Format format)
{
    if (format == Format::json) {
        writeJson(out, cases);
        return;
    }
    QString text;
    text.reserve(int(cases.size()) * 80 + 64);
    if (format == Format::tsv)
        text += QLatin1String("patient_identifier\tage\tsex\tdate_of_diagnosis\tsummary\n");
    for (const ManagedObject *object : cases) {
        if (format == Format::tsv)
            appendTsvLine(text, static_cast<const Case *>(object));
        else
            appendTextLine(text, static_cast<const Case *>(object));
    }
    out << text;
}

QString CaseListing::wholeAge(const Case *item)
{
    const QDateTime birth = item->dateOfBirth();
    const QDateTime diagnosis = item->dateOfDiagnosis();
    if (!birth.isValid() || !diagnosis.isValid())
        return QString();
    const AgeFormatter::Components age = AgeFormatter::components(LocalDate::of(birth), LocalDate::of(diagnosis));
    return QString::number(age.negative ? -age.years : age.years);
}

} // namespace ovalis
