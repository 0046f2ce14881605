#include "RestoreLibraryCommand.h"

#include <QCommandLineParser>
#include <QFileInfo>

#include "cli/CommandArguments.h"
#include "ExchangeCommandSupport.h"
#include "exchange/LibraryArchive.h"
#include "store/CoreDataStack.h"

namespace ovalis {

using namespace ExchangeCommandSupport;

int runRestoreLibrary(const QString &library, const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Restores a whole-library archive written by backup-library. Every member is checked against the\n"
        "archive's manifest first; a damaged archive or a checksum mismatch changes nothing. The cases are\n"
        "added as restore-backup adds them, and the media files are moved into the library."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The archive to read."));
    const QCommandLineOption into(QStringLiteral("into"), QStringLiteral("The library to restore into (default: --library)."),
                                  QStringLiteral("DIR"));
    parser.addOption(into);
    CommandArguments::parse(parser, QStringLiteral("restore-library"), arguments);
    if (parser.positionalArguments().size() != 1)
        return fail(QStringLiteral("restore-library needs one FILE (see ovalis-cli restore-library --help)"), 1);
    const QString path = QFileInfo(parser.positionalArguments().first()).absoluteFilePath();
    const std::unique_ptr<CoreDataStack> stack = openLibrary(parser.isSet(into) ? QFileInfo(parser.value(into)).absoluteFilePath() : library);
    if (!stack)
        return 2;
    LibraryArchive::Result result;
    {
        TerminalByteProgress progress(QStringLiteral("Restoring…"));
        result = LibraryArchive::restore(path, stack->mainContext(), progress.progress());
    }
    if (!result.succeeded())
        return fail(QStringLiteral("nothing was restored from %1: %2").arg(path, result.error), 3);
    out() << "Restored " << result.cases << " cases and " << result.files << " media files from " << path << Qt::endl;
    return 0;
}

} // namespace ovalis
