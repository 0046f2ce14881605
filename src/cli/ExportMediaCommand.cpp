#include "ExportMediaCommand.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <variant>

#include "cli/CommandArguments.h"
#include "ExchangeCommandSupport.h"
#include "exchange/JSONImporter.h"
#include "exchange/TeachingExport.h"
#include "library/LibraryQuery.h"
#include "store/Case.h"
#include "store/CoreDataStack.h"
#include "store/ManagedObjectContext.h"

namespace ovalis {

using namespace ExchangeCommandSupport;

namespace {

// The folder and the cases that list would print with the same --search and --tag.
struct ExportSelection {
    QString folder;
    QList<ObjectID> cases;
};

// Parses "[--search TEXT] [--tag LABEL]... DIR", makes DIR and finds the
// cases; an exit code on failure.
std::variant<ExportSelection, int> selectCases(CoreDataStack &stack, const QString &command,
                                               const QString &description, const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(description);
    parser.addHelpOption();
    const QCommandLineOption searchOption(QStringLiteral("search"), QStringLiteral("Text to find, ignoring case and accents."),
                                          QStringLiteral("TEXT"));
    const QCommandLineOption tagOption(QStringLiteral("tag"), QStringLiteral("A tag every exported case carries (repeatable)."),
                                       QStringLiteral("LABEL"));
    parser.addOptions({searchOption, tagOption});
    parser.addPositionalArgument(QStringLiteral("DIR"), QStringLiteral("The folder to export into (made when missing)."));
    CommandArguments::parse(parser, command, arguments);
    if (parser.positionalArguments().size() != 1)
        return fail(QStringLiteral("%1 needs one folder (see ovalis-cli %1 --help)").arg(command), 1);
    ExportSelection selection;
    selection.folder = QFileInfo(parser.positionalArguments().first()).absoluteFilePath();
    if (!QDir().mkpath(selection.folder))
        return fail(QStringLiteral("the folder %1 could not be made").arg(selection.folder), 3);
    if (!open(stack))
        return 2;
    const Predicate predicate = LibraryQuery::casePredicate(
        parser.values(tagOption), LibraryQuery::searchPredicate(parser.value(searchOption), LibraryQuery::SearchScope::All));
    for (const ManagedObject *object : stack.mainContext()->arrayOfObjects(Case::entityName(), predicate))
        selection.cases.append(object->objectID());
    return selection;
}

// Runs an export of the selected cases to its end: start begins it on the
// library's main context and calls back once with the summary. The summary
// and the folder, or an exit code.
template<class Summary, class Start>
std::variant<std::pair<Summary, QString>, int> exportSelected(const QString &library, const QString &command,
                                                              const QString &description, const QStringList &arguments, Start start)
{
    CoreDataStack stack(library);
    const auto selected = selectCases(stack, command, description, arguments);
    if (const int *code = std::get_if<int>(&selected))
        return *code;
    const ExportSelection &selection = std::get<ExportSelection>(selected);
    TerminalProgress progress;
    bool done = false;
    Summary summary;
    start(selection, stack.mainContext(), [&](const Summary &result) {
        summary = result;
        done = true;
    });
    waitFor(done);
    return std::pair{summary, selection.folder};
}

} // namespace

int runExportMedia(const QString &library, const QStringList &arguments)
{
    const auto exported = exportSelected<JSONImporter::MediaExportSummary>(
        library, QStringLiteral("export-media"),
        QStringLiteral("Copies the media files of the cases that list would print into DIR: one folder per patient\n"
                       "identifier, in it one per date of diagnosis, the files numbered 00001, 00002, ... in display\n"
                       "order. Cases none of whose files are in the library are skipped."),
        arguments, [](const ExportSelection &selection, ManagedObjectContext *context, const auto &finished) {
            JSONImporter(QUrl::fromLocalFile(selection.folder)).exportMedia(selection.cases, context, finished);
        });
    if (const int *code = std::get_if<int>(&exported))
        return *code;
    const auto &[summary, folder] = std::get<0>(exported);
    out() << "Exported " << summary.filesCopied << " files of " << summary.casesExported << " cases into " << folder << Qt::endl;
    if (summary.casesWithoutFiles > 0)
        out() << "Skipped " << summary.casesWithoutFiles << " cases: none of their media files is in the library" << Qt::endl;
    if (!summary.failures.isEmpty()) {
        for (const QString &failure : std::as_const(summary.failures))
            err() << "ovalis-cli: not exported: " << failure << Qt::endl;
        return fail(QStringLiteral("%1 folders or files could not be written").arg(summary.failures.size()), 3);
    }
    return 0;
}

int runExportTeaching(const QString &library, const QStringList &arguments)
{
    const auto exported = exportSelected<TeachingExport::Summary>(
        library, QStringLiteral("export-teaching"),
        QStringLiteral("Writes the cases that list would print into DIR for a teaching-file site: a folder per case\n"
                       "(Case 001, Case 002, ...) with its de-identified DICOM files, a PNG of each at the file's\n"
                       "window, and case.json (summary, detail, tags, age, sex; no identifier, name or birth date).\n"
                       "Other media are not written. A DICOM file that does not say the patient's identity was\n"
                       "removed, or that holds private attributes, is refused and named; the command then exits 3."),
        arguments, [](const ExportSelection &selection, ManagedObjectContext *context, const auto &finished) {
            TeachingExport::exportCases(selection.cases, context, selection.folder, finished);
        });
    if (const int *code = std::get_if<int>(&exported))
        return *code;
    const auto &[summary, folder] = std::get<0>(exported);
    out() << "Exported " << summary.dicomFiles << " DICOM files and " << summary.renders << " renders of "
          << summary.casesExported << " cases into " << folder << Qt::endl;
    if (summary.casesWithoutDicom > 0)
        out() << "Skipped " << summary.casesWithoutDicom << " cases: they have no DICOM file in the library" << Qt::endl;
    for (const QString &refused : std::as_const(summary.refused))
        err() << "ovalis-cli: refused: " << refused << Qt::endl;
    for (const QString &failure : std::as_const(summary.failures))
        err() << "ovalis-cli: not exported: " << failure << Qt::endl;
    if (!summary.refused.isEmpty() || !summary.failures.isEmpty())
        return fail(QStringLiteral("%1 files were refused or could not be written")
                        .arg(summary.refused.size() + summary.failures.size()),
                    3);
    return 0;
}

} // namespace ovalis
