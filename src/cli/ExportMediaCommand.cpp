#include "ExportMediaCommand.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

#include "cli/CommandArguments.h"
#include "ExchangeCommandSupport.h"
#include "exchange/JSONImporter.h"
#include "library/LibraryQuery.h"
#include "store/Case.h"
#include "store/CoreDataStack.h"
#include "store/ManagedObjectContext.h"

namespace ovalis {

using namespace ExchangeCommandSupport;

int runExportMedia(const QString &library, const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Copies the media files of the cases that list would print into DIR: one folder per patient\n"
        "identifier, in it one per date of diagnosis, the files numbered 00001, 00002, ... in display\n"
        "order. Cases none of whose files are in the library are skipped."));
    parser.addHelpOption();
    const QCommandLineOption searchOption(QStringLiteral("search"), QStringLiteral("Text to find, ignoring case and accents."),
                                          QStringLiteral("TEXT"));
    const QCommandLineOption tagOption(QStringLiteral("tag"), QStringLiteral("A tag every exported case carries (repeatable)."),
                                       QStringLiteral("LABEL"));
    parser.addOptions({searchOption, tagOption});
    parser.addPositionalArgument(QStringLiteral("DIR"), QStringLiteral("The folder to export into (made when missing)."));
    CommandArguments::parse(parser, QStringLiteral("export-media"), arguments);
    if (parser.positionalArguments().size() != 1)
        return fail(QStringLiteral("export-media needs one folder (see ovalis-cli export-media --help)"), 1);
    const QString folder = QFileInfo(parser.positionalArguments().first()).absoluteFilePath();
    if (!QDir().mkpath(folder))
        return fail(QStringLiteral("the folder %1 could not be made").arg(folder), 3);
    CoreDataStack stack(library);
    if (!open(stack))
        return 2;
    const Predicate predicate = LibraryQuery::casePredicate(
        parser.values(tagOption), LibraryQuery::searchPredicate(parser.value(searchOption), LibraryQuery::SearchScope::All));
    QList<ObjectID> cases;
    for (const ManagedObject *object : stack.mainContext()->arrayOfObjects(Case::entityName(), predicate))
        cases.append(object->objectID());
    TerminalProgress progress;
    bool done = false;
    JSONImporter::MediaExportSummary summary;
    JSONImporter(QUrl::fromLocalFile(folder)).exportMedia(cases, stack.mainContext(), [&](const auto &result) {
        summary = result;
        done = true;
    });
    waitFor(done);
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

} // namespace ovalis
