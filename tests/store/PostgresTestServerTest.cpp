#include <QFileInfo>
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <memory>
#include <poll.h>

#include "support/PostgresTestServer.h"

using namespace ovalis::test;

namespace {

using Connection = std::unique_ptr<PGconn, decltype(&PQfinish)>;

Connection connect(const QString &conninfo)
{
    return Connection(PQconnectdb(conninfo.toUtf8().constData()), &PQfinish);
}

// Runs a statement; the error text, empty when it succeeded.
std::string exec(PGconn *connection, const char *sql)
{
    PGresult *result = PQexec(connection, sql);
    const ExecStatusType status = PQresultStatus(result);
    std::string error = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK ? std::string() : PQerrorMessage(connection);
    PQclear(result);
    return error;
}

} // namespace

// The server the mirror's tests start for themselves: it runs, keeps what is
// written, wakes a listening connection through its socket, and is gone
// afterwards.
TEST(PostgresTestServerTest, AServerOfItsOwnStartsKeepsDataWakesListenersAndStops)
{
    QString socket;
    {
        PostgresTestServer server;
        ASSERT_TRUE(server.isRunning()) << server.error().toStdString();
        socket = server.socketFolder() + QStringLiteral("/.s.PGSQL.%1").arg(PostgresTestServer::port);
        EXPECT_TRUE(QFileInfo::exists(socket));

        Connection writer = connect(server.connectionString());
        Connection listener = connect(server.connectionString());
        ASSERT_EQ(PQstatus(writer.get()), CONNECTION_OK) << PQerrorMessage(writer.get());
        ASSERT_EQ(PQstatus(listener.get()), CONNECTION_OK) << PQerrorMessage(listener.get());
        EXPECT_EQ(exec(writer.get(), "CREATE TABLE changes (seq BIGSERIAL PRIMARY KEY, payload TEXT NOT NULL)"), "");
        EXPECT_EQ(exec(listener.get(), "LISTEN library_changes"), "");
        EXPECT_EQ(exec(writer.get(), "BEGIN; INSERT INTO changes (payload) VALUES ('a'), ('b'); "
                                     "NOTIFY library_changes, '2'; COMMIT"),
                  "");

        // The notice arrives on the listener's socket after the commit.
        pollfd watched{PQsocket(listener.get()), POLLIN, 0};
        PGnotify *notice = nullptr;
        for (int attempt = 0; attempt < 50 && !notice; ++attempt) {
            ::poll(&watched, 1, 100);
            PQconsumeInput(listener.get());
            notice = PQnotifies(listener.get());
        }
        ASSERT_NE(notice, nullptr);
        EXPECT_STREQ(notice->relname, "library_changes");
        EXPECT_STREQ(notice->extra, "2");
        PQfreemem(notice);

        PGresult *rows = PQexec(listener.get(), "SELECT string_agg(payload, ',' ORDER BY seq) FROM changes");
        ASSERT_EQ(PQresultStatus(rows), PGRES_TUPLES_OK);
        EXPECT_STREQ(PQgetvalue(rows, 0, 0), "a,b");
        PQclear(rows);
    }
    // Stopped and removed with its folder.
    EXPECT_FALSE(QFileInfo::exists(socket));
}
