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
#include <csignal>
#include <cstdio>
#include <limits>
#include <unistd.h>
#include <memory>
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
    QByteArray hexResult()
    {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        EVP_DigestFinal_ex(m_context.get(), digest, &length);
        return QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex();
    }

private:
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX *)> m_context;
};

QString archiveError(archive *handle)
{
    const char *text = archive_error_string(handle);
    return text ? QString::fromLocal8Bit(text) : QStringLiteral("unknown error");
}

// A hidden name beside path for a file being made.
QString hiddenSibling(const QString &path, const QString &suffix)
{
    const QFileInfo info(path);
    return info.absolutePath() + QStringLiteral("/.") + info.fileName() + QLatin1Char('.')
        + QUuid::createUuid().toString(QUuid::Id128).left(8) + suffix;
}

// Compresses the file at source into destination with zstd, a chunk at a time.
bool compressFile(const QString &source, const QString &destination, QString *error)
{
    QFile in(source);
    QFile out(destination);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        *error = QStringLiteral("cannot compress the records: %1").arg(in.isOpen() ? out.errorString() : in.errorString());
        return false;
    }
    std::unique_ptr<ZSTD_CCtx, size_t (*)(ZSTD_CCtx *)> context(ZSTD_createCCtx(), ZSTD_freeCCtx);
    ZSTD_CCtx_setParameter(context.get(), ZSTD_c_compressionLevel, 9);
    QByteArray output(qsizetype(ZSTD_CStreamOutSize()), Qt::Uninitialized);
    bool last = false;
    while (!last) {
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
            if (out.write(output.constData(), qint64(buffer.pos)) != qint64(buffer.pos)) {
                *error = QStringLiteral("cannot compress the records: %1").arg(out.errorString());
                return false;
            }
        } while (last ? remaining != 0 : input.pos < input.size);
    }
    if (!out.flush()) {
        *error = QStringLiteral("cannot compress the records: %1").arg(out.errorString());
        return false;
    }
    return true;
}

// Decompresses the zstd file at source into destination, refusing more than limit bytes.
bool decompressFile(const QString &source, const QString &destination, QString *error)
{
    const QString failure = QStringLiteral("the member %1 cannot be decompressed: %2").arg(LibraryArchive::recordsMember);
    QFile in(source);
    QFile out(destination);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        *error = failure.arg(in.isOpen() ? out.errorString() : in.errorString());
        return false;
    }
    std::unique_ptr<ZSTD_DCtx, size_t (*)(ZSTD_DCtx *)> context(ZSTD_createDCtx(), ZSTD_freeDCtx);
    QByteArray output(qsizetype(ZSTD_DStreamOutSize()), Qt::Uninitialized);
    size_t pending = 1;
    qint64 written = 0;
    while (!in.atEnd()) {
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
            if (out.write(output.constData(), qint64(buffer.pos)) != qint64(buffer.pos)) {
                *error = failure.arg(out.errorString());
                return false;
            }
        }
    }
    if (pending != 0) {
        *error = failure.arg(QStringLiteral("the data ends early"));
        return false;
    }
    return out.flush();
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
    ArchiveWriter(const QString &path, const LibraryArchive::Progress &progress, qint64 total)
        : m_handle(archive_write_new(), archive_write_free), m_progress(progress), m_total(total)
    {
        archive_write_set_format_pax_restricted(m_handle.get());
        archive_write_add_filter_none(m_handle.get());
        // Large writes instead of tar's 10 KB records; the last one unpadded.
        archive_write_set_bytes_per_block(m_handle.get(), int(chunkSize));
        archive_write_set_bytes_in_last_block(m_handle.get(), 1);
        m_open = archive_write_open_filename(m_handle.get(), QFile::encodeName(path).constData()) == ARCHIVE_OK;
        if (!m_open)
            m_error = archiveError(m_handle.get());
    }

    const QString &error() const { return m_error; }
    bool cancelled() const { return m_cancelled; }
    const QJsonArray &manifest() const { return m_manifest; }

    // Copies the file at source into the archive as name, noting its digest.
    bool addFile(const QString &source, const QString &name)
    {
        if (!m_open)
            return false;
        QFile file(source);
        if (!file.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("cannot read %1: %2").arg(source, file.errorString()));
        const qint64 size = file.size();
        Sha256 hash;
        if (!beginMember(name, size))
            return false;
        if (m_buffer.isEmpty())
            m_buffer.resize(qsizetype(chunkSize));
        qint64 copied = 0;
        while (copied < size) {
            const qint64 count = file.read(m_buffer.data(), std::min(chunkSize, size - copied));
            if (count <= 0)
                return fail(QStringLiteral("cannot read %1: it changed while it was backed up").arg(source));
            hash.addData(m_buffer.constData(), count);
            if (archive_write_data(m_handle.get(), m_buffer.constData(), size_t(count)) != count)
                return fail(archiveError(m_handle.get()));
            copied += count;
            m_done += count;
            if (m_progress && !m_progress(m_done, m_total)) {
                m_cancelled = true;
                return false;
            }
        }
        m_manifest.append(QJsonObject{{QStringLiteral("path"), name},
                                      {QStringLiteral("size"), size},
                                      {QStringLiteral("sha256"), QString::fromLatin1(hash.hexResult())}});
        return true;
    }

    bool addBytes(const QString &name, const QByteArray &bytes)
    {
        return m_open && beginMember(name, bytes.size())
            && (archive_write_data(m_handle.get(), bytes.constData(), size_t(bytes.size())) == bytes.size()
                || fail(archiveError(m_handle.get())));
    }

    bool finish()
    {
        if (archive_write_close(m_handle.get()) != ARCHIVE_OK)
            return fail(archiveError(m_handle.get()));
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
            return fail(archiveError(m_handle.get()));
        return true;
    }

    bool fail(const QString &message)
    {
        if (m_error.isEmpty())
            m_error = message;
        return false;
    }

    ArchivePointer m_handle;
    LibraryArchive::Progress m_progress;
    qint64 m_total;
    qint64 m_done = 0;
    bool m_open = false;
    bool m_cancelled = false;
    QString m_error;
    QJsonArray m_manifest;
    QByteArray m_buffer; // one read buffer for every member
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

} // namespace

LibraryArchive::Result LibraryArchive::write(ManagedObjectContext *context, const QString &path, const Progress &progress)
{
    Result result;
    const QString mediaDirectory = context->stack() ? context->stack()->mediaDirectory() : QString();
    RemovedFiles temporary;
    const QString records = hiddenSibling(path, QStringLiteral(".json"));
    const QString compressed = hiddenSibling(path, QStringLiteral(".json.zst"));
    const QString partial = hiddenSibling(path, QStringLiteral(".partial"));
    temporary.add(records);
    temporary.add(compressed);
    temporary.add(partial);

    const JSONImporter::ExportResult exported = JSONImporter(QUrl::fromLocalFile(records)).exportDatabase(context);
    if (!exported.error.isEmpty()) {
        result.error = exported.error;
        return result;
    }
    result.cases = exported.casesWritten;
    if (!compressFile(records, compressed, &result.error))
        return result;
    QFile::remove(records);

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

    ArchiveWriter writer(partial, progress, total);
    bool written = writer.addFile(compressed, recordsMember);
    for (const QString &file : std::as_const(media)) {
        if (!written)
            break;
        written = writer.addFile(file, QStringLiteral("Media/") + QDir(mediaDirectory).relativeFilePath(file));
        ++result.files;
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
    QFile partialFile(partial);
    if (!partialFile.open(QIODevice::ReadWrite) || ::fsync(partialFile.handle()) != 0
        || std::rename(QFile::encodeName(partial).constData(), QFile::encodeName(path).constData()) != 0) {
        result.error = QStringLiteral("cannot put the archive in place at %1").arg(path);
        return result;
    }
    return result;
}

LibraryArchive::Result LibraryArchive::restore(const QString &path, ManagedObjectContext *context, const Progress &progress)
{
    Result result;
    if (!context->stack()) {
        result.error = QStringLiteral("the library is not open");
        return result;
    }
    const QString mediaDirectory = context->stack()->mediaDirectory();
    // Staged inside the library, so that the files move in without a copy.
    removeAbandonedStaging(context->stack()->libraryDirectory());
    QTemporaryDir staging(context->stack()->libraryDirectory() + QStringLiteral("/.restore-XXXXXX"));
    if (!staging.isValid()) {
        result.error = QStringLiteral("cannot make a folder in the library: %1").arg(staging.errorString());
        return result;
    }
    QFile owner(staging.filePath(stagingOwnerFile));
    if (!owner.open(QIODevice::WriteOnly) || owner.write(QByteArray::number(qint64(::getpid()))) < 0 || !owner.flush()) {
        result.error = QStringLiteral("cannot write in the library: %1").arg(owner.errorString());
        return result;
    }
    owner.close();

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
    QByteArray buffer(qsizetype(chunkSize), Qt::Uninitialized);
    QString member;
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
        // Staged flat under a number: the library's folders are made once,
        // when the files move in, not a second time for the staging.
        QFile staged(staging.filePath(member == recordsMember ? member : QString::number(members.size())));
        if (!isManifest && !staged.open(QIODevice::WriteOnly)) {
            result.error = QStringLiteral("cannot write %1: %2").arg(staged.fileName(), staged.errorString());
            return result;
        }
        Sha256 hash;
        MemberDigest digest;
        digest.staged = staged.fileName();
        for (;;) {
            const la_ssize_t count = archive_read_data(reader.get(), buffer.data(), size_t(buffer.size()));
            if (count < 0)
                return damaged(archiveError(reader.get()));
            if (count == 0)
                break;
            digest.size += count;
            if (isManifest) {
                if (digest.size > manifestLimit) {
                    result.error = QStringLiteral("the member %1 is too large").arg(member);
                    return result;
                }
                manifestBytes.append(buffer.constData(), count);
                continue;
            }
            hash.addData(buffer.constData(), count);
            if (staged.write(buffer.constData(), count) != count) {
                result.error = QStringLiteral("cannot write %1: %2").arg(staged.fileName(), staged.errorString());
                return result;
            }
            if (progress && !progress(archive_filter_bytes(reader.get(), -1), total)) {
                result.cancelled = true;
                return result;
            }
        }
        if (!isManifest) {
            if (!staged.flush()) {
                result.error = QStringLiteral("cannot write %1: %2").arg(staged.fileName(), staged.errorString());
                return result;
            }
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
    const QString records = staging.filePath(QStringLiteral("backup.json"));
    if (!decompressFile(staging.filePath(recordsMember), records, &result.error))
        return result;

    // The files go in first (only where the library has none), so that a
    // record restored under a fresh identifier finds its file to copy.
    QStringList movedIn;
    for (const QString &name : std::as_const(listed)) {
        if (!name.startsWith(QStringLiteral("Media/")))
            continue;
        const QString target = mediaDirectory + name.mid(5);
        if (QFileInfo::exists(target))
            continue;
        if (!QDir().mkpath(QFileInfo(target).absolutePath())
            || std::rename(QFile::encodeName(members.value(name).staged).constData(), QFile::encodeName(target).constData()) != 0) {
            for (const QString &moved : std::as_const(movedIn))
                QFile::remove(moved);
            result.error = QStringLiteral("cannot move %1 into the library").arg(name);
            return result;
        }
        movedIn.append(target);
        ++result.files;
    }

    JSONImporter::RestoreSummary summary;
    QEventLoop loop;
    bool finished = false;
    JSONImporter(QUrl::fromLocalFile(records)).importBackup(context, [&](const JSONImporter::RestoreSummary &done) {
        summary = done;
        finished = true;
        loop.quit();
    });
    if (!finished)
        loop.exec();
    if (!summary.error.isEmpty() || context->hasChanges()) {
        for (const QString &moved : std::as_const(movedIn))
            QFile::remove(moved);
        result.files = 0;
        result.error = summary.error.isEmpty() ? QStringLiteral("the restored cases could not be saved") : summary.error;
        return result;
    }
    result.cases = summary.casesRead;
    return result;
}

} // namespace ovalis
