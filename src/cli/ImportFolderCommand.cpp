#include "ImportFolderCommand.h"

#include <QFileInfo>

#include "ExchangeCommandSupport.h"
#include "exchange/FolderHierarchyImport.h"
#include "store/CoreDataStack.h"
#include "store/ManagedObjectContext.h"

namespace ovalis {

using namespace ExchangeCommandSupport;

int runImportFolder(const QString &library, const QStringList &arguments)
{
    const QString argument = singleArgument(
        QStringLiteral("import-folder"),
        QStringLiteral("Imports a tree of folders holding images as cases. Each folder without subfolders that holds\n"
                       "something, less trailing examination and view folders (MRI, CT, sag T1, Day 3, scan_2, ...), is a\n"
                       "case; the folder above a \"Case 12\" folder gives the summary, the folders up to DIR the tags,\n"
                       "and the JPEG, PNG, GIF, TIFF and movie files below the case folder its media."),
        QStringLiteral("DIR"), QStringLiteral("The root folder of the tree."), arguments);
    if (argument.isEmpty())
        return 1;
    const QFileInfo root(argument);
    if (!root.isDir() || !root.isReadable())
        return fail(QStringLiteral("%1 is not a folder that can be read").arg(root.absoluteFilePath()), 3);
    CoreDataStack stack(library);
    if (!open(stack))
        return 2;
    TerminalProgress progress;
    bool done = false;
    FolderHierarchyImport::Summary summary;
    FolderHierarchyImport::importFolderHierarchy(root.absoluteFilePath(), stack.mainContext(), [&](const auto &result) {
        summary = result;
        done = true;
    });
    waitFor(done);
    if (stack.mainContext()->hasChanges())
        return fail(QStringLiteral("the imported cases could not be saved"), 3);
    out() << "Imported " << summary.casesImported << " cases with " << summary.mediaCopied << " media files from "
          << root.absoluteFilePath() << Qt::endl;
    for (const QString &skipped : std::as_const(summary.skippedFiles))
        out() << "Skipped " << skipped << Qt::endl;
    return 0;
}

} // namespace ovalis
