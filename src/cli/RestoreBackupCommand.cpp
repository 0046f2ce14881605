#include "RestoreBackupCommand.h"

#include "ExchangeCommandSupport.h"
#include "exchange/JSONImporter.h"
#include "store/CoreDataStack.h"
#include "store/ManagedObjectContext.h"

namespace ovalis {

using namespace ExchangeCommandSupport;

int runRestoreBackup(const QString &library, const QStringList &arguments)
{
    const FileCommand command = openFileCommand(
        library, QStringLiteral("restore-backup"),
        QStringLiteral("Adds one new case for every case in the JSON backup FILE (restoring a file twice gives every\n"
                       "case twice). Media records come back without their files, which count as missing until they\n"
                       "are copied into the library. A media identifier already used in the library (or earlier in\n"
                       "the file) is replaced by a new one, and the file it names, when present, is copied for it.\n"
                       "A file with a missing or wrongly typed value, or a media identifier that is not a UUID,\n"
                       "changes nothing."),
        QStringLiteral("FILE"), QStringLiteral("The backup file to read."), arguments);
    if (command.exitCode != 0)
        return command.exitCode;
    const QString &path = command.path;
    TerminalProgress progress;
    bool done = false;
    JSONImporter::RestoreSummary summary;
    JSONImporter(QUrl::fromLocalFile(path)).importBackup(command.stack->mainContext(), [&](const auto &result) {
        summary = result;
        done = true;
    });
    waitFor(done);
    if (!summary.error.isEmpty())
        return fail(QStringLiteral("nothing was restored from %1: %2").arg(path, summary.error), 3);
    if (summary.unsaved || command.stack->mainContext()->hasChanges())
        return fail(QStringLiteral("the restored cases could not be saved"), 3);
    out() << "Read " << summary.casesRead << " cases from " << path << " (" << summary.mediaRecords - summary.mediaFilesCopied
          << " media records without files, " << summary.tagsCreated << " new tags)";
    if (summary.mediaRenamed > 0)
        out() << "; " << summary.mediaRenamed << " media identifiers already in use were replaced, "
              << summary.mediaFilesCopied << " files copied";
    out() << Qt::endl;
    return 0;
}

} // namespace ovalis
