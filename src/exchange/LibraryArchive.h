#pragma once

#include <QString>
#include <QtGlobal>
#include <functional>

namespace ovalis {

class ManagedObjectContext;

// A whole-library backup: one plain tar archive holding the JSON backup
// (zstd-compressed, as "backup.json.zst"), every media file under its
// library path ("Media/E6/21/…") as it is, and "manifest.json" with each
// member's size and SHA-256. Both directions stream: no archive or media
// file is ever held whole in memory.
class LibraryArchive
{
public:
    // Called with the bytes handled so far and the total; answering false
    // cancels the run.
    using Progress = std::function<bool(qint64 done, qint64 total)>;

    struct Result {
        int cases = 0;
        int files = 0;
        bool cancelled = false;
        QString error; // empty when the run completed
        bool succeeded() const { return error.isEmpty() && !cancelled; }
    };

    static inline const QString recordsMember = QStringLiteral("backup.json.zst");
    static inline const QString manifestMember = QStringLiteral("manifest.json");

    // Writes the library of context (the main context, on the main thread)
    // to path. The archive is made under a hidden name beside path and takes
    // path's name only once complete; a failure or a cancel leaves nothing.
    static Result write(ManagedObjectContext *context, const QString &path, const Progress &progress = {});

    // Reads the archive at path whole and checks every member against the
    // manifest before anything changes; a damaged archive or a mismatch is
    // refused with the member named. Then adds its cases as a JSON restore
    // does and moves its media files into the library (a file whose path
    // the library already holds is kept). On the main thread.
    static Result restore(const QString &path, ManagedObjectContext *context, const Progress &progress = {});
};

} // namespace ovalis
