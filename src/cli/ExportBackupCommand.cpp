#include "ExportBackupCommand.h"

#include <QFileInfo>

#include "ExchangeCommandSupport.h"
#include "exchange/JSONImporter.h"
#include "store/CoreDataStack.h"

namespace ovalis {

using namespace ExchangeCommandSupport;

int runExportBackup(const QString &library, const QStringList &arguments)
{
    const QString argument = singleArgument(
        QStringLiteral("export-backup"),
        QStringLiteral("Writes every case of the library (text, dates, tags and media records, not the media files)\n"
                       "to FILE as a JSON backup, replacing FILE only once the new backup is complete."),
        QStringLiteral("FILE"), QStringLiteral("The backup file to write."), arguments);
    if (argument.isEmpty())
        return 1;
    const QString path = QFileInfo(argument).absoluteFilePath();
    CoreDataStack stack(library);
    if (!open(stack))
        return 2;
    const JSONImporter::ExportResult result = JSONImporter(QUrl::fromLocalFile(path)).exportDatabase(stack.mainContext());
    if (!result.error.isEmpty())
        return fail(QStringLiteral("the backup %1 could not be written: %2").arg(path, result.error), 3);
    out() << "Wrote " << result.casesWritten << " cases to " << path << Qt::endl;
    return 0;
}

} // namespace ovalis
