#include "support/PostgresTestServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <algorithm>
#include <libpq-fe.h>

#include <unistd.h>

namespace ovalis::test {

namespace {

// The newest installed server's programs, e.g. /usr/lib/postgresql/15/bin.
QString serverBinaries()
{
    const QDir versions(QStringLiteral("/usr/lib/postgresql"));
    QStringList found = versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(found.begin(), found.end(), [](const QString &a, const QString &b) { return a.toInt() < b.toInt(); });
    for (auto it = found.crbegin(); it != found.crend(); ++it)
        if (QFile::exists(versions.filePath(*it + QStringLiteral("/bin/initdb"))))
            return versions.filePath(*it + QStringLiteral("/bin"));
    return {};
}

} // namespace

PostgresTestServer::PostgresTestServer()
    : m_binaries(serverBinaries())
    , m_asPostgresUser(::geteuid() == 0)
{
    if (!m_folder.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return;
    }
    if (m_binaries.isEmpty()) {
        m_error = QStringLiteral("no PostgreSQL server installed (package postgresql)");
        return;
    }
    if (m_asPostgresUser
        && !run(QStringLiteral("chown"), {QStringLiteral("postgres:postgres"), m_folder.path()}))
        return;
    const QString data = m_folder.filePath(QStringLiteral("data"));
    if (!run(m_binaries + QStringLiteral("/initdb"),
             {QStringLiteral("-D"), data, QStringLiteral("-U"), QStringLiteral("ovalis"), QStringLiteral("--auth=trust"),
              QStringLiteral("--no-sync")}))
        return;
    // One role logs in with a password, so that tests can give a wrong one.
    QFile rules(data + QStringLiteral("/pg_hba.conf"));
    if (!rules.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || rules.write("local all guarded scram-sha-256\nlocal all all trust\n") < 0) {
        m_error = QStringLiteral("pg_hba.conf cannot be written");
        return;
    }
    rules.close();
    if (!start())
        return;
    PGconn *connection = PQconnectdb(connectionString().toUtf8().constData());
    PGresult *made = PQexec(connection, "CREATE ROLE guarded LOGIN PASSWORD 'right'");
    const bool guarded = PQresultStatus(made) == PGRES_COMMAND_OK;
    PQclear(made);
    PQfinish(connection);
    if (!guarded) {
        m_error = QStringLiteral("the role with a password could not be made");
        stop();
    }
}

bool PostgresTestServer::start()
{
    if (m_running)
        return true;
    const QString data = m_folder.filePath(QStringLiteral("data"));
    const QString options = QStringLiteral("-k %1 -c listen_addresses='' -c fsync=off -p %2").arg(m_folder.path()).arg(port);
    if (!run(m_binaries + QStringLiteral("/pg_ctl"),
             {QStringLiteral("-D"), data, QStringLiteral("-w"), QStringLiteral("-l"), m_folder.filePath(QStringLiteral("server.log")),
              QStringLiteral("-o"), options, QStringLiteral("start")})) {
        QFile log(m_folder.filePath(QStringLiteral("server.log")));
        if (log.open(QIODevice::ReadOnly))
            m_error += QStringLiteral("\n") + QString::fromUtf8(log.readAll());
        return false;
    }
    m_running = true;
    return true;
}

bool PostgresTestServer::stop()
{
    if (!m_running)
        return true;
    m_running = !run(m_binaries + QStringLiteral("/pg_ctl"),
                     {QStringLiteral("-D"), m_folder.filePath(QStringLiteral("data")), QStringLiteral("-m"),
                      QStringLiteral("fast"), QStringLiteral("-w"), QStringLiteral("stop")});
    return !m_running;
}

PostgresTestServer::~PostgresTestServer()
{
    stop();
}

QString PostgresTestServer::connectionString(const QString &database) const
{
    return QStringLiteral("host=%1 port=%2 dbname=%3 user=ovalis").arg(m_folder.path()).arg(port).arg(database);
}

bool PostgresTestServer::run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    const bool serverProgram = program.startsWith(m_binaries);
    if (m_asPostgresUser && serverProgram)
        process.start(QStringLiteral("runuser"), QStringList{QStringLiteral("-u"), QStringLiteral("postgres"), QStringLiteral("--"), program} + arguments);
    else
        process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        m_error = QStringLiteral("%1 failed: %2%3").arg(QFileInfo(program).fileName(), QString::fromUtf8(process.readAllStandardError()),
                                                         process.errorString());
        return false;
    }
    return true;
}

} // namespace ovalis::test
