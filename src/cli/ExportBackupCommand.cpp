#include "ExportBackupCommand.h"

#include "ExchangeCommandSupport.h"
#include "exchange/JSONImporter.h"
#include "store/CoreDataStack.h"
#include "store/ManagedObjectContext.h"

namespace ovalis {

using namespace ExchangeCommandSupport;

int runExportBackup(const QString &library, const QStringList &arguments)
{
    const FileCommand command = openFileCommand(
        library, QStringLiteral("export-backup"),
        QStringLiteral("Writes every case of the library (text, dates, tags and media records, not the media files)\n"
                       "to FILE as a JSON backup, replacing FILE only once the new backup is complete."),
        QStringLiteral("FILE"), QStringLiteral("The backup file to write."), arguments);
    if (command.exitCode != 0)
        return command.exitCode;
    const QString &path = command.path;
    // Read on a reader of its own, on its thread, as the window does.
    const std::unique_ptr<ManagedObjectContext> reader = command.stack->contextForStore(command.stack->storePath(), true, false);
    if (!reader)
        return fail(QStringLiteral("the library could not be opened for reading"), 3);
    JSONImporter::ExportResult result;
    {
        TerminalCountProgress progress(QStringLiteral("Backing up…"), QStringLiteral("cases"));
        result = JSONImporter(QUrl::fromLocalFile(path)).exportDatabaseOnQueue(reader.get(), progress.progress());
    }
    if (!result.error.isEmpty())
        return fail(QStringLiteral("the backup %1 could not be written: %2").arg(path, result.error), 3);
    out() << "Wrote " << result.casesWritten << " cases to " << path << Qt::endl;
    return 0;
}

} // namespace ovalis
