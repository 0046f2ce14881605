#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>
#include <memory>

struct pg_conn;
struct pg_result;

namespace ovalis {

// One connection to a PostgreSQL server through libpq. The server is named
// by a libpq connection string or URI, so ~/.pgpass, pg_service.conf and the
// PG* variables work as they do for psql; a password given here is passed
// beside it and never written anywhere. Not thread-safe: one thread at a time.
class PostgresConnection
{
public:
    // The rows of one statement: text values, null as a null QByteArray.
    class Result
    {
    public:
        int rows() const;
        bool isNull(int row, int column) const;
        QByteArray value(int row, int column) const;
        QString text(int row, int column) const { return QString::fromUtf8(value(row, column)); }
        qint64 integer(int row, int column) const { return value(row, column).toLongLong(); }

    private:
        friend class PostgresConnection;
        std::shared_ptr<pg_result> m_result;
    };

    PostgresConnection();
    ~PostgresConnection();
    PostgresConnection(const PostgresConnection &) = delete;
    PostgresConnection &operator=(const PostgresConnection &) = delete;

    // Connects within timeoutSeconds; false with a message the user can act on.
    bool connect(const QString &conninfo, const QString &password, int timeoutSeconds, QString *error);
    bool isConnected() const;
    void close();
    // Checks the server still answers (after a failure, whether to say "offline").
    bool isBad() const;

    // Runs one statement with text parameters ($1, $2, …; a null QByteArray
    // is NULL); false with the server's message.
    bool exec(const QString &sql, const QVector<QByteArray> &parameters = {}, Result *result = nullptr,
              QString *error = nullptr);
    // The same with the parameters whose index is in binaryParameters sent
    // as bytes (bytea), and the result's values in binary when binaryResult.
    bool execBinary(const QString &sql, const QVector<QByteArray> &parameters, const QVector<int> &binaryParameters,
                    bool binaryResult, Result *result, QString *error);
    // Runs several statements with no parameters.
    bool execScript(const QString &sql, QString *error);

    // The socket that LISTEN notifications arrive on, or -1.
    int socket() const;
    // Reads what arrived on the socket; the channels' payloads that were notified.
    QStringList takeNotifications();

    // A one-dimensional array literal ({"a","b",NULL}) for a text[] parameter.
    static QByteArray arrayLiteral(const QVector<QByteArray> &values);
    // An identifier quoted for SQL.
    static QString quoteIdentifier(const QString &identifier);

    // What a connection string or URI names, for showing to the user: the
    // host (with its port when one is given), the database, and the string
    // in keyword=value form with its password left out. All empty when libpq
    // cannot read the string, so that nothing of it is shown then.
    struct Target
    {
        QString host;
        QString database;
        QString withoutPassword;
    };
    static Target target(const QString &conninfo);

private:
    QString lastError() const;
    pg_conn *m_connection = nullptr;
};

} // namespace ovalis
