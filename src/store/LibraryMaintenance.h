#pragma once

#include <QString>
#include <memory>

namespace ovalis {

class ManagedObjectContext;
struct MediaDirectoryScan;

// The library's repair and report commands. They work on the main context on
// the main thread and do not save (the history purge excepted): their changes
// reach the file with the next save. Their only output is the log.
class LibraryMaintenance
{
public:
    explicit LibraryMaintenance(ManagedObjectContext *context); // Not owned; needs a context on a stack.

    // Orphan records, then orphan files, then empty folders.
    void deleteOrphanedMedia();
    void deleteOrphanedRecords();
    // False, deleting nothing, when the media records could not be fetched.
    bool deleteOrphanedFiles();
    void deleteEmptyMediaFolders();

    void logCoreDataCount();
    void logTags();
    void correctDateAdded();
    void deleteAllData();
    void resetCloudKitHistory();

private:
    QString mediaDirectory() const;
    void scanMediaDirectory();

    ManagedObjectContext *m_context;
    std::shared_ptr<MediaDirectoryScan> m_scan; // the last walk of the media folders, for the next step
};

} // namespace ovalis
