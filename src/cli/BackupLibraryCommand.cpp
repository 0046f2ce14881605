#include "BackupLibraryCommand.h"

#include <QFileInfo>

#include "ExchangeCommandSupport.h"
#include "exchange/LibraryArchive.h"
#include "store/CoreDataStack.h"

namespace ovalis {

using namespace ExchangeCommandSupport;

int runBackupLibrary(const QString &library, const QStringList &arguments)
{
    const QString argument = singleArgument(
        QStringLiteral("backup-library"),
        QStringLiteral("Writes the whole library to FILE: one tar archive holding every case (as a compressed JSON\n"
                       "backup), every media file, and a manifest of their sizes and SHA-256 checksums. FILE is\n"
                       "replaced only once the new archive is complete."),
        QStringLiteral("FILE"), QStringLiteral("The archive to write."), arguments);
    if (argument.isEmpty())
        return 1;
    const QString path = QFileInfo(argument).absoluteFilePath();
    CoreDataStack stack(library);
    if (!open(stack))
        return 2;
    const LibraryArchive::Result result = LibraryArchive::write(stack.mainContext(), path);
    if (!result.succeeded())
        return fail(QStringLiteral("the backup %1 could not be written: %2").arg(path, result.error), 3);
    out() << "Backed up " << result.cases << " cases and " << result.files << " media files to " << path << Qt::endl;
    return 0;
}

} // namespace ovalis
