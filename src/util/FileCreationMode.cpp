#include "util/FileCreationMode.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <optional>
#include <sys/stat.h>

namespace ovalis {

namespace {

// The umask as the kernel reports it, without changing it: setting it to
// read it back would, for a moment, give other threads' new files the wrong mode.
std::optional<mode_t> reportedUmask()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return std::nullopt;
    while (!status.atEnd()) {
        const QByteArray line = status.readLine();
        if (!line.startsWith("Umask:"))
            continue;
        bool ok = false;
        const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
        if (ok && mask <= 0777)
            return mode_t(mask);
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace

mode_t FileCreationMode::forNewFile()
{
    std::optional<mode_t> mask = reportedUmask();
    if (!mask) {
        static std::mutex mutex;
        const std::lock_guard<std::mutex> lock(mutex);
        const mode_t previous = ::umask(022);
        ::umask(previous);
        mask = previous;
    }
    return 0666 & ~*mask;
}

bool FileCreationMode::applyTo(const QString &path, QString *error)
{
    if (::chmod(QFile::encodeName(path).constData(), forNewFile()) == 0)
        return true;
    if (error)
        *error = QString::fromLocal8Bit(std::strerror(errno));
    return false;
}

} // namespace ovalis
