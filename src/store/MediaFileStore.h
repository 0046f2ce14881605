#pragma once

#include <QByteArray>
#include <QImage>
#include <QUrl>
#include <functional>

#include "store/MediaTypes.h"
#include "store/MediaWriteError.h"

namespace ovalis {

class CoreDataStack;

// The file operations behind the media records: where media files live and
// how they are written, copied, moved, backed up and removed. All URLs are
// local file URLs.
//
// Thread-safe: every function works on its arguments only and runs on the
// calling thread. Functions that can fail answer false (or nothing), fill in
// `error` when it is given, and leave the logging of that failure to their
// caller unless they say otherwise.
class MediaFileStore
{
public:
    // The stack's library directory + "Media"; empty until its store is loaded.
    static QUrl mediaDirectoryURL(const CoreDataStack &stack);
    // mediaDirectory / uuidDirectoryPath(uuid) / uuid, with "." + extension
    // when the extension is not empty. An empty URL when the uuid is not in
    // the 8-4-4-4-12 form (MediaUuid), so that no identifier read from a
    // file or a peer can lead out of its folder.
    static QUrl mediaFileURL(const QUrl &mediaDirectory, const QString &uuid, const QString &extension);

    // The URL with its last component's extension replaced (or added; removed
    // when extension is empty).
    static QUrl urlWithExtension(const QUrl &url, const QString &extension);
    // The folder holding the URL's last component.
    static QUrl folderURL(const QUrl &url);
    static QString lastPathComponent(const QUrl &url);

    // True only when something exists at the path and it is a directory.
    static bool directoryExists(const QUrl &url);
    // Creates the directory with intermediate directories; an existing directory is success.
    static bool createDirectory(const QUrl &url, MediaWriteError *error = nullptr);

    // Writes through a temporary file renamed over the destination on
    // success, so the destination never holds a partial file.
    static bool writeDataAtomically(const QByteArray &data, const QUrl &url, MediaWriteError *error = nullptr);
    // Copies the file through a hidden temporary file renamed into place,
    // refusing an existing destination, without waiting for the disk: the kernel is
    // asked to start writing it out, and flushToDisk() must be called before
    // anything that relies on the copy (a saved media record) is committed.
    // Lets an import of thousands of files wait for the disk once per batch
    // instead of once per file.
    static bool copyFileUnsynced(const QString &from, const QUrl &to, MediaWriteError *error = nullptr);
    // Waits until everything written to the file system holding the
    // directory is on the disk.
    static bool flushToDisk(const QUrl &directory, MediaWriteError *error = nullptr);
    // Copy and move refuse an existing destination.
    static bool copyItem(const QUrl &from, const QUrl &to, MediaWriteError *error = nullptr);
    static bool moveItem(const QUrl &from, const QUrl &to, MediaWriteError *error = nullptr);
    static bool removeItem(const QUrl &url, MediaWriteError *error = nullptr);
    // Exchanges two files through a temporary name in b's folder.
    static bool swapItems(const QUrl &a, const QUrl &b, MediaWriteError *error = nullptr);

    // Encodes the image as the type (JPEG, PNG or TIFF) and writes it, not
    // atomically. An image that cannot be encoded is logged and is not an
    // error; only a failed write is.
    static bool writeImage(const QImage &image, const QUrl &url, MediaType type, MediaWriteError *error = nullptr);

    // Copies source to backup, making backup's folder when missing.
    static bool backupMediaFile(const QUrl &source, const QUrl &backup, MediaWriteError *error = nullptr);

    // Removes the file and then its emptied folders, logging any failure.
    // Runs on the stack's file-deletion queue.
    static void removeMediaFile(const QUrl &url);
    // From the URL's folder upwards, removes each folder that holds no visible
    // entry, stopping at the first that does. The hidden entries listed go by
    // name, then the folder itself with rmdir, so that a file written there
    // meanwhile (an import, a peer's file under its hidden temporary name)
    // keeps the folder rather than going with it. afterListing, when given,
    // runs between each folder's listing and its removal.
    static bool deleteEmptyFolders(const QUrl &url, MediaWriteError *error = nullptr,
                                   const std::function<void(const QString &folder)> &afterListing = {});
};

} // namespace ovalis
