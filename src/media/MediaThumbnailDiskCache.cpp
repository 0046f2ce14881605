#include "media/MediaThumbnailDiskCache.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryFile>
#include <QStandardPaths>

#include "store/MediaUuid.h"

namespace ovalis {

namespace {
constexpr int jpegQuality = 88;
const QString opaqueSuffix = QStringLiteral(".jpg");
const QString transparentSuffix = QStringLiteral(".png");
} // namespace

MediaThumbnailDiskCache::MediaThumbnailDiskCache(const QString &directory)
    : m_directory(directory)
{
}

QString MediaThumbnailDiskCache::defaultDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/thumbnails");
}

std::optional<MediaThumbnailDiskCache::FileStamp> MediaThumbnailDiskCache::stampOf(const QString &path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isFile())
        return std::nullopt;
    return FileStamp{info.lastModified().toMSecsSinceEpoch(), info.size()};
}

QString MediaThumbnailDiskCache::folderFor(const QString &uuid) const
{
    // Spread over folders named by the uuid's first two characters.
    return m_directory + QLatin1Char('/') + uuid.left(2).toUpper();
}

QString MediaThumbnailDiskCache::baseName(const QString &uuid, int side, const FileStamp &stamp) const
{
    return folderFor(uuid) + QStringLiteral("/%1-%2-%3-%4").arg(uuid).arg(side).arg(stamp.modified).arg(stamp.size);
}

QImage MediaThumbnailDiskCache::read(const QString &uuid, int side, const FileStamp &stamp) const
{
    if (m_directory.isEmpty() || !MediaUuid::isValid(uuid))
        return {};
    const QString base = baseName(uuid, side, stamp);
    for (const QString &suffix : {opaqueSuffix, transparentSuffix}) {
        QImageReader reader(base + suffix);
        const QImage image = reader.read();
        if (!image.isNull())
            return image.hasAlphaChannel() ? image.convertToFormat(QImage::Format_ARGB32_Premultiplied)
                                           : image.convertToFormat(QImage::Format_RGB32);
    }
    return {};
}

bool MediaThumbnailDiskCache::write(const QString &uuid, int side, const FileStamp &stamp, const QImage &image) const
{
    if (m_directory.isEmpty() || !MediaUuid::isValid(uuid) || image.isNull())
        return false;
    const QString folder = folderFor(uuid);
    if (!QDir().mkpath(folder))
        return false;
    const bool transparent = image.hasAlphaChannel();
    const QString path = baseName(uuid, side, stamp) + (transparent ? transparentSuffix : opaqueSuffix);
    // Written beside and renamed into place, so that no reader sees half a
    // file; not synced to disk: a thumbnail lost in a crash is made again.
    QTemporaryFile file(folder + QStringLiteral("/.XXXXXX"));
    if (!file.open())
        return false;
    QImageWriter writer(&file, transparent ? QByteArrayLiteral("png") : QByteArrayLiteral("jpeg"));
    if (!transparent)
        writer.setQuality(jpegQuality);
    if (!writer.write(image))
        return false;
    file.close();
    QFile::remove(path);
    if (!file.rename(path))
        return false;
    file.setAutoRemove(false);

    const QString current = QFileInfo(path).fileName();
    const QStringList versions = QDir(folder).entryList({QStringLiteral("%1-%2-*").arg(uuid).arg(side)}, QDir::Files);
    for (const QString &name : versions)
        if (name != current)
            QFile::remove(folder + QLatin1Char('/') + name);
    return true;
}

} // namespace ovalis
