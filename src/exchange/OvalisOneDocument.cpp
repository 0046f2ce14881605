#include "exchange/OvalisOneDocument.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimeZone>
#include <QUrl>
#include <cmath>
#include <sqlite3.h>

#include "store/MediaUuid.h"
#include "util/Log.h"

namespace ovalis {

namespace {

// Seconds from 1970-01-01 to 2001-01-01, both UTC.
constexpr double referenceDateOffset = 978307200.0;
// Dates beyond a few thousand years are damage, not dates.
constexpr double largestDateSeconds = 1.0e11;

QString quoted(const QString &identifier)
{
    QString escaped = identifier;
    escaped.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

QString columnName(const QString &name)
{
    return QLatin1Char('Z') + name.toUpper();
}

class Statement
{
public:
    Statement(sqlite3 *database, const QString &sql)
    {
        const QByteArray text = sql.toUtf8();
        m_result = sqlite3_prepare_v2(database, text.constData(), int(text.size()), &m_statement, nullptr);
        if (m_result != SQLITE_OK)
            m_error = QString::fromUtf8(sqlite3_errmsg(database));
    }
    ~Statement() { sqlite3_finalize(m_statement); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    bool isValid() const { return m_statement != nullptr; }
    int prepareResult() const { return m_result; }
    QString error() const { return m_error; }
    sqlite3_stmt *get() const { return m_statement; }
    void bind(int index, qint64 value) { sqlite3_bind_int64(m_statement, index, value); }
    // SQLITE_ROW, SQLITE_DONE or an error code (its message then in error()).
    int step()
    {
        const int result = sqlite3_step(m_statement);
        if (result != SQLITE_ROW && result != SQLITE_DONE)
            m_error = QString::fromUtf8(sqlite3_errmsg(sqlite3_db_handle(m_statement)));
        return result;
    }
    QString text(int column) const
    {
        const auto *bytes = reinterpret_cast<const char *>(sqlite3_column_text(m_statement, column));
        return QString::fromUtf8(bytes, sqlite3_column_bytes(m_statement, column));
    }

private:
    sqlite3_stmt *m_statement = nullptr;
    int m_result = SQLITE_OK;
    QString m_error;
};

// The value in the model's type, or an invalid QVariant for a value stored as
// something else.
QVariant typedValue(const Statement &statement, int column, OvalisOneModel::AttributeType type)
{
    sqlite3_stmt *row = statement.get();
    const int stored = sqlite3_column_type(row, column);
    switch (type) {
    case OvalisOneModel::AttributeType::String:
        return stored == SQLITE_TEXT ? QVariant(statement.text(column)) : QVariant();
    case OvalisOneModel::AttributeType::Integer:
        return stored == SQLITE_INTEGER ? QVariant(qlonglong(sqlite3_column_int64(row, column))) : QVariant();
    case OvalisOneModel::AttributeType::Boolean:
        return stored == SQLITE_INTEGER ? QVariant(sqlite3_column_int64(row, column) != 0) : QVariant();
    case OvalisOneModel::AttributeType::Double:
        return stored == SQLITE_INTEGER || stored == SQLITE_FLOAT ? QVariant(sqlite3_column_double(row, column)) : QVariant();
    case OvalisOneModel::AttributeType::Date: {
        if (stored != SQLITE_INTEGER && stored != SQLITE_FLOAT)
            return {};
        const double seconds = sqlite3_column_double(row, column);
        if (!std::isfinite(seconds) || std::fabs(seconds) > largestDateSeconds)
            return {};
        return QDateTime::fromMSecsSinceEpoch(qint64(std::llround((seconds + referenceDateOffset) * 1000.0)), QTimeZone::utc());
    }
    case OvalisOneModel::AttributeType::Binary:
        return {};
    }
    return {};
}

} // namespace

OvalisOneDocument::OvalisOneDocument(const QString &path, const OvalisOneModel &model, sqlite3 *database)
    : m_path(path)
    , m_model(model)
    , m_database(database)
{
}

OvalisOneDocument::~OvalisOneDocument()
{
    sqlite3_close_v2(m_database);
}

std::unique_ptr<OvalisOneDocument> OvalisOneDocument::open(const QString &path, const OvalisOneModel &model, QString *error)
{
    const auto fail = [&](const QString &reason) {
        if (error)
            *error = reason;
        return nullptr;
    };
    const QFileInfo info(path);
    if (!info.exists())
        return fail(QStringLiteral("The file does not exist."));
    if (!info.isFile())
        return fail(QStringLiteral("It is not a file."));
    if (!info.isReadable())
        return fail(QStringLiteral("The file cannot be read."));

    // Read-only first; a document in write-ahead-log mode on a read-only
    // disk needs to be read as unchanging instead.
    const QString uri = QUrl::fromLocalFile(info.absoluteFilePath()).toString(QUrl::FullyEncoded);
    QString reason;
    for (const QString &name : {uri + QStringLiteral("?mode=ro"), uri + QStringLiteral("?immutable=1")}) {
        sqlite3 *database = nullptr;
        const int result = sqlite3_open_v2(name.toUtf8().constData(), &database, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
        if (result != SQLITE_OK) {
            reason = QString::fromUtf8(database ? sqlite3_errmsg(database) : sqlite3_errstr(result));
            sqlite3_close_v2(database);
            continue;
        }
        std::unique_ptr<OvalisOneDocument> document(new OvalisOneDocument(info.absoluteFilePath(), model, database));
        if (document->readEntities(&reason))
            return document;
    }
    return fail(reason);
}

bool OvalisOneDocument::readEntities(QString *error)
{
    {
        Statement tables(m_database, QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table'"));
        if (!tables.isValid()) {
            *error = tables.prepareResult() == SQLITE_NOTADB ? QStringLiteral("It is not a version-1 document (not an SQLite database).")
                                                              : tables.error();
            return false;
        }
        while (tables.step() == SQLITE_ROW)
            m_tables.append(tables.text(0).toUpper());
    }
    if (!m_tables.contains(QStringLiteral("Z_PRIMARYKEY"))) {
        *error = QStringLiteral("It is not a version-1 document (it has no table of entities).");
        return false;
    }
    Statement entities(m_database, QStringLiteral("SELECT Z_ENT, Z_NAME, Z_SUPER FROM Z_PRIMARYKEY"));
    if (!entities.isValid()) {
        *error = QStringLiteral("Its table of entities cannot be read: ") + entities.error();
        return false;
    }
    int result;
    while ((result = entities.step()) == SQLITE_ROW) {
        EntityInfo info;
        info.number = sqlite3_column_int(entities.get(), 0);
        info.name = entities.text(1);
        info.superNumber = sqlite3_column_int(entities.get(), 2);
        m_entities.insert(info.number, info);
    }
    if (result != SQLITE_DONE) {
        *error = QStringLiteral("Its table of entities cannot be read: ") + entities.error();
        return false;
    }
    return true;
}

QHash<QString, int> OvalisOneDocument::entityNumbers() const
{
    QHash<QString, int> numbers;
    for (const EntityInfo &info : m_entities)
        numbers.insert(info.name, info.number);
    return numbers;
}

QSet<QString> OvalisOneDocument::columnsOf(const QString &table)
{
    auto found = m_columns.constFind(table);
    if (found != m_columns.constEnd())
        return *found;
    QSet<QString> columns;
    Statement info(m_database, QStringLiteral("PRAGMA table_info(%1)").arg(quoted(table)));
    while (info.isValid() && info.step() == SQLITE_ROW)
        columns.insert(info.text(1).toUpper());
    m_columns.insert(table, columns);
    return columns;
}

const OvalisOneDocument::EntityTable *OvalisOneDocument::entityTable(const QString &entity)
{
    auto found = m_entityTables.find(entity);
    if (found == m_entityTables.end()) {
        std::optional<EntityTable> table;
        const OvalisOneModel::Entity *description = m_model.entity(entity);
        const auto info = std::find_if(m_entities.cbegin(), m_entities.cend(), [&](const EntityInfo &candidate) {
            return candidate.name.compare(entity, Qt::CaseInsensitive) == 0;
        });
        if (description && info != m_entities.cend()) {
            // Up to the root entity, whose table the sub-entities share.
            EntityInfo root = *info;
            for (int depth = 0; root.superNumber != 0 && m_entities.contains(root.superNumber) && depth < m_entities.size(); ++depth)
                root = m_entities.value(root.superNumber);
            const QString name = columnName(root.name);
            if (m_tables.contains(name)) {
                table = EntityTable{description, info->number, name, QString(), columnsOf(name)};
                if (root.number != info->number) {
                    QStringList numbers;
                    for (const EntityInfo &candidate : std::as_const(m_entities)) {
                        EntityInfo ancestor = candidate;
                        for (int depth = 0; depth <= m_entities.size(); ++depth) {
                            if (ancestor.number == info->number) {
                                numbers.append(QString::number(candidate.number));
                                break;
                            }
                            if (ancestor.superNumber == 0 || !m_entities.contains(ancestor.superNumber))
                                break;
                            ancestor = m_entities.value(ancestor.superNumber);
                        }
                    }
                    table->filter = QStringLiteral("Z_ENT IN (%1)").arg(numbers.join(QLatin1Char(',')));
                }
            }
        }
        found = m_entityTables.insert(entity, table);
    }
    return found->has_value() ? &found->value() : nullptr;
}

std::optional<QVector<OvalisOneObject>> OvalisOneDocument::fetch(const EntityTable &table, const QString &condition,
                                                                 const QVector<qint64> &arguments, QString *error)
{
    struct Column {
        QString name;
        const OvalisOneModel::Attribute *attribute;
        const OvalisOneModel::Relationship *relationship;
    };
    QVector<Column> columns;
    for (const OvalisOneModel::Attribute &attribute : table.entity->attributes)
        if (attribute.type != OvalisOneModel::AttributeType::Binary && table.columns.contains(columnName(attribute.name)))
            columns.append({columnName(attribute.name), &attribute, nullptr});
    for (const OvalisOneModel::Relationship &relationship : table.entity->relationships)
        if (!relationship.toMany && table.columns.contains(columnName(relationship.name)))
            columns.append({columnName(relationship.name), nullptr, &relationship});

    QStringList selected{QStringLiteral("Z_PK")};
    for (const Column &column : std::as_const(columns))
        selected.append(quoted(column.name));
    QStringList conditions;
    if (!table.filter.isEmpty())
        conditions.append(table.filter);
    if (!condition.isEmpty())
        conditions.append(condition);
    QString sql = QStringLiteral("SELECT %1 FROM %2").arg(selected.join(QStringLiteral(", ")), quoted(table.table));
    if (!conditions.isEmpty())
        sql += QStringLiteral(" WHERE (") + conditions.join(QStringLiteral(") AND (")) + QLatin1Char(')');
    sql += QStringLiteral(" ORDER BY Z_PK");

    Statement statement(m_database, sql);
    if (!statement.isValid()) {
        if (error)
            *error = statement.error();
        return std::nullopt;
    }
    for (int i = 0; i < arguments.size(); ++i)
        statement.bind(i + 1, arguments[i]);
    QVector<OvalisOneObject> objects;
    int result;
    while ((result = statement.step()) == SQLITE_ROW) {
        OvalisOneObject object;
        object.entity = table.entity->name;
        object.primaryKey = sqlite3_column_int64(statement.get(), 0);
        for (int i = 0; i < columns.size(); ++i) {
            if (columns[i].attribute) {
                const QVariant value = typedValue(statement, i + 1, columns[i].attribute->type);
                if (value.isValid())
                    object.values.insert(columns[i].attribute->name, value);
            } else if (sqlite3_column_type(statement.get(), i + 1) == SQLITE_INTEGER) {
                object.toOne.insert(columns[i].relationship->name, sqlite3_column_int64(statement.get(), i + 1));
            }
        }
        objects.append(object);
    }
    if (result != SQLITE_DONE) {
        if (error)
            *error = statement.error();
        return std::nullopt;
    }
    return objects;
}

std::optional<QVector<OvalisOneObject>> OvalisOneDocument::fetchAll(const QString &entity, QString *error)
{
    const EntityTable *table = entityTable(entity);
    if (!table) {
        if (error)
            *error = QStringLiteral("The document has no records of ") + entity;
        return std::nullopt;
    }
    return fetch(*table, QString(), {}, error);
}

QVector<OvalisOneObject> OvalisOneDocument::related(const OvalisOneObject &object, const QString &relationshipName)
{
    const EntityTable *source = entityTable(object.entity);
    const OvalisOneModel::Relationship *relationship = source ? source->entity->relationship(relationshipName) : nullptr;
    const EntityTable *destination = relationship ? entityTable(relationship->destinationEntity) : nullptr;
    if (!destination)
        return {};
    if (!relationship->toMany) {
        if (!object.toOne.contains(relationshipName))
            return {};
        return fetch(*destination, QStringLiteral("Z_PK = ?"), {object.toOne.value(relationshipName)}, nullptr).value_or(QVector<OvalisOneObject>());
    }
    if (relationship->inverseToMany)
        return manyToMany(object, *source, *relationship);
    const QString inverse = columnName(relationship->inverseName);
    if (!destination->columns.contains(inverse))
        return {};
    return fetch(*destination, quoted(inverse) + QStringLiteral(" = ?"), {object.primaryKey}, nullptr).value_or(QVector<OvalisOneObject>());
}

QVector<OvalisOneObject> OvalisOneDocument::manyToMany(const OvalisOneObject &object, const EntityTable &source,
                                                       const OvalisOneModel::Relationship &relationship)
{
    const EntityTable *destination = entityTable(relationship.destinationEntity);
    const QString name = relationship.name.toUpper();
    const QString inverse = relationship.inverseName.toUpper();
    // The table is named after either side; a digit may follow a name that
    // would otherwise collide.
    const auto named = [](const QString &prefix) {
        return QRegularExpression(QLatin1Char('^') + QRegularExpression::escape(prefix) + QStringLiteral("\\d*$"));
    };
    const QRegularExpression tableNames[] = {named(QStringLiteral("Z_%1%2").arg(source.number).arg(name)),
                                             named(QStringLiteral("Z_%1%2").arg(destination->number).arg(inverse))};
    const QRegularExpression sourceColumn = named(QStringLiteral("Z_%1%2").arg(source.number).arg(inverse));
    const QRegularExpression destinationColumn = named(QStringLiteral("Z_%1%2").arg(destination->number).arg(name));
    for (const QString &table : std::as_const(m_tables)) {
        if (!tableNames[0].match(table).hasMatch() && !tableNames[1].match(table).hasMatch())
            continue;
        QString from, to;
        for (const QString &column : columnsOf(table)) {
            if (sourceColumn.match(column).hasMatch())
                from = column;
            else if (destinationColumn.match(column).hasMatch())
                to = column;
        }
        if (from.isEmpty() || to.isEmpty())
            continue;
        const QString condition =
            QStringLiteral("Z_PK IN (SELECT %1 FROM %2 WHERE %3 = ?)").arg(quoted(to), quoted(table), quoted(from));
        return fetch(*destination, condition, {object.primaryKey}, nullptr).value_or(QVector<OvalisOneObject>());
    }
    return {};
}

std::optional<QByteArray> OvalisOneDocument::data(const OvalisOneObject &object, const QString &attributeName)
{
    const EntityTable *table = entityTable(object.entity);
    const OvalisOneModel::Attribute *attribute = table ? table->entity->attribute(attributeName) : nullptr;
    if (!attribute || attribute->type != OvalisOneModel::AttributeType::Binary
        || !table->columns.contains(columnName(attributeName)))
        return std::nullopt;
    Statement statement(m_database, QStringLiteral("SELECT %1 FROM %2 WHERE Z_PK = ?")
                                        .arg(quoted(columnName(attributeName)), quoted(table->table)));
    if (!statement.isValid())
        return std::nullopt;
    statement.bind(1, object.primaryKey);
    if (statement.step() != SQLITE_ROW || sqlite3_column_type(statement.get(), 0) != SQLITE_BLOB)
        return std::nullopt;
    const QByteArray bytes(static_cast<const char *>(sqlite3_column_blob(statement.get(), 0)),
                           sqlite3_column_bytes(statement.get(), 0));
    if (!attribute->allowsExternalStorage || bytes.isEmpty())
        return bytes;
    switch (bytes.at(0)) {
    case 0x01:
        return bytes.mid(1);
    case 0x02:
        return externalData(bytes.mid(1), attributeName);
    default:
        return bytes;
    }
}

std::optional<QByteArray> OvalisOneDocument::externalData(const QByteArray &reference, const QString &attribute)
{
    const int end = reference.indexOf('\0');
    const QString name = QString::fromLatin1(end < 0 ? reference : reference.left(end)).trimmed();
    const QFileInfo document(m_path);
    const QString path = document.dir().filePath(QLatin1Char('.') + document.completeBaseName()
                                                 + QStringLiteral("_SUPPORT/_EXTERNAL_DATA/") + name);
    // The name is a UUID; anything else must not lead out of the folder.
    QFile file(path);
    if (!MediaUuid::isValid(name) || !file.open(QIODevice::ReadOnly)) {
        Log::error(LogArea::Importing, QStringLiteral("Unable to read external data of %1 at %2").arg(attribute, path));
        return std::nullopt;
    }
    return file.readAll();
}

} // namespace ovalis
