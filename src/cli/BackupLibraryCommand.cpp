#include "BackupLibraryCommand.h"

#include <QDate>

#include "ExchangeCommandSupport.h"
#include "exchange/BackupReminder.h"
#include "exchange/LibraryArchive.h"
#include "store/CoreDataStack.h"

namespace ovalis {

using namespace ExchangeCommandSupport;

int runBackupLibrary(const QString &library, const QStringList &arguments)
{
    const FileCommand command = openFileCommand(
        library, QStringLiteral("backup-library"),
        QStringLiteral("Writes the whole library to FILE: one tar archive holding every case (as a compressed JSON\n"
                       "backup), every media file, and a manifest of their sizes and SHA-256 checksums. FILE is\n"
                       "replaced only once the new archive is complete."),
        QStringLiteral("FILE"), QStringLiteral("The archive to write."), arguments);
    if (command.exitCode != 0)
        return command.exitCode;
    const QString &path = command.path;
    LibraryArchive::Result result;
    {
        TerminalByteProgress progress(QStringLiteral("Backing up…"));
        result = LibraryArchive::write(command.stack->mainContext(), path, progress.progress());
    }
    if (!result.succeeded())
        return fail(QStringLiteral("the backup %1 could not be written: %2").arg(path, result.error), 3);
    // Known to the window's reminder, as a backup made there is.
    BackupReminder::recordBackup(QDate::currentDate());
    out() << "Backed up " << result.cases << " cases and " << result.files << " media files to " << path << Qt::endl;
    return 0;
}

} // namespace ovalis
