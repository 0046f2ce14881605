#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace ovalis::test {

// A PostgreSQL server of the tests' own, in a temporary folder: made with
// initdb, listening only on a Unix socket in that folder (no TCP, so tests
// running side by side never meet), trusted logins as "ovalis", and stopped
// and removed when the object goes. The server will not run as root, so as
// root (as in CI) the folder is handed to the "postgres" user and the
// server's programs run as that user.
class PostgresTestServer
{
public:
    PostgresTestServer();
    ~PostgresTestServer();
    PostgresTestServer(const PostgresTestServer &) = delete;
    PostgresTestServer &operator=(const PostgresTestServer &) = delete;

    bool isRunning() const { return m_running; }
    // Stops the server as an administrator would (fast shutdown: sessions
    // are ended) and starts it again on the same data.
    bool stop();
    bool start();
    // The role "guarded" logs in only with the password "right".
    static constexpr const char *guardedRole = "guarded";
    // Why the server could not be started, with what its programs printed.
    QString error() const { return m_error; }
    // A libpq connection string for a database of this server.
    QString connectionString(const QString &database = QStringLiteral("postgres")) const;
    // Where the socket lies (the server's "host").
    QString socketFolder() const { return m_folder.path(); }
    static constexpr int port = 55432;

private:
    bool run(const QString &program, const QStringList &arguments);

    QTemporaryDir m_folder;
    QString m_binaries;
    bool m_asPostgresUser = false;
    bool m_running = false;
    QString m_error;
};

} // namespace ovalis::test
