#pragma once

#include <QString>
#include <functional>
#include <memory>

class QObject;

namespace ovalis {

// Where the mirror server's password is kept: the desktop's secret store,
// one entry for each server, never the settings or the library. The calls
// answer later, on the caller's thread, unless context is gone by then.
class MirrorPasswordStore
{
public:
    virtual ~MirrorPasswordStore() = default;

    // The entry's name for a server: "mirror " and its connection string.
    static QString entryName(const QString &conninfo) { return QStringLiteral("mirror ") + conninfo; }

    // The server's password, or an empty string when none is stored (libpq
    // then looks in ~/.pgpass) or the store cannot be read.
    virtual void read(const QString &conninfo, QObject *context, std::function<void(const QString &password)> done) = 0;
    // Stores the server's password; an empty one removes its entry. done,
    // when given, hears whether that worked and why not.
    virtual void write(const QString &conninfo, const QString &password, QObject *context,
                       std::function<void(bool ok, const QString &error)> done = {}) = 0;

    // The desktop's secret store (QtKeychain, service "Ovalis"), never falling
    // back to a plain file.
    static std::unique_ptr<MirrorPasswordStore> keychain();
};

} // namespace ovalis
