#include "exchange/LibraryArchive.h"

#include <QDir>
#include <QDirIterator>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QUuid>
#include <archive.h>
#include <archive_entry.h>
#include <openssl/evp.h>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unistd.h>
#include <zstd.h>

#include "exchange/JSONImporter.h"
#include "store/CoreDataStack.h"
#include "store/ManagedObjectContext.h"

namespace ovalis {

namespace {

constexpr qint64 chunkSize = 1 << 20;
// Names the process that stages a restore in its folder.
const QString stagingOwnerFile = QStringLiteral("owner");

// A restore that was killed leaves its staging folder, with every file it had
// unpacked, in the library. Such folders are removed when their process has
// gone; one whose owner is unknown is left to the user.
void removeAbandonedStaging(const QString &libraryDirectory)
{
    const QStringList names = QDir(libraryDirectory).entryList({QStringLiteral(".restore-*")}, QDir::Dirs | QDir::Hidden);
    for (const QString &name : names) {
        QDir folder(libraryDirectory + u'/' + name);
        QFile owner(folder.filePath(stagingOwnerFile));
        if (!owner.open(QIODevice::ReadOnly))
            continue;
        bool valid = false;
        const qint64 pid = owner.read(32).trimmed().toLongLong(&valid);
        if (!valid || pid <= 0 || pid > std::numeric_limits<pid_t>::max())
            continue;
        if (::kill(pid_t(pid), 0) == 0 || errno != ESRCH)
            continue;
        folder.removeRecursively();
    }
}

// The manifest is read whole; a larger one is not one this program wrote.
constexpr qint64 manifestLimit = 64LL << 20;
// The decompressed records are read whole by the JSON restore.
constexpr qint64 recordsLimit = 4LL << 30;

struct MemberDigest {
    QString staged; // where its bytes wait to move into the library
    qint64 size = 0;
    QByteArray sha256; // hex
};

using ArchivePointer = std::unique_ptr<archive, int (*)(archive *)>;

// SHA-256 through libcrypto, which uses the processor's hashing
// instructions: several times faster than QCryptographicHash on the
// hundreds of megabytes of a library.
class Sha256
{
public:
    Sha256() : m_context(EVP_MD_CTX_new(), EVP_MD_CTX_free) { EVP_DigestInit_ex(m_context.get(), EVP_sha256(), nullptr); }
    void addData(const char *data, qint64 size) { EVP_DigestUpdate(m_context.get(), data, size_t(size)); }
    // The digest of everything added; starts over for the next data.
    QByteArray hexResult()
    {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        EVP_DigestFinal_ex(m_context.get(), digest, &length);
        EVP_DigestInit_ex(m_context.get(), EVP_sha256(), nullptr);
        return QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex();
    }

private:
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX *)> m_context;
};

// A SHA-256 computed on a thread of its own, so that hashing a chunk
// overlaps with reading or writing it (or the next one).
class BackgroundSha256
{
public:
    BackgroundSha256() : m_thread([this] { run(); }) {}
    ~BackgroundSha256()
    {
        wait();
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }

    // Hashes size bytes at data after those given before; data must stay
    // unchanged until wait() (or the next add or hexResult) returns.
    void add(const char *data, qint64 size)
    {
        wait();
        if (size < smallChunk) {
            m_hash.addData(data, size); // not worth a hand-over
            return;
        }
        {
            std::lock_guard lock(m_mutex);
            m_data = data;
            m_size = size;
        }
        m_changed.notify_all();
    }
    // Returns once the data given so far is hashed.
    void wait()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_data == nullptr; });
    }
    QByteArray hexResult()
    {
        wait();
        return m_hash.hexResult();
    }

private:
    static constexpr qint64 smallChunk = 64 * 1024;

    void run()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [this] { return m_stopping || m_data != nullptr; });
            if (m_stopping)
                return;
            const char *data = m_data;
            const qint64 size = m_size;
            lock.unlock();
            m_hash.addData(data, size);
            lock.lock();
            m_data = nullptr;
            m_changed.notify_all();
        }
    }

    Sha256 m_hash;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    const char *m_data = nullptr;
    qint64 m_size = 0;
    bool m_stopping = false;
    std::thread m_thread;
};

QString archiveError(archive *handle)
{
    const char *text = archive_error_string(handle);
    return text ? QString::fromLocal8Bit(text) : QStringLiteral("unknown error");
}

// Why writing what failed, in the user's words: a full disk is named as such.
QString writeFailure(const QString &what, int error)
{
    if (error == ENOSPC || error == EDQUOT)
        return QStringLiteral("cannot write %1: the disk is full").arg(what);
    return QStringLiteral("cannot write %1: the write failed (%2)").arg(what, QString::fromLocal8Bit(std::strerror(error)));
}

// A file written through its descriptor, keeping the reason of a failure.
class OutputFile
{
public:
    explicit OutputFile(const QString &path)
        : m_descriptor(::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666))
        , m_error(m_descriptor < 0 ? errno : 0)
    {
    }
    ~OutputFile() { close(); }
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    int descriptor() const { return m_descriptor; }
    // The errno of the first failure, 0 while there is none.
    int error() const { return m_error; }

    bool write(const char *data, qint64 size)
    {
        while (m_error == 0 && size > 0) {
            const ssize_t count = ::write(m_descriptor, data, size_t(size));
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0)
                m_error = count < 0 ? errno : ENOSPC;
            else {
                data += count;
                size -= count;
            }
        }
        return m_error == 0;
    }
    bool sync()
    {
        if (m_error == 0 && ::fsync(m_descriptor) != 0)
            m_error = errno;
        return m_error == 0;
    }
    bool close()
    {
        if (m_descriptor >= 0 && ::close(std::exchange(m_descriptor, -1)) != 0 && m_error == 0)
            m_error = errno;
        return m_error == 0;
    }

private:
    int m_descriptor;
    int m_error;
};

// A hidden name beside path for a file being made.
QString hiddenSibling(const QString &path, const QString &suffix)
{
    const QFileInfo info(path);
    return info.absolutePath() + QStringLiteral("/.") + info.fileName() + QLatin1Char('.')
        + QUuid::createUuid().toString(QUuid::Id128).left(8) + suffix;
}

// Compresses the file at source into destination with zstd, a chunk at a
// time; a failure to write is put as a failure to write the archive.
bool compressFile(const QString &source, const QString &destination, const QString &archivePath, QString *error)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot compress the records: %1").arg(in.errorString());
        return false;
    }
    OutputFile out(destination);
    std::unique_ptr<ZSTD_CCtx, size_t (*)(ZSTD_CCtx *)> context(ZSTD_createCCtx(), ZSTD_freeCCtx);
    ZSTD_CCtx_setParameter(context.get(), ZSTD_c_compressionLevel, 9);
    QByteArray output(qsizetype(ZSTD_CStreamOutSize()), Qt::Uninitialized);
    bool last = false;
    while (!last && out.error() == 0) {
        const QByteArray chunk = in.read(chunkSize);
        last = in.atEnd() || chunk.isEmpty();
        ZSTD_inBuffer input{chunk.constData(), size_t(chunk.size()), 0};
        const ZSTD_EndDirective mode = last ? ZSTD_e_end : ZSTD_e_continue;
        size_t remaining = 0;
        do {
            ZSTD_outBuffer buffer{output.data(), size_t(output.size()), 0};
            remaining = ZSTD_compressStream2(context.get(), &buffer, &input, mode);
            if (ZSTD_isError(remaining)) {
                *error = QStringLiteral("cannot compress the records: %1").arg(QString::fromLatin1(ZSTD_getErrorName(remaining)));
                return false;
            }
            if (!out.write(output.constData(), qint64(buffer.pos)))
                break;
        } while (last ? remaining != 0 : input.pos < input.size);
    }
    if (!out.close()) {
        *error = writeFailure(archivePath, out.error());
        return false;
    }
    return true;
}

// Decompresses the zstd file at source into destination, refusing more than limit bytes.
bool decompressFile(const QString &source, const QString &destination, QString *error)
{
    const QString failure = QStringLiteral("the member %1 cannot be decompressed: %2").arg(LibraryArchive::recordsMember);
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) {
        *error = failure.arg(in.errorString());
        return false;
    }
    OutputFile out(destination);
    std::unique_ptr<ZSTD_DCtx, size_t (*)(ZSTD_DCtx *)> context(ZSTD_createDCtx(), ZSTD_freeDCtx);
    QByteArray output(qsizetype(ZSTD_DStreamOutSize()), Qt::Uninitialized);
    size_t pending = 1;
    qint64 written = 0;
    while (!in.atEnd() && out.error() == 0) {
        const QByteArray chunk = in.read(chunkSize);
        ZSTD_inBuffer input{chunk.constData(), size_t(chunk.size()), 0};
        while (input.pos < input.size) {
            ZSTD_outBuffer buffer{output.data(), size_t(output.size()), 0};
            pending = ZSTD_decompressStream(context.get(), &buffer, &input);
            if (ZSTD_isError(pending)) {
                *error = failure.arg(QString::fromLatin1(ZSTD_getErrorName(pending)));
                return false;
            }
            written += qint64(buffer.pos);
            if (written > recordsLimit) {
                *error = failure.arg(QStringLiteral("the records are too large"));
                return false;
            }
            if (!out.write(output.constData(), qint64(buffer.pos)))
                break;
        }
    }
    if (!out.close()) {
        *error = writeFailure(QStringLiteral("the records into the library"), out.error());
        return false;
    }
    if (pending != 0) {
        *error = failure.arg(QStringLiteral("the data ends early"));
        return false;
    }
    return true;
}

// The archive's own members, and the media paths a library can hold.
bool acceptableMemberName(const QString &name)
{
    static const QRegularExpression mediaPath(
        QStringLiteral("^Media/([A-Za-z0-9]{1,8}/){1,8}[A-Za-z0-9-]{1,64}(\\.[A-Za-z0-9]{1,16})?$"));
    return name == LibraryArchive::recordsMember || name == LibraryArchive::manifestMember || mediaPath.match(name).hasMatch();
}

class ArchiveWriter
{
public:
    // Writes to the file at path, reporting failures as failures to write displayName.
    ArchiveWriter(const QString &path, const QString &displayName, const LibraryArchive::Progress &progress, qint64 total)
        : m_file(path)
        , m_handle(archive_write_new(), archive_write_free)
        , m_displayName(displayName)
        , m_progress(progress)
        , m_total(total)
    {
        archive_write_set_format_pax_restricted(m_handle.get());
        archive_write_add_filter_none(m_handle.get());
        // Unblocked: each member's data goes from the read buffer straight to
        // the file, not through a block buffer, and the end is unpadded.
        archive_write_set_bytes_per_block(m_handle.get(), 0);
        m_open = m_file.error() == 0 && archive_write_open_fd(m_handle.get(), m_file.descriptor()) == ARCHIVE_OK;
        if (!m_open)
            m_error = m_file.error() ? writeFailure(m_displayName, m_file.error()) : archiveError(m_handle.get());
    }

    const QString &error() const { return m_error; }
    bool cancelled() const { return m_cancelled; }
    const QJsonArray &manifest() const { return m_manifest; }

    // Copies the file at source into the archive as name, noting its digest.
    // The next chunk is read while the hash of the last one is computed. A
    // file deleted since it was listed (its case deleted in the window while
    // the backup runs) is left out, as a file the library lacks; vanished
    // tells whether it was.
    bool addFile(const QString &source, const QString &name, bool *vanished = nullptr)
    {
        if (!m_open)
            return false;
        QFile file(source);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
            if (vanished && file.error() == QFileDevice::OpenError && !QFileInfo::exists(source)) {
                *vanished = true;
                return true;
            }
            return fail(QStringLiteral("cannot read %1: %2").arg(source, file.errorString()));
        }
        ::posix_fadvise(file.handle(), 0, 0, POSIX_FADV_SEQUENTIAL);
        const qint64 size = file.size();
        if (!beginMember(name, size))
            return false;
        for (QByteArray &buffer : m_buffers)
            if (buffer.isEmpty())
                buffer.resize(qsizetype(chunkSize));
        qint64 copied = 0;
        int current = 0;
        while (copied < size) {
            char *data = m_buffers[current].data();
            const qint64 count = file.read(data, std::min(chunkSize, size - copied));
            if (count <= 0)
                return fail(QStringLiteral("cannot read %1: it changed while it was backed up").arg(source));
            m_hash.add(data, count);
            if (archive_write_data(m_handle.get(), data, size_t(count)) != count)
                return failWrite();
            copied += count;
            m_done += count;
            startWriteBack();
            if (m_progress && !m_progress(m_done, m_total)) {
                m_cancelled = true;
                return false;
            }
            current = 1 - current;
        }
        m_manifest.append(QJsonObject{{QStringLiteral("path"), name},
                                      {QStringLiteral("size"), size},
                                      {QStringLiteral("sha256"), QString::fromLatin1(m_hash.hexResult())}});
        return true;
    }

    bool addBytes(const QString &name, const QByteArray &bytes)
    {
        return m_open && beginMember(name, bytes.size())
            && (archive_write_data(m_handle.get(), bytes.constData(), size_t(bytes.size())) == bytes.size() || failWrite());
    }

    // Ends the archive and waits until it is on the disk.
    bool finish()
    {
        if (archive_write_close(m_handle.get()) != ARCHIVE_OK)
            return failWrite();
        if (!m_file.sync() || !m_file.close())
            return fail(writeFailure(m_displayName, m_file.error()));
        return true;
    }

private:
    bool beginMember(const QString &name, qint64 size)
    {
        std::unique_ptr<archive_entry, void (*)(archive_entry *)> entry(archive_entry_new(), archive_entry_free);
        archive_entry_set_pathname_utf8(entry.get(), name.toUtf8().constData());
        archive_entry_set_size(entry.get(), size);
        archive_entry_set_filetype(entry.get(), AE_IFREG);
        archive_entry_set_perm(entry.get(), 0644);
        archive_entry_set_mtime(entry.get(), time(nullptr), 0);
        if (archive_write_header(m_handle.get(), entry.get()) != ARCHIVE_OK)
            return failWrite();
        return true;
    }

    // The archive has to be on the disk before it takes its name. The disk
    // starts on what is written as it goes, so that the flush at the end
    // waits for little more than the last blocks.
    void startWriteBack()
    {
        const off_t written = ::lseek(m_file.descriptor(), 0, SEEK_CUR);
        if (written - m_writeBackFrom >= writeBackStep) {
            ::sync_file_range(m_file.descriptor(), m_writeBackFrom, written - m_writeBackFrom, SYNC_FILE_RANGE_WRITE);
            m_writeBackFrom = written;
        }
    }

    bool failWrite()
    {
        const int error = archive_errno(m_handle.get());
        return fail(error > 0 ? writeFailure(m_displayName, error)
                              : QStringLiteral("cannot write %1: %2").arg(m_displayName, archiveError(m_handle.get())));
    }

    bool fail(const QString &message)
    {
        if (m_error.isEmpty())
            m_error = message;
        return false;
    }

    static constexpr off_t writeBackStep = 8 << 20;

    // The file outlives the handle, which may still write to it as it goes.
    OutputFile m_file;
    ArchivePointer m_handle;
    QString m_displayName;
    LibraryArchive::Progress m_progress;
    qint64 m_total;
    qint64 m_done = 0;
    off_t m_writeBackFrom = 0;
    bool m_open = false;
    bool m_cancelled = false;
    QString m_error;
    QJsonArray m_manifest;
    QByteArray m_buffers[2]; // read buffers for every member, one hashed while the other is read
    BackgroundSha256 m_hash; // after the buffers, so that it stops before they go
};

// Removes the files it names when it goes, unless released.
class RemovedFiles
{
public:
    ~RemovedFiles()
    {
        for (const QString &path : std::as_const(m_paths))
            QFile::remove(path);
    }
    void add(const QString &path) { m_paths.append(path); }
    void release() { m_paths.clear(); }

private:
    QStringList m_paths;
};

// Moves the staged files of a restore into the library's media folder,
// keeping a file the library already has: a folder the library lacks moves
// in whole, in one rename; a folder it has is entered and its files move in
// one at a time. Can be undone until it goes.
class MovedIn
{
public:
    // False, having undone what it moved, when something cannot move.
    bool move(const QString &staged, const QString &target)
    {
        if (moveInto(staged, target))
            return true;
        undo();
        return false;
    }
    void undo()
    {
        for (const QString &path : std::as_const(m_moved))
            if (!QFile::remove(path))
                QDir(path).removeRecursively();
        m_moved.clear();
        m_files = 0;
    }
    int files() const { return m_files; }
    const QString &error() const { return m_error; }

private:
    bool moveInto(const QString &staged, const QString &target)
    {
        const QFileInfo targetInfo(target);
        if (!targetInfo.exists()) {
            if (!QDir().mkpath(targetInfo.absolutePath()) || !rename(staged, target))
                return false;
            m_moved.append(target);
            m_files += countFiles(target);
            return true;
        }
        if (!targetInfo.isDir())
            return true; // a file the library has: kept
        const QFileInfoList entries = QDir(staged).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        for (const QFileInfo &entry : entries) {
            const QString into = target + u'/' + entry.fileName();
            if (entry.isDir()) {
                if (!moveInto(entry.filePath(), into))
                    return false;
            } else if (!QFileInfo::exists(into)) {
                if (!rename(entry.filePath(), into))
                    return false;
                m_moved.append(into);
                ++m_files;
            }
        }
        return true;
    }

    bool rename(const QString &from, const QString &to)
    {
        if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
            return true;
        m_error = QStringLiteral("cannot move %1 into the library: %2").arg(to, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }

    static int countFiles(const QString &path)
    {
        if (!QFileInfo(path).isDir())
            return 1;
        int count = 0;
        QDirIterator files(path, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            files.next();
            ++count;
        }
        return count;
    }

    QStringList m_moved;
    int m_files = 0;
    QString m_error;
};

// Makes a rename in directory last through a power cut.
void syncDirectory(const QString &directory)
{
    const int descriptor = ::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor >= 0) {
        ::fsync(descriptor);
        ::close(descriptor);
    }
}

} // namespace

LibraryArchive::Result LibraryArchive::write(ManagedObjectContext *context, const QString &path, const Progress &progress)
{
    ExportedRecords exported;
    const Result result = exportRecords(context, path, &exported);
    return result.succeeded() ? writeArchive(exported, path, progress) : result;
}

LibraryArchive::Result LibraryArchive::exportRecords(ManagedObjectContext *context, const QString &path, ExportedRecords *exported)
{
    Result result;
    RemovedFiles temporary;
    exported->mediaDirectory = context->stack() ? context->stack()->mediaDirectory() : QString();
    exported->records = hiddenSibling(path, QStringLiteral(".json"));
    temporary.add(exported->records);
    const JSONImporter::ExportResult written = JSONImporter(QUrl::fromLocalFile(exported->records)).exportDatabase(context);
    if (!written.error.isEmpty()) {
        result.error = written.error;
        return result;
    }
    result.cases = exported->cases = written.casesWritten;
    temporary.release();
    return result;
}

LibraryArchive::Result LibraryArchive::writeArchive(const ExportedRecords &exported, const QString &path, const Progress &progress)
{
    Result result;
    result.cases = exported.cases;
    RemovedFiles temporary;
    const QString compressed = hiddenSibling(path, QStringLiteral(".json.zst"));
    const QString partial = hiddenSibling(path, QStringLiteral(".partial"));
    temporary.add(exported.records);
    temporary.add(compressed);
    temporary.add(partial);
    if (progress && !progress(0, 0)) {
        result.cancelled = true;
        return result;
    }
    if (!compressFile(exported.records, compressed, path, &result.error))
        return result;
    QFile::remove(exported.records);

    const QString mediaDirectory = exported.mediaDirectory;
    QStringList media;
    qint64 total = QFileInfo(compressed).size();
    if (!mediaDirectory.isEmpty() && QFileInfo(mediaDirectory).isDir()) {
        QDirIterator files(mediaDirectory, QDir::Files | QDir::NoSymLinks, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QString file = files.next();
            const QString name = QStringLiteral("Media/") + QDir(mediaDirectory).relativeFilePath(file);
            if (!acceptableMemberName(name))
                continue; // not a media file of the library (a leftover of an interrupted copy, say)
            media.append(file);
            total += files.fileInfo().size();
        }
    }
    media.sort();

    ArchiveWriter writer(partial, path, progress, total);
    bool written = writer.addFile(compressed, recordsMember);
    for (const QString &file : std::as_const(media)) {
        if (!written)
            break;
        bool vanished = false;
        written = writer.addFile(file, QStringLiteral("Media/") + QDir(mediaDirectory).relativeFilePath(file), &vanished);
        result.files += vanished ? 0 : 1;
    }
    if (written) {
        const QJsonObject manifest{{QStringLiteral("format"), 1}, {QStringLiteral("files"), writer.manifest()}};
        written = writer.addBytes(manifestMember, QJsonDocument(manifest).toJson()) && writer.finish();
    }
    if (!written) {
        result.cancelled = writer.cancelled();
        result.error = writer.cancelled() ? QString() : writer.error();
        return result;
    }
    if (std::rename(QFile::encodeName(partial).constData(), QFile::encodeName(path).constData()) != 0) {
        result.error = QStringLiteral("cannot put the archive in place at %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return result;
    }
    syncDirectory(QFileInfo(path).absolutePath());
    return result;
}

LibraryArchive::Result LibraryArchive::restore(const QString &path, ManagedObjectContext *context, const Progress &progress)
{
    if (!context->stack()) {
        Result result;
        result.error = QStringLiteral("the library is not open");
        return result;
    }
    StagedRestore staged;
    const Result result = unpack(path, context->stack()->libraryDirectory(), progress, &staged);
    return result.succeeded() ? moveIn(staged, context) : result;
}

LibraryArchive::Result LibraryArchive::unpack(const QString &path, const QString &libraryDirectory, const Progress &progress,
                                              StagedRestore *staged)
{
    Result result;
    // Staged inside the library, so that the files move in without a copy.
    removeAbandonedStaging(libraryDirectory);
    auto staging = std::make_shared<QTemporaryDir>(libraryDirectory + QStringLiteral("/.restore-XXXXXX"));
    if (!staging->isValid()) {
        result.error = QStringLiteral("cannot make a folder in the library: %1").arg(staging->errorString());
        return result;
    }
    {
        OutputFile owner(staging->filePath(stagingOwnerFile));
        const QByteArray pid = QByteArray::number(qint64(::getpid()));
        if (!owner.write(pid.constData(), pid.size()) || !owner.close()) {
            result.error = writeFailure(QStringLiteral("in the library"), owner.error());
            return result;
        }
    }

    ArchivePointer reader(archive_read_new(), archive_read_free);
    archive_read_support_format_tar(reader.get());
    archive_read_support_filter_none(reader.get());
    if (archive_read_open_filename(reader.get(), QFile::encodeName(path).constData(), size_t(chunkSize)) != ARCHIVE_OK) {
        result.error = QStringLiteral("cannot read the archive: %1").arg(archiveError(reader.get()));
        return result;
    }
    const qint64 total = QFileInfo(path).size();
    QHash<QString, MemberDigest> members;
    QByteArray manifestBytes;
    BackgroundSha256 hash;
    QString member;
    QString lastFolder;
    const auto damaged = [&](const QString &reason) {
        result.error = member.isEmpty() ? QStringLiteral("the archive is damaged: %1").arg(reason)
                                        : QStringLiteral("the archive is damaged at member %1: %2").arg(member, reason);
        return result;
    };
    for (;;) {
        archive_entry *entry = nullptr;
        const int status = archive_read_next_header(reader.get(), &entry);
        if (status == ARCHIVE_EOF)
            break;
        if (status != ARCHIVE_OK)
            return damaged(archiveError(reader.get()));
        const char *utf8 = archive_entry_pathname_utf8(entry);
        member = utf8 ? QString::fromUtf8(utf8) : QString::fromLocal8Bit(archive_entry_pathname(entry));
        if (archive_entry_filetype(entry) == AE_IFDIR)
            continue;
        if (archive_entry_filetype(entry) != AE_IFREG || !acceptableMemberName(member) || members.contains(member)) {
            result.error = QStringLiteral("the archive holds an unexpected member %1").arg(member);
            return result;
        }
        const bool isManifest = member == manifestMember;
        if (isManifest && archive_entry_size(entry) > manifestLimit) {
            result.error = QStringLiteral("the member %1 is too large").arg(member);
            return result;
        }
        // Staged as laid out in the library, so that a folder the library
        // lacks moves in whole, made once.
        MemberDigest digest;
        digest.staged = staging->filePath(member);
        std::optional<OutputFile> stagedFile;
        if (!isManifest) {
            const QString folder = QFileInfo(digest.staged).path();
            if (folder != lastFolder && !QDir().mkpath(folder)) {
                result.error = writeFailure(QStringLiteral("%1 into the library").arg(member), errno);
                return result;
            }
            lastFolder = folder;
            stagedFile.emplace(digest.staged);
        }
        const auto stagingFailed = [&] {
            result.error = writeFailure(QStringLiteral("%1 into the library").arg(member), stagedFile->error());
            return result;
        };
        if (stagedFile && stagedFile->error())
            return stagingFailed();
        for (;;) {
            // Straight from the archive's read buffer: hashed on one thread
            // while it is written on this one.
            const void *block = nullptr;
            size_t count = 0;
            la_int64_t offset = 0;
            const int read = archive_read_data_block(reader.get(), &block, &count, &offset);
            if (read == ARCHIVE_EOF)
                break;
            if (read != ARCHIVE_OK)
                return damaged(archiveError(reader.get()));
            if (offset != digest.size)
                return damaged(QStringLiteral("it has holes"));
            const char *data = static_cast<const char *>(block);
            digest.size += qint64(count);
            if (isManifest) {
                if (digest.size > manifestLimit) {
                    result.error = QStringLiteral("the member %1 is too large").arg(member);
                    return result;
                }
                manifestBytes.append(data, qsizetype(count));
                continue;
            }
            hash.add(data, qint64(count));
            const bool written = stagedFile->write(data, qint64(count));
            hash.wait();
            if (!written)
                return stagingFailed();
            if (progress && !progress(archive_filter_bytes(reader.get(), -1), total)) {
                result.cancelled = true;
                return result;
            }
        }
        if (stagedFile) {
            if (!stagedFile->close())
                return stagingFailed();
            digest.sha256 = hash.hexResult();
        }
        members.insert(member, digest);
    }
    member.clear();

    const QJsonDocument manifest = QJsonDocument::fromJson(manifestBytes);
    if (!members.contains(manifestMember) || !manifest.isObject() || !manifest[QStringLiteral("files")].isArray()) {
        result.error = QStringLiteral("the archive has no readable member %1").arg(manifestMember);
        return result;
    }
    QSet<QString> listed;
    const QJsonArray files = manifest[QStringLiteral("files")].toArray();
    for (const QJsonValue &value : files) {
        const QString name = value[QStringLiteral("path")].toString();
        const auto found = members.constFind(name);
        if (found == members.cend()) {
            result.error = QStringLiteral("the archive lacks the member %1 that its manifest lists").arg(name);
            return result;
        }
        if (found->size != value[QStringLiteral("size")].toInteger(-1)
            || found->sha256 != value[QStringLiteral("sha256")].toString().toLatin1()) {
            result.error = QStringLiteral("the member %1 does not match its size and checksum in the manifest").arg(name);
            return result;
        }
        listed.insert(name);
    }
    for (auto it = members.cbegin(); it != members.cend(); ++it) {
        if (it.key() != manifestMember && !listed.contains(it.key())) {
            result.error = QStringLiteral("the member %1 is not in the manifest").arg(it.key());
            return result;
        }
    }
    if (!listed.contains(recordsMember)) {
        result.error = QStringLiteral("the archive has no member %1").arg(recordsMember);
        return result;
    }
    const QString records = staging->filePath(QStringLiteral("backup.json"));
    if (!decompressFile(staging->filePath(recordsMember), records, &result.error))
        return result;

    staged->staging = staging;
    staged->records = records;
    staged->media = staging->filePath(QStringLiteral("Media"));
    return result;
}

LibraryArchive::Result LibraryArchive::moveIn(const StagedRestore &staged, ManagedObjectContext *context)
{
    Result result;
    if (!context->stack()) {
        result.error = QStringLiteral("the library is not open");
        return result;
    }
    // The files go in first (only where the library has none), so that a
    // record restored under a fresh identifier finds its file to copy.
    MovedIn movedIn;
    if (QFileInfo(staged.media).isDir() && !movedIn.move(staged.media, context->stack()->mediaDirectory())) {
        result.error = movedIn.error();
        return result;
    }
    result.files = movedIn.files();

    JSONImporter::RestoreSummary summary;
    QEventLoop loop;
    bool finished = false;
    JSONImporter(QUrl::fromLocalFile(staged.records)).importBackup(context, [&](const JSONImporter::RestoreSummary &done) {
        summary = done;
        finished = true;
        loop.quit();
    });
    if (!finished)
        loop.exec();
    if (!summary.error.isEmpty() || summary.unsaved || context->hasChanges()) {
        movedIn.undo();
        result.files = 0;
        result.error = summary.error.isEmpty() ? QStringLiteral("the restored cases could not be saved") : summary.error;
        return result;
    }
    result.cases = summary.casesRead;
    return result;
}

} // namespace ovalis
