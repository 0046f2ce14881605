#include "store/MediaFileStore.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QPainter>
#include <QSaveFile>
#include <QUuid>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <filesystem>
#include <system_error>
#include <unistd.h>

#include "store/CoreDataStack.h"
#include "store/MediaUuid.h"
#include "store/UuidDirectoryPath.h"
#include "util/Log.h"

namespace ovalis {

namespace {

bool fail(MediaWriteError *error, const QString &message)
{
    if (error)
        *error = MediaWriteError::runtimeError(message);
    return false;
}

std::filesystem::path fsPath(const QString &path)
{
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

QString errorText(const std::error_code &code)
{
    return QString::fromLocal8Bit(code.message());
}

QString newUuidString()
{
    return MediaUuid::generate();
}

QString absoluteString(const QUrl &url)
{
    return url.toString(QUrl::FullyEncoded);
}

} // namespace

QUrl MediaFileStore::mediaDirectoryURL(const CoreDataStack &stack)
{
    const QString directory = stack.mediaDirectory();
    return directory.isEmpty() ? QUrl() : QUrl::fromLocalFile(directory);
}

QUrl MediaFileStore::mediaFileURL(const QUrl &mediaDirectory, const QString &uuid, const QString &extension)
{
    if (!MediaUuid::isValid(uuid))
        return {};
    QString path = mediaDirectory.toLocalFile() + QLatin1Char('/') + uuidDirectoryPath(uuid) + QLatin1Char('/') + uuid;
    if (!extension.isEmpty())
        path += QLatin1Char('.') + extension;
    return QUrl::fromLocalFile(path);
}

QUrl MediaFileStore::urlWithExtension(const QUrl &url, const QString &extension)
{
    QString path = url.toLocalFile();
    const QString current = MediaTypes::extensionOf(path);
    if (!current.isEmpty())
        path.chop(current.size() + 1);
    if (!extension.isEmpty())
        path += QLatin1Char('.') + extension;
    return QUrl::fromLocalFile(path);
}

QUrl MediaFileStore::folderURL(const QUrl &url)
{
    return QUrl::fromLocalFile(QFileInfo(url.toLocalFile()).path());
}

QString MediaFileStore::lastPathComponent(const QUrl &url)
{
    return QFileInfo(url.toLocalFile()).fileName();
}

bool MediaFileStore::directoryExists(const QUrl &url)
{
    const QFileInfo info(url.toLocalFile());
    return info.exists() && info.isDir();
}

bool MediaFileStore::createDirectory(const QUrl &url, MediaWriteError *error)
{
    std::error_code code;
    const std::filesystem::path path = fsPath(url.toLocalFile());
    std::filesystem::create_directories(path, code);
    if (code)
        return fail(error, errorText(code));
    if (!std::filesystem::is_directory(path, code))
        return fail(error, QStringLiteral("Not a directory: ") + url.toLocalFile());
    return true;
}

bool MediaFileStore::writeDataAtomically(const QByteArray &data, const QUrl &url, MediaWriteError *error)
{
    QSaveFile file(url.toLocalFile());
    if (!file.open(QIODevice::WriteOnly))
        return fail(error, file.errorString());
    if (file.write(data) != data.size()) {
        const QString message = file.errorString();
        file.cancelWriting();
        return fail(error, message);
    }
    if (!file.commit())
        return fail(error, file.errorString());
    return true;
}

namespace {

// Copies the whole of in to out, letting the kernel move the bytes where it can.
bool copyContents(int in, int out, qint64 size)
{
    qint64 copied = 0;
    while (copied < size) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, size_t(size - copied), 0);
        if (n <= 0)
            break;
        copied += n;
    }
    if (copied == size)
        return true;
    // File systems without copy_file_range between them: copy through a buffer.
    if (::lseek(in, copied, SEEK_SET) < 0 || ::lseek(out, copied, SEEK_SET) < 0)
        return false;
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), size_t(buffer.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n == 0;
        for (ssize_t written = 0; written < n;) {
            const ssize_t w = ::write(out, buffer.constData() + written, size_t(n - written));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                return false;
            written += w;
        }
    }
}

QString systemError(int code)
{
    return QString::fromLocal8Bit(strerror(code));
}

} // namespace

bool MediaFileStore::copyFileUnsynced(const QString &from, const QUrl &to, MediaWriteError *error)
{
    const QByteArray destination = QFile::encodeName(to.toLocalFile());
    const int in = ::open(QFile::encodeName(from).constData(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (in < 0 || ::fstat(in, &info) != 0) {
        const int code = errno;
        if (in >= 0)
            ::close(in);
        return fail(error, systemError(code));
    }
    // A hidden temporary name beside the destination, renamed into place
    // when whole, so the destination never holds part of a file.
    const QByteArray temporary = QFile::encodeName(QFileInfo(to.toLocalFile()).path()) + "/."
                                 + QUuid::createUuid().toString(QUuid::Id128).toLatin1() + ".part";
    const int out = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (out < 0) {
        const int code = errno;
        ::close(in);
        return fail(error, systemError(code));
    }
    bool copied = copyContents(in, out, qint64(info.st_size));
    int code = errno;
    if (copied) {
        // Starts the write-out now, so that the flush before the save has
        // little left to wait for.
        ::sync_file_range(out, 0, 0, SYNC_FILE_RANGE_WRITE);
    }
    ::close(in);
    if (::close(out) != 0 && copied) {
        copied = false;
        code = errno;
    }
    if (copied && ::renameat2(AT_FDCWD, temporary.constData(), AT_FDCWD, destination.constData(), RENAME_NOREPLACE) != 0) {
        copied = false;
        code = errno;
    }
    if (!copied) {
        ::unlink(temporary.constData());
        return fail(error, systemError(code));
    }
    return true;
}

bool MediaFileStore::flushToDisk(const QUrl &directory, MediaWriteError *error)
{
    const int fd = ::open(QFile::encodeName(directory.toLocalFile()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return fail(error, systemError(errno));
    const bool flushed = ::syncfs(fd) == 0;
    const int code = errno;
    ::close(fd);
    if (!flushed)
        return fail(error, systemError(code));
    return true;
}

bool MediaFileStore::copyItem(const QUrl &from, const QUrl &to, MediaWriteError *error)
{
    QFile source(from.toLocalFile());
    if (!source.copy(to.toLocalFile()))
        return fail(error, source.errorString());
    return true;
}

bool MediaFileStore::moveItem(const QUrl &from, const QUrl &to, MediaWriteError *error)
{
    QFile source(from.toLocalFile());
    if (!source.rename(to.toLocalFile()))
        return fail(error, source.errorString());
    return true;
}

bool MediaFileStore::removeItem(const QUrl &url, MediaWriteError *error)
{
    QFile file(url.toLocalFile());
    if (!file.remove())
        return fail(error, file.errorString());
    return true;
}

bool MediaFileStore::swapItems(const QUrl &a, const QUrl &b, MediaWriteError *error)
{
    const QUrl temporary = QUrl::fromLocalFile(folderURL(b).toLocalFile() + QLatin1Char('/') + newUuidString());
    return moveItem(b, temporary, error) && moveItem(a, b, error) && moveItem(temporary, a, error);
}

bool MediaFileStore::writeImage(const QImage &image, const QUrl &url, MediaType type, MediaWriteError *error)
{
    const QString path = url.toLocalFile();
    Log::info(LogArea::Filing, QStringLiteral("Write image to ") + path);
    const QByteArray format = MediaTypes::writerFormat(type);
    QImage source = image;
    if (type == MediaType::JPEG && image.hasAlphaChannel()) {
        // JPEG has no transparency; transparent parts show the white they would be shown on.
        source = QImage(image.size(), QImage::Format_RGB32);
        source.setDevicePixelRatio(image.devicePixelRatio());
        source.fill(Qt::white);
        QPainter painter(&source);
        painter.drawImage(0, 0, image);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (image.isNull() || format.isEmpty() || !writer.write(source)) {
        Log::error(LogArea::Filing, QStringLiteral("Failed to get JPEG data from image"));
        return true;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return fail(error, file.errorString());
    if (file.write(bytes) != bytes.size())
        return fail(error, file.errorString());
    file.close();
    if (file.error() != QFileDevice::NoError)
        return fail(error, file.errorString());
    return true;
}

bool MediaFileStore::backupMediaFile(const QUrl &source, const QUrl &backup, MediaWriteError *error)
{
    Log::info(LogArea::Filing, QStringLiteral("Backup media file from\r\t") + source.toLocalFile() + QStringLiteral(" to\r\t")
                                   + backup.toLocalFile());
    const QUrl folder = folderURL(backup);
    if (!directoryExists(folder) && !createDirectory(folder, error))
        return false;
    return copyItem(source, backup, error);
}

void MediaFileStore::removeMediaFile(const QUrl &url)
{
    MediaWriteError error;
    if (!removeItem(url, &error) || !deleteEmptyFolders(url, &error))
        Log::error(LogArea::Filing, QStringLiteral("Error deleting URL: ") + absoluteString(url) + QLatin1Char(' ') + error.message());
}

bool MediaFileStore::deleteEmptyFolders(const QUrl &url, MediaWriteError *error,
                                        const std::function<void(const QString &folder)> &afterListing)
{
    QString folder = QFileInfo(url.toLocalFile()).path();
    Log::info(LogArea::Filing, QStringLiteral("Recursively delete empty folders at ") + absoluteString(QUrl::fromLocalFile(folder + QLatin1Char('/'))));
    for (;;) {
        const QDir directory(folder);
        if (!directory.exists())
            return fail(error, QStringLiteral("The folder %1 does not exist.").arg(folder));
        if (!QFileInfo(folder).isReadable())
            return fail(error, QStringLiteral("The folder %1 cannot be read.").arg(folder));
        // System keeps sockets and broken links in the listing.
        const QStringList entries = directory.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        for (const QString &entry : entries)
            if (!entry.startsWith(QLatin1Char('.')))
                return true;
        if (afterListing)
            afterListing(folder);
        for (const QString &entry : entries) {
            // A hidden folder goes whole; the program writes nothing inside one.
            std::error_code code;
            std::filesystem::remove_all(fsPath(directory.filePath(entry)), code);
            if (code)
                return fail(error, errorText(code));
        }
        if (::rmdir(QFile::encodeName(folder).constData()) != 0) {
            // Something arrived after the listing: the folder is in use again.
            if (errno == ENOTEMPTY || errno == EEXIST)
                return true;
            if (errno != ENOENT)
                return fail(error, systemError(errno));
        }
        const QString parent = QFileInfo(folder).path();
        if (parent == folder)
            return true;
        folder = parent;
    }
}

} // namespace ovalis
