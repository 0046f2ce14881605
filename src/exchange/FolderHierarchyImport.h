#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace ovalis {

class ManagedObjectContext;

// Turns a tree of folders holding images into cases: each leaf folder that
// holds something, stripped of trailing examination and view folders
// ("MRI", "sag T1", "Day 3", "scan_2" …), is a case folder; the folder
// above a "Case 12" folder names the case and gives its summary, the
// folders from it up to the chosen root give its tags, and every accepted
// image or movie file below the case folder becomes its media, in path
// order. Nothing outside the chosen root is ever read: stripping stops at the
// root, hidden entries are skipped and symbolic links are not followed.
class FolderHierarchyImport
{
public:
    struct Summary {
        int caseFolders = 0;
        int casesImported = 0;
        int mediaCopied = 0;
        // "path: reason" for each visible file that did not become media.
        QStringList skippedFiles;
    };

    // The 22 patterns of folder names that stand for an examination, a view
    // or a sequence rather than a case, in the order they are tried.
    static const QStringList &viewFolderPatterns();
    // A folder named "case" (any capitals), one space and a number.
    static QString caseNumberPattern();
    // Tags this run made whose labels match it are removed at the end.
    static QString caseTagPattern();

    // Whether the pattern finds a match anywhere in name (one that does not
    // compile finds none).
    static bool matches(const QString &pattern, const QString &name);
    // The folders below folder without visible subfolders, or folder itself
    // when it has none. Folders that cannot be listed have no subfolders.
    static QStringList leafFolders(const QString &folder);
    // Removes trailing components of path while the last one matches one of
    // the patterns, but never goes above root (when given).
    static QString stripTrailingFolders(const QString &path, const QStringList &patterns, const QString &root = QString());
    // The case folders below root: sorted by path, each once.
    static QStringList caseFolders(const QString &root);
    // Ascending by code point after canonical composition.
    static bool pathLess(const QString &a, const QString &b);

    // Starts the import of the tree at root into mainContext and returns at
    // once: the walk runs on a serial "Import" queue, the cases are made on a
    // private child of mainContext, saved every 100 case folders and at the
    // end. Progress goes to "Update Labelled Progress"; finished runs on the
    // main thread after the last save. Call on the main thread.
    static void importFolderHierarchy(const QString &root, ManagedObjectContext *mainContext,
                                      std::function<void(const Summary &)> finished = {});
};

} // namespace ovalis
