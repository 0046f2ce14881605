#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <functional>
#include <memory>

class QTemporaryDir;

namespace ovalis {

class ManagedObjectContext;

// A whole-library backup: one plain tar archive holding the JSON backup
// (zstd-compressed, as "backup.json.zst"), every media file under its
// library path ("Media/E6/21/…") as it is, and "manifest.json" with each
// member's size and SHA-256. Both directions stream: no archive or media
// file is ever held whole in memory.
//
// Each direction has a step that needs the main context (exporting the
// records; moving the files in and adding the cases) and a step that only
// handles bytes (compressing, hashing and writing the archive; reading,
// checking and staging it), which may run on any thread.
class LibraryArchive
{
public:
    // Called, on the thread doing the byte work, with the bytes handled so
    // far and the total; answering false cancels the run.
    using Progress = std::function<bool(qint64 done, qint64 total)>;

    struct Result {
        int cases = 0;
        int files = 0;
        bool cancelled = false;
        QString error; // empty when the run completed
        bool succeeded() const { return error.isEmpty() && !cancelled; }
    };

    // The records exported for a backup, waiting for the byte work.
    struct ExportedRecords {
        QString records; // the JSON backup, a hidden file beside the archive
        QString mediaDirectory;
        int cases = 0;
    };

    // The members of a checked archive, staged in the library, waiting to
    // move in; the staging folder goes when the last copy of this goes.
    struct StagedRestore {
        std::shared_ptr<QTemporaryDir> staging;
        QString records; // the decompressed JSON backup
        QString media;   // the staged "Media" folder, laid out as in the library
    };

    static inline const QString recordsMember = QStringLiteral("backup.json.zst");
    static inline const QString manifestMember = QStringLiteral("manifest.json");

    // Writes the library of context (the main context, on the main thread)
    // to path: exportRecords, then writeArchive. The archive is made under a
    // hidden name beside path and takes path's name only once complete and
    // on disk; a failure or a cancel leaves nothing.
    static Result write(ManagedObjectContext *context, const QString &path, const Progress &progress = {});
    // The first step of write, on the main thread. On failure, nothing is left.
    static Result exportRecords(ManagedObjectContext *context, const QString &path, ExportedRecords *exported);
    // The second step of write, on any thread; removes the exported records.
    static Result writeArchive(const ExportedRecords &exported, const QString &path, const Progress &progress = {});

    // Reads the archive at path whole and checks every member against the
    // manifest before anything changes; a damaged archive or a mismatch is
    // refused with the member named. Then adds its cases as a JSON restore
    // does and moves its media files into the library (a file whose path
    // the library already holds is kept): unpack, then moveIn. On the main
    // thread.
    static Result restore(const QString &path, ManagedObjectContext *context, const Progress &progress = {});
    // The first step of restore, on any thread: reads, checks and stages the
    // archive inside the library folder. On failure, nothing is left.
    static Result unpack(const QString &path, const QString &libraryDirectory, const Progress &progress, StagedRestore *staged);
    // The second step of restore, on the main thread: moves the staged files
    // into the library and adds the cases; on failure the library is as it was.
    static Result moveIn(const StagedRestore &staged, ManagedObjectContext *context);
};

} // namespace ovalis
