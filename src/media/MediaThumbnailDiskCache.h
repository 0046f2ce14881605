#pragma once

#include <QDateTime>
#include <QImage>
#include <QString>
#include <optional>

namespace ovalis {

// Thumbnails kept on disk between runs, one file per media uuid and
// thumbnail size, named after the modification time and size of the file
// they were made from, so that a changed file misses.
//
// Thread-safe: reads and writes work on whole files (writes through a
// temporary renamed into place). Never used on the UI thread.
class MediaThumbnailDiskCache
{
public:
    // What tells one version of a media file from another.
    struct FileStamp {
        qint64 modified = 0; // milliseconds since the epoch
        qint64 size = -1;
        friend bool operator==(const FileStamp &a, const FileStamp &b)
        {
            return a.modified == b.modified && a.size == b.size;
        }
    };

    explicit MediaThumbnailDiskCache(const QString &directory);

    // The user's cache location + "thumbnails".
    static QString defaultDirectory();
    // The stamp of the file at path; nothing when there is no such file.
    static std::optional<FileStamp> stampOf(const QString &path);

    QString directory() const { return m_directory; }
    // The cached thumbnail's file (whether it exists or not), without extension.
    QString baseName(const QString &uuid, int side, const FileStamp &stamp) const;
    // Only a uuid in the 8-4-4-4-12 form names a cached file; any other
    // misses on reading and is not written.
    // A null image on a miss.
    QImage read(const QString &uuid, int side, const FileStamp &stamp) const;
    // Stores the thumbnail (JPEG, or PNG when it has transparency) and
    // removes the ones of older versions of the same file at that size.
    bool write(const QString &uuid, int side, const FileStamp &stamp, const QImage &image) const;

private:
    QString folderFor(const QString &uuid) const;

    QString m_directory;
};

} // namespace ovalis
