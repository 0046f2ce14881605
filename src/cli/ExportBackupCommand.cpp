#include "ExportBackupCommand.h"

#include "ExchangeCommandSupport.h"
#include "exchange/JSONImporter.h"
#include "store/CoreDataStack.h"

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
    const JSONImporter::ExportResult result = JSONImporter(QUrl::fromLocalFile(path)).exportDatabase(command.stack->mainContext());
    if (!result.error.isEmpty())
        return fail(QStringLiteral("the backup %1 could not be written: %2").arg(path, result.error), 3);
    out() << "Wrote " << result.casesWritten << " cases to " << path << Qt::endl;
    return 0;
}

} // namespace ovalis
