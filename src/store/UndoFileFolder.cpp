#include "store/UndoFileFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QUuid>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "util/Log.h"

namespace ovalis {

namespace {

const QString lockSuffix = QStringLiteral(".lock");

QString newUuidString()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Only names this class gives are ever removed from root.
bool isFolderName(const QString &name)
{
    static const QRegularExpression uuid(
        QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"));
    return uuid.match(name).hasMatch();
}

// Makes the directory (with its parents) and closes it to everyone but its
// owner; refuses one that is not a real directory of this user's.
bool makePrivateDirectory(const QString &path, QString *failure)
{
    if (!QDir().mkpath(path)) {
        *failure = QStringLiteral("cannot create ") + path;
        return false;
    }
    struct stat info {};
    if (::lstat(encoded(path).constData(), &info) != 0) {
        *failure = path + QStringLiteral(": ") + systemError();
        return false;
    }
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid()) {
        *failure = path + QStringLiteral(" is not a folder of this user's");
        return false;
    }
    if ((info.st_mode & 0777) != 0700 && ::chmod(encoded(path).constData(), 0700) != 0) {
        *failure = path + QStringLiteral(": ") + systemError();
        return false;
    }
    return true;
}

void removeTree(const QString &path)
{
    std::error_code code;
    std::filesystem::remove_all(std::filesystem::path(encoded(path).toStdString()), code);
    if (code)
        Log::error(LogArea::Filing, QStringLiteral("Unable to remove ") + path + QStringLiteral(": ")
                                        + QString::fromLocal8Bit(code.message()));
}

} // namespace

QString UndoFileFolder::defaultRoot()
{
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/undo");
}

UndoFileFolder::UndoFileFolder(const QString &root)
    : m_root(root)
{
}

UndoFileFolder::~UndoFileFolder()
{
    if (m_path.isEmpty())
        return;
    removeTree(m_path);
    ::unlink(encoded(m_lockPath).constData());
    ::close(m_lockDescriptor);
}

QString UndoFileFolder::root() const
{
    std::lock_guard guard(m_mutex);
    return m_root.isEmpty() ? defaultRoot() : m_root;
}

QString UndoFileFolder::path()
{
    std::lock_guard guard(m_mutex);
    if (!m_path.isEmpty() || m_failed)
        return m_path;
    if (m_root.isEmpty())
        m_root = defaultRoot();
    const auto failed = [this](const QString &reason) {
        Log::error(LogArea::Filing, QStringLiteral("Unable to make a private folder for undo: ") + reason);
        m_failed = true;
        return QString();
    };
    QString failure;
    if (!makePrivateDirectory(m_root, &failure))
        return failed(failure);
    // The lock comes first: a sweep never takes a folder whose lock is held,
    // and finds no folder before its lock exists. A sweep that took the
    // lock file between its creation and its locking has unlinked it; the
    // folder then gets another name.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const QString name = newUuidString();
        const QString lockPath = m_root + QLatin1Char('/') + name + lockSuffix;
        const int descriptor = ::open(encoded(lockPath).constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (descriptor < 0)
            return failed(lockPath + QStringLiteral(": ") + systemError());
        struct stat held {}, named {};
        if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0 || ::fstat(descriptor, &held) != 0
            || ::stat(encoded(lockPath).constData(), &named) != 0 || held.st_ino != named.st_ino) {
            ::close(descriptor);
            continue;
        }
        const QString folder = m_root + QLatin1Char('/') + name;
        if (::mkdir(encoded(folder).constData(), 0700) != 0) {
            const QString reason = folder + QStringLiteral(": ") + systemError();
            ::unlink(encoded(lockPath).constData());
            ::close(descriptor);
            return failed(reason);
        }
        m_lockDescriptor = descriptor;
        m_lockPath = lockPath;
        m_path = folder;
        return m_path;
    }
    return failed(QStringLiteral("cannot lock a folder in ") + m_root);
}

QUrl UndoFileFolder::makeBackupURL(const QUrl &fileURL)
{
    const QString folder = path();
    if (folder.isEmpty())
        return {};
    return QUrl::fromLocalFile(folder + QLatin1Char('/') + newUuidString() + QLatin1Char('/')
                               + QFileInfo(fileURL.toLocalFile()).fileName());
}

int UndoFileFolder::removeAbandoned(const QString &root)
{
    const QDir directory(root);
    if (!directory.exists())
        return 0;
    QSet<QString> names;
    for (const QString &entry : directory.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        const QString name = entry.endsWith(lockSuffix) ? entry.chopped(lockSuffix.size()) : entry;
        if (isFolderName(name))
            names.insert(name);
    }
    int removed = 0;
    for (const QString &name : std::as_const(names)) {
        const QString folder = directory.filePath(name);
        const QString lockPath = folder + lockSuffix;
        const int descriptor = ::open(encoded(lockPath).constData(), O_RDWR | O_CLOEXEC);
        if (descriptor < 0 && errno != ENOENT)
            continue;
        if (descriptor >= 0 && ::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
            ::close(descriptor); // an open library holds it
            continue;
        }
        Log::info(LogArea::Filing, QStringLiteral("Remove copies kept for undo by a library that was not closed: ") + folder);
        removeTree(folder);
        ::unlink(encoded(lockPath).constData());
        if (descriptor >= 0)
            ::close(descriptor);
        ++removed;
    }
    return removed;
}

} // namespace ovalis
