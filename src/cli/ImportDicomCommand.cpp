#include "cli/ImportDicomCommand.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QSet>

#include "cli/CommandArguments.h"
#include "cli/ExchangeCommandSupport.h"
#include "exchange/DicomImport.h"
#include "exchange/DicomScanner.h"
#include "store/CoreDataStack.h"
#include "store/ManagedObjectContext.h"

namespace ovalis {

using namespace ExchangeCommandSupport;

namespace {

// The series numbers of --series: repeated, or separated by commas. Nothing
// (after saying why) when one is not a number.
std::optional<QSet<int>> seriesNumbers(const QStringList &values)
{
    QSet<int> numbers;
    for (const QString &value : values) {
        for (const QString &part : value.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            bool ok = false;
            const int number = part.trimmed().toInt(&ok);
            if (!ok) {
                fail(QStringLiteral("import-dicom: --series takes series numbers, not %1").arg(part), 1);
                return std::nullopt;
            }
            numbers.insert(number);
        }
    }
    return numbers;
}

} // namespace

int runImportDicom(const QString &library, const QStringList &arguments, bool verbose)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Imports DICOM images with the patient taken out of them, from files, folders (searched through)\n"
        "and DICOMDIR files. Each study becomes a new case unless --case says otherwise; its images are\n"
        "stored de-identified, and their headers as read give the case's patient identifier, sex, dates,\n"
        "summary, detail and tags. Images already in the library are skipped. With --verbose the files\n"
        "passed over are listed too. Exits with 3 when a DICOM file could not be imported, after the rest."));
    parser.addHelpOption();
    const QCommandLineOption caseOption(QStringLiteral("case"),
                                        QStringLiteral("Put every image into the case with this patient identifier, made when there is none."),
                                        QStringLiteral("PATIENT_ID"));
    const QCommandLineOption perStudyOption(QStringLiteral("case-per-study"), QStringLiteral("Make one new case per study (the default)."));
    const QCommandLineOption allSeriesOption(QStringLiteral("all-series"), QStringLiteral("Import every series (the default)."));
    const QCommandLineOption seriesOption(QStringLiteral("series"),
                                          QStringLiteral("Import only the series with this series number (repeatable, or numbers separated by commas)."),
                                          QStringLiteral("N"));
    parser.addOptions({caseOption, perStudyOption, allSeriesOption, seriesOption});
    parser.addPositionalArgument(QStringLiteral("PATH"), QStringLiteral("A DICOM file, a folder holding some, or a DICOMDIR."),
                                 QStringLiteral("PATH..."));
    CommandArguments::parse(parser, QStringLiteral("import-dicom"), arguments);
    if (parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("import-dicom needs at least one PATH (see ovalis-cli import-dicom --help)"), 1);
    if (parser.isSet(caseOption) && parser.isSet(perStudyOption))
        return fail(QStringLiteral("import-dicom: --case and --case-per-study exclude each other"), 1);
    if (parser.isSet(allSeriesOption) && parser.isSet(seriesOption))
        return fail(QStringLiteral("import-dicom: --all-series and --series exclude each other"), 1);
    if (parser.isSet(caseOption) && parser.value(caseOption).trimmed().isEmpty())
        return fail(QStringLiteral("import-dicom: --case needs a patient identifier"), 1);
    const std::optional<QSet<int>> numbers = seriesNumbers(parser.values(seriesOption));
    if (!numbers)
        return 1;
    QStringList paths;
    for (const QString &argument : parser.positionalArguments()) {
        const QFileInfo info(argument);
        if (!info.exists())
            return fail(QStringLiteral("%1 does not exist").arg(info.absoluteFilePath()), 3);
        paths.append(info.absoluteFilePath());
    }

    CoreDataStack stack(library);
    if (!open(stack))
        return 2;
    const DicomScanResult scan = DicomScanner::scan(paths);
    // What was passed over, also when nothing is left to import.
    const auto listPassedOver = [&] {
        if (!verbose)
            return;
        for (const QString &path : scan.notDicom)
            out() << "Not DICOM: " << path << Qt::endl;
        for (const QString &path : scan.notImages)
            out() << "Not an image: " << path << Qt::endl;
    };
    if (scan.imageCount() == 0 && scan.unreadable.isEmpty()) {
        listPassedOver();
        return fail(QStringLiteral("no DICOM images in %1 (%2 not DICOM, %3 DICOM but not images%4)")
                        .arg(paths.join(QStringLiteral(", ")))
                        .arg(scan.notDicom.size())
                        .arg(scan.notImages.size())
                        .arg(verbose ? QString() : QStringLiteral("; --verbose lists them")),
                    3);
    }

    DicomImportChoices choices;
    if (parser.isSet(caseOption)) {
        choices.target = DicomImportChoices::Target::CaseByPatientId;
        choices.patientId = parser.value(caseOption).trimmed();
    }
    QSet<int> found;
    for (const DicomStudyInfo &study : scan.studies)
        for (const DicomSeriesInfo &series : study.series)
            if (numbers->contains(series.seriesNumber)) {
                choices.series.insert(series.seriesInstanceUid);
                found.insert(series.seriesNumber);
            }
    for (const int number : *numbers)
        if (!found.contains(number))
            return fail(QStringLiteral("import-dicom: no series numbered %1 among the images").arg(number), 1);

    TerminalProgress progress;
    bool done = false;
    DicomImportSummary summary;
    DicomImport::importStudies(scan, choices, stack.mainContext(), [&](const DicomImportSummary &result) {
        summary = result;
        done = true;
    });
    waitFor(done);
    if (stack.mainContext()->hasChanges())
        return fail(QStringLiteral("the imported cases could not be saved"), 3);
    out() << "Imported " << summary.imagesImported << " images into " << summary.casesCreated << " new cases; "
          << summary.duplicates << " already in the library" << Qt::endl;
    listPassedOver();
    const QStringList failures = scan.unreadable + summary.failed;
    for (const QString &failure : failures)
        err() << "ovalis-cli: could not import " << failure << Qt::endl;
    return failures.isEmpty() ? 0 : 3;
}

} // namespace ovalis
