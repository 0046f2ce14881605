#include "PostgresConnection.h"

#include <libpq-fe.h>

#include <QRegularExpression>

namespace ovalis {

int PostgresConnection::Result::rows() const
{
    return m_result ? PQntuples(m_result.get()) : 0;
}

bool PostgresConnection::Result::isNull(int row, int column) const
{
    return !m_result || PQgetisnull(m_result.get(), row, column);
}

QByteArray PostgresConnection::Result::value(int row, int column) const
{
    if (isNull(row, column))
        return QByteArray();
    return QByteArray(PQgetvalue(m_result.get(), row, column), PQgetlength(m_result.get(), row, column));
}

PostgresConnection::PostgresConnection() = default;

PostgresConnection::~PostgresConnection()
{
    close();
}

bool PostgresConnection::connect(const QString &conninfo, const QString &password, int timeoutSeconds, QString *error)
{
    close();
    // dbname holding the whole connection string is how libpq takes a
    // string or URI together with separate keywords (expand_dbname).
    const QByteArray info = conninfo.toUtf8();
    const QByteArray secret = password.toUtf8();
    const QByteArray timeout = QByteArray::number(qMax(1, timeoutSeconds));
    QVector<const char *> keywords{"dbname", "connect_timeout", "application_name"};
    QVector<const char *> values{info.constData(), timeout.constData(), "Ovalis"};
    if (!password.isEmpty()) {
        keywords << "password";
        values << secret.constData();
    }
    keywords << nullptr;
    values << nullptr;
    m_connection = PQconnectdbParams(keywords.constData(), values.constData(), 1);
    if (m_connection && PQstatus(m_connection) == CONNECTION_OK) {
        PQsetClientEncoding(m_connection, "UTF8");
        PGresult *quiet = PQexec(m_connection, "SET client_min_messages = warning");
        PQclear(quiet);
        return true;
    }
    if (error)
        *error = lastError();
    close();
    return false;
}

bool PostgresConnection::isConnected() const
{
    return m_connection && PQstatus(m_connection) == CONNECTION_OK;
}

bool PostgresConnection::isBad() const
{
    return !m_connection || PQstatus(m_connection) == CONNECTION_BAD;
}

void PostgresConnection::close()
{
    if (m_connection)
        PQfinish(m_connection);
    m_connection = nullptr;
}

QString PostgresConnection::lastError() const
{
    if (!m_connection)
        return QStringLiteral("out of memory");
    // libpq's messages span lines, indented with tabs: one line here.
    return QString::fromUtf8(PQerrorMessage(m_connection)).simplified();
}

bool PostgresConnection::exec(const QString &sql, const QVector<QByteArray> &parameters, Result *result, QString *error)
{
    return execBinary(sql, parameters, {}, false, result, error);
}

bool PostgresConnection::execBinary(const QString &sql, const QVector<QByteArray> &parameters,
                                    const QVector<int> &binaryParameters, bool binaryResult, Result *result,
                                    QString *error)
{
    if (!m_connection) {
        if (error)
            *error = QStringLiteral("not connected");
        return false;
    }
    const QByteArray statement = sql.toUtf8();
    QVector<const char *> values;
    QVector<int> lengths;
    QVector<int> formats;
    for (int i = 0; i < parameters.size(); ++i) {
        const QByteArray &parameter = parameters[i];
        values << (parameter.isNull() ? nullptr : parameter.constData());
        lengths << int(parameter.size());
        formats << (binaryParameters.contains(i) ? 1 : 0);
    }
    PGresult *raw = PQexecParams(m_connection, statement.constData(), int(parameters.size()), nullptr,
                                 values.isEmpty() ? nullptr : values.constData(),
                                 lengths.isEmpty() ? nullptr : lengths.constData(),
                                 formats.isEmpty() ? nullptr : formats.constData(), binaryResult ? 1 : 0);
    std::shared_ptr<pg_result> owned(raw, PQclear);
    const ExecStatusType status = PQresultStatus(raw);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        if (error)
            *error = lastError();
        return false;
    }
    if (result)
        result->m_result = owned;
    return true;
}

bool PostgresConnection::execScript(const QString &sql, QString *error)
{
    if (!m_connection) {
        if (error)
            *error = QStringLiteral("not connected");
        return false;
    }
    PGresult *raw = PQexec(m_connection, sql.toUtf8().constData());
    const ExecStatusType status = PQresultStatus(raw);
    PQclear(raw);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        if (error)
            *error = lastError();
        return false;
    }
    return true;
}

QByteArray PostgresConnection::arrayLiteral(const QVector<QByteArray> &values)
{
    QByteArray literal("{");
    for (int i = 0; i < values.size(); ++i) {
        if (i > 0)
            literal += ',';
        if (values[i].isNull()) {
            literal += "NULL";
            continue;
        }
        literal += '"';
        for (const char c : values[i]) {
            if (c == '"' || c == '\\')
                literal += '\\';
            literal += c;
        }
        literal += '"';
    }
    literal += '}';
    return literal;
}

QString PostgresConnection::quoteIdentifier(const QString &identifier)
{
    QString quoted = identifier;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

PostgresConnection::Target PostgresConnection::target(const QString &conninfo)
{
    Target target;
    PQconninfoOption *options = PQconninfoParse(conninfo.toUtf8().constData(), nullptr);
    if (!options)
        return target;
    QString hostAddress;
    QString port;
    QStringList kept;
    for (PQconninfoOption *option = options; option->keyword; ++option) {
        if (!option->val)
            continue;
        const QString keyword = QString::fromUtf8(option->keyword);
        const QString value = QString::fromUtf8(option->val);
        // The password, and the one for the client's key.
        if (keyword.contains(QLatin1String("password")))
            continue;
        if (keyword == QLatin1String("host"))
            target.host = value;
        else if (keyword == QLatin1String("hostaddr"))
            hostAddress = value;
        else if (keyword == QLatin1String("port"))
            port = value;
        else if (keyword == QLatin1String("dbname"))
            target.database = value;
        QString shown = value;
        static const QRegularExpression needsQuotes(QStringLiteral("[\\s'\\\\]"));
        if (shown.isEmpty() || shown.contains(needsQuotes)) {
            shown.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('\''), QStringLiteral("\\'"));
            shown = QLatin1Char('\'') + shown + QLatin1Char('\'');
        }
        kept.append(keyword + QLatin1Char('=') + shown);
    }
    PQconninfoFree(options);
    if (target.host.isEmpty())
        target.host = hostAddress;
    if (!port.isEmpty())
        target.host += QLatin1Char(':') + port;
    target.withoutPassword = kept.join(QLatin1Char(' '));
    return target;
}

int PostgresConnection::socket() const
{
    return m_connection ? PQsocket(m_connection) : -1;
}

QStringList PostgresConnection::takeNotifications()
{
    QStringList payloads;
    if (!m_connection)
        return payloads;
    PQconsumeInput(m_connection);
    while (PGnotify *notice = PQnotifies(m_connection)) {
        payloads << QString::fromUtf8(notice->extra);
        PQfreemem(notice);
    }
    return payloads;
}

} // namespace ovalis
