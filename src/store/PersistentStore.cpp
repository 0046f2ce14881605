#include "store/PersistentStore.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QUuid>
#include <QVarLengthArray>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <iterator>
#include <sqlite3.h>

#include "store/MediaUuid.h"
#include "store/PredicateNode.h"
#include "store/SqlFunctions.h"
#include "util/TextFolding.h"

namespace ovalis {

namespace {

constexpr int relationshipBitOffset = 16;
// The write-ahead log is folded into the file, on a thread of its own, once
// it holds this many pages (64 MB).
constexpr int checkpointPages = 16384;

QString sqliteMessage(sqlite3 *db)
{
    return db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("out of memory");
}

void bindValue(sqlite3_stmt *statement, int index, const QVariant &value)
{
    if (!value.isValid() || value.isNull()) {
        sqlite3_bind_null(statement, index);
        return;
    }
    switch (value.metaType().id()) {
    case QMetaType::QString: {
        const QByteArray utf8 = value.toString().toUtf8();
        sqlite3_bind_text(statement, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
        break;
    }
    case QMetaType::Bool:
        sqlite3_bind_int64(statement, index, value.toBool() ? 1 : 0);
        break;
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::Short:
        sqlite3_bind_int64(statement, index, value.toLongLong());
        break;
    case QMetaType::Double:
    case QMetaType::Float:
        sqlite3_bind_double(statement, index, value.toDouble());
        break;
    case QMetaType::QDateTime:
        sqlite3_bind_double(statement, index, double(value.toDateTime().toMSecsSinceEpoch()) / 1000.0);
        break;
    default:
        bindValue(statement, index, QVariant(value.toString()));
        break;
    }
}

// Binds a QString as UTF-8 text.
void bindText(sqlite3_stmt *statement, int index, const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    sqlite3_bind_text(statement, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

// Binds an attribute's value as it is stored: dates as seconds since 1970,
// booleans as 0 or 1.
void bindAttribute(sqlite3_stmt *statement, int index, const QVariant &value, AttributeType type)
{
    if (!value.isValid()) {
        sqlite3_bind_null(statement, index);
        return;
    }
    switch (type) {
    case AttributeType::Date:
        sqlite3_bind_double(statement, index, double(value.toDateTime().toMSecsSinceEpoch()) / 1000.0);
        break;
    case AttributeType::Boolean:
        sqlite3_bind_int64(statement, index, value.toBool() ? 1 : 0);
        break;
    default:
        bindValue(statement, index, value);
        break;
    }
}

QVariant columnValue(sqlite3_stmt *statement, int column, AttributeType type)
{
    const int sqlType = sqlite3_column_type(statement, column);
    if (sqlType == SQLITE_NULL) {
        switch (type) {
        case AttributeType::Integer16:
        case AttributeType::Integer32: return QVariant(0);
        case AttributeType::Boolean: return QVariant(false);
        default: return {};
        }
    }
    switch (type) {
    case AttributeType::String: {
        const int bytes = sqlite3_column_bytes(statement, column);
        if (bytes == 0)
            return QVariant(QStringLiteral(""));
        return QVariant(QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, column)), bytes));
    }
    case AttributeType::Integer16:
        return QVariant(int(qint16(sqlite3_column_int(statement, column))));
    case AttributeType::Integer32:
        return QVariant(sqlite3_column_int(statement, column));
    case AttributeType::Boolean:
        return QVariant(sqlite3_column_int(statement, column) != 0);
    case AttributeType::Date:
        return QVariant(QDateTime::fromMSecsSinceEpoch(qint64(std::llround(sqlite3_column_double(statement, column) * 1000.0)),
                                                      Qt::UTC));
    }
    return {};
}

QVariant storedValue(const QVariant &value, AttributeType type)
{
    if (!value.isValid())
        return {};
    switch (type) {
    case AttributeType::Date:
        return QVariant(double(value.toDateTime().toMSecsSinceEpoch()) / 1000.0);
    case AttributeType::Boolean:
        return QVariant(value.toBool() ? 1 : 0);
    default:
        return value;
    }
}

class StatementReset
{
public:
    explicit StatementReset(sqlite3_stmt *statement) : m_statement(statement) {}
    ~StatementReset()
    {
        if (m_statement) {
            sqlite3_reset(m_statement);
            sqlite3_clear_bindings(m_statement);
        }
    }

private:
    sqlite3_stmt *m_statement;
};

const QStringList historyStatements = {
    QStringLiteral("CREATE TABLE history_transactions (id INTEGER PRIMARY KEY AUTOINCREMENT, timestamp REAL NOT NULL, "
                   "author TEXT, context_name TEXT, process TEXT)"),
    QStringLiteral("CREATE TABLE history_changes (transaction_id INTEGER NOT NULL, entity TEXT NOT NULL, "
                   "pk INTEGER NOT NULL, change_type INTEGER NOT NULL, columns TEXT)"),
    QStringLiteral("CREATE INDEX history_changes_by_transaction ON history_changes (transaction_id)"),
    QStringLiteral("CREATE INDEX history_transactions_by_time ON history_transactions (timestamp)"),
};

} // namespace

struct PersistentStore::TextIndexReading {
    std::mutex mutex;
    sqlite3 *db = nullptr; // the worker's own connection while it reads
    bool cancelled = false;
};

PersistentStore::PersistentStore()
    : m_processToken(QUuid::createUuid().toString(QUuid::WithoutBraces))
{
}

PersistentStore::~PersistentStore()
{
    close();
}

void PersistentStore::close()
{
    // A check still running is stopped: nobody will write after this.
    if (m_runningCheck) {
        std::lock_guard<std::mutex> lock(m_runningCheck->mutex);
        m_runningCheck->cancelled = true;
        if (m_runningCheck->db)
            sqlite3_interrupt(m_runningCheck->db);
    }
    // Its connection is closed before this one, so that closing this one
    // still folds the write-ahead log into the file.
    {
        std::lock_guard<std::mutex> lock(m_integrityMutex);
        if (m_integrityCheck.valid())
            m_integrityCheck.wait();
    }
    // Indexes being read are given up, and their connections closed before
    // this one, so that closing it still folds the write-ahead log.
    std::vector<std::future<void>> readings;
    {
        QMutexLocker locker(&m_mutex);
        cancelTextIndexReadings();
        readings.swap(m_textIndexReadings);
    }
    readings.clear(); // waits for each
    QMutexLocker locker(&m_mutex);
    closeDatabase();
}

void PersistentStore::cancelTextIndexReadings()
{
    for (auto &[entity, pending] : m_pendingTextIndexes) {
        std::lock_guard<std::mutex> lock(pending.reading->mutex);
        pending.reading->cancelled = true;
        if (pending.reading->db)
            sqlite3_interrupt(pending.reading->db);
    }
}

void PersistentStore::closeDatabase()
{
    cancelTextIndexReadings();
    for (sqlite3_stmt *statement : std::as_const(m_statements))
        sqlite3_finalize(statement);
    m_statements.clear();
    // The checkpointer's connection closes first, so that closing this one
    // still folds the write-ahead log into the file.
    if (m_db && m_checkpointer)
        sqlite3_wal_hook(m_db, nullptr, nullptr);
    m_checkpointer.reset();
    if (m_db)
        sqlite3_close(m_db);
    m_db = nullptr;
    m_textIndexes.clear();
}

bool PersistentStore::exec(const QString &sql, QString *error)
{
    char *message = nullptr;
    if (sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, &message) != SQLITE_OK) {
        if (error)
            *error = QString::fromUtf8(message ? message : "unknown error");
        sqlite3_free(message);
        return false;
    }
    return true;
}

sqlite3_stmt *PersistentStore::prepare(const QString &sql, QString *error)
{
    if (sqlite3_stmt *cached = m_statements.value(sql))
        return cached;
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v3(m_db, sql.toUtf8().constData(), -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr)
        != SQLITE_OK) {
        if (error)
            *error = sqliteMessage(m_db);
        sqlite3_finalize(statement);
        return nullptr;
    }
    m_statements.insert(sql, statement);
    return statement;
}

bool PersistentStore::open(const QString &path, Mode mode, QString *error)
{
    QMutexLocker locker(&m_mutex);
    closeDatabase();
    m_path = path;
    m_mode = mode;
    const QFileInfo info(path);
    const bool exists = info.exists();
    if (exists) {
        if (!validateExisting(error))
            return false;
    } else if (mode == Mode::ReadOnly) {
        if (error)
            *error = QStringLiteral("The library file %1 does not exist.").arg(path);
        return false;
    }

    const int flags = mode == Mode::ReadOnly ? SQLITE_OPEN_READONLY
                                             : (SQLITE_OPEN_READWRITE | (exists ? 0 : SQLITE_OPEN_CREATE));
    // Every use of the connection holds m_mutex, so SQLite's own lock per call
    // (taken again for each column read) is left out.
    if (sqlite3_open_v2(path.toUtf8().constData(), &m_db, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        if (error)
            *error = QStringLiteral("The library file %1 could not be opened: %2").arg(path, sqliteMessage(m_db));
        closeDatabase();
        return false;
    }
    if (!configureConnection(error)) {
        closeDatabase();
        return false;
    }
    if (mode == Mode::ReadWrite) {
        m_checkpointer = std::make_unique<WalCheckpointer>(path.toUtf8(), checkpointPages);
        m_checkpointer->attach(m_db);
    }
    if (mode == Mode::ReadWrite) {
        int version = 0;
        {
            sqlite3_stmt *statement = prepare(QStringLiteral("PRAGMA user_version"), error);
            StatementReset reset(statement);
            if (statement && sqlite3_step(statement) == SQLITE_ROW)
                version = sqlite3_column_int(statement, 0);
        }
        QString failure;
        const bool ok = !exists || version == 0 ? createSchema(&failure)
                        : version < ManagedObjectModel::schemaVersion ? migrate(version, &failure)
                                                                      : true;
        if (!ok) {
            if (error)
                *error = QStringLiteral("The library file %1 could not be prepared: %2").arg(path, failure);
            closeDatabase();
            return false;
        }
    }
    return true;
}

void PersistentStore::startIntegrityCheck()
{
    const QByteArray path = m_path.toUtf8();
    auto check = std::make_shared<IntegrityCheck>();
    m_runningCheck = check;
    m_integrityCheck = std::async(std::launch::async, [path, check]() -> QString {
        sqlite3 *db = nullptr;
        QString problem;
        if (sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
            problem = sqliteMessage(db);
        } else {
            {
                std::lock_guard<std::mutex> lock(check->mutex);
                check->db = check->cancelled ? nullptr : db;
            }
            sqlite3_busy_timeout(db, 60000);
            sqlite3_stmt *statement = nullptr;
            if (check->db && sqlite3_prepare_v2(db, "PRAGMA quick_check(1)", -1, &statement, nullptr) == SQLITE_OK
                && sqlite3_step(statement) == SQLITE_ROW) {
                const QString result = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, 0)));
                if (result != QLatin1String("ok"))
                    problem = result;
            } else if (check->db) {
                problem = sqliteMessage(db);
            }
            sqlite3_finalize(statement);
            std::lock_guard<std::mutex> lock(check->mutex);
            check->db = nullptr;
            if (check->cancelled)
                problem.clear();
        }
        sqlite3_close(db);
        return problem;
    });
}

QString PersistentStore::integrityProblem()
{
    std::lock_guard<std::mutex> lock(m_integrityMutex);
    if (!m_runningCheck && m_db)
        startIntegrityCheck(); // first write without a background check: check now
    if (m_integrityCheck.valid())
        m_integrityResult = m_integrityCheck.get();
    return m_integrityResult.isEmpty()
               ? QString()
               : QStringLiteral("The library file %1 is damaged (%2); Ovalis will not write to it.").arg(m_path, m_integrityResult);
}

bool PersistentStore::validateExisting(QString *error)
{
    const QFileInfo info(m_path);
    if (!info.isFile() || !info.isReadable()) {
        if (error)
            *error = QStringLiteral("The library file %1 cannot be read (permission denied).").arg(m_path);
        return false;
    }
    if (m_mode == Mode::ReadWrite && (!info.isWritable() || !QFileInfo(info.absolutePath()).isWritable())) {
        if (error)
            *error = QStringLiteral("The library file %1 cannot be written (permission denied).").arg(m_path);
        return false;
    }
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("The library file %1 cannot be read: %2").arg(m_path, file.errorString());
        return false;
    }
    const QByteArray header = file.read(16);
    file.close();
    if (header != QByteArray("SQLite format 3\0", 16)) {
        if (error)
            *error = QStringLiteral("The library file %1 is damaged or is not an Ovalis library.").arg(m_path);
        return false;
    }

    // Look inside through a read-only connection so that a refused file is never written.
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(m_path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        if (error)
            *error = QStringLiteral("The library file %1 could not be opened: %2").arg(m_path, sqliteMessage(db));
        sqlite3_close(db);
        return false;
    }
    sqlite3_busy_timeout(db, 30000);
    int version = -1;
    QStringList tables;
    QString failure;
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &statement, nullptr) == SQLITE_OK
        && sqlite3_step(statement) == SQLITE_ROW)
        version = sqlite3_column_int(statement, 0);
    else
        failure = sqliteMessage(db);
    sqlite3_finalize(statement);
    statement = nullptr;
    if (failure.isEmpty()) {
        if (sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE type = 'table'", -1, &statement, nullptr)
            == SQLITE_OK) {
            int rc;
            while ((rc = sqlite3_step(statement)) == SQLITE_ROW)
                tables << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, 0)));
            if (rc != SQLITE_DONE)
                failure = sqliteMessage(db);
        } else {
            failure = sqliteMessage(db);
        }
        sqlite3_finalize(statement);
    }
    if (failure.isEmpty()) {
        // Gross damage shows when each table's first rows are read; the full
        // check of every page runs in the background once the store is open.
        for (const QString &table : std::as_const(tables)) {
            const QByteArray probe = QStringLiteral("SELECT * FROM \"%1\" LIMIT 1").arg(table).toUtf8();
            if (sqlite3_prepare_v2(db, probe.constData(), -1, &statement, nullptr) != SQLITE_OK) {
                failure = sqliteMessage(db);
            } else {
                const int rc = sqlite3_step(statement);
                if (rc != SQLITE_ROW && rc != SQLITE_DONE)
                    failure = sqliteMessage(db);
            }
            sqlite3_finalize(statement);
            statement = nullptr;
            if (!failure.isEmpty())
                break;
        }
    }
    sqlite3_close(db);

    if (!failure.isEmpty()) {
        if (error)
            *error = QStringLiteral("The library file %1 is damaged or is not an Ovalis library (%2).").arg(m_path, failure);
        return false;
    }
    if (version > ManagedObjectModel::schemaVersion) {
        if (error)
            *error = QStringLiteral("The library file %1 was written by a newer version of Ovalis (library version %2; "
                                    "this version reads up to %3). Update Ovalis to open it.")
                         .arg(m_path)
                         .arg(version)
                         .arg(ManagedObjectModel::schemaVersion);
        return false;
    }
    const QStringList required{QStringLiteral("cases"), QStringLiteral("media"), QStringLiteral("tags"),
                               QStringLiteral("case_tags")};
    const bool emptyDatabase = tables.isEmpty() && version == 0;
    bool hasAll = true;
    for (const QString &table : required)
        hasAll = hasAll && tables.contains(table);
    if (!emptyDatabase && (!hasAll || version == 0)) {
        if (error)
            *error = QStringLiteral("The file %1 is not an Ovalis library.").arg(m_path);
        return false;
    }
    return true;
}

bool PersistentStore::configureConnection(QString *error)
{
    sqlite3_busy_timeout(m_db, 60000);
    sqlite3_extended_result_codes(m_db, 1);
    registerSqlFunctions(m_db);
    if (m_mode == Mode::ReadWrite) {
        if (!exec(QStringLiteral("PRAGMA journal_mode=WAL"), error) || !exec(QStringLiteral("PRAGMA synchronous=NORMAL"), error))
            return false;
    }
    exec(QStringLiteral("PRAGMA cache_size=-65536"), nullptr);
    exec(QStringLiteral("PRAGMA mmap_size=1073741824"), nullptr);
    exec(QStringLiteral("PRAGMA temp_store=MEMORY"), nullptr);
    return true;
}

bool PersistentStore::createSchema(QString *error)
{
    if (!exec(QStringLiteral("BEGIN IMMEDIATE"), error))
        return false;
    // Another process may have created the schema while we waited for the lock.
    int version = 0;
    {
        sqlite3_stmt *statement = nullptr;
        if (sqlite3_prepare_v2(m_db, "PRAGMA user_version", -1, &statement, nullptr) == SQLITE_OK
            && sqlite3_step(statement) == SQLITE_ROW)
            version = sqlite3_column_int(statement, 0);
        sqlite3_finalize(statement);
    }
    if (version == 0) {
        QStringList statements = model().schemaStatements();
        statements << historyStatements;
        statements << QStringLiteral("PRAGMA user_version = %1").arg(ManagedObjectModel::schemaVersion);
        for (const QString &sql : std::as_const(statements)) {
            if (!exec(sql, error)) {
                exec(QStringLiteral("ROLLBACK"), nullptr);
                return false;
            }
        }
    }
    return exec(QStringLiteral("COMMIT"), error);
}

bool PersistentStore::migrate(int fromVersion, QString *error)
{
    // Each step brings the file one version forward, all inside one
    // transaction, so that a failed step leaves the file as it was.
    if (!exec(QStringLiteral("BEGIN IMMEDIATE"), error))
        return false;
    // Another process may have brought the file forward while we waited for the lock.
    {
        sqlite3_stmt *statement = nullptr;
        if (sqlite3_prepare_v2(m_db, "PRAGMA user_version", -1, &statement, nullptr) == SQLITE_OK
            && sqlite3_step(statement) == SQLITE_ROW)
            fromVersion = sqlite3_column_int(statement, 0);
        sqlite3_finalize(statement);
    }
    QStringList statements;
    if (fromVersion < 2) {
        // Version 1 reused the key of the newest record once it was deleted.
        // The tables are made again with AUTOINCREMENT; each sequence starts
        // above every key the table or the history has seen.
        for (const EntityDescription &entity : model().entities()) {
            // The columns the old table has: later versions add their own.
            const QStringList existing = tableColumns(entity.table);
            QStringList kept;
            for (const QString &column : entity.storedColumns())
                if (existing.contains(column))
                    kept << column;
            const QString columns = kept.join(QStringLiteral(", "));
            const QString moved = entity.table + QStringLiteral("_migrating");
            statements << model().tableStatement(entity, moved)
                       << QStringLiteral("INSERT INTO %1 (%2) SELECT %2 FROM %3").arg(moved, columns, entity.table)
                       << QStringLiteral("DROP TABLE %1").arg(entity.table)
                       << QStringLiteral("ALTER TABLE %1 RENAME TO %2").arg(moved, entity.table)
                       << QStringLiteral("INSERT INTO sqlite_sequence (name, seq) SELECT '%1', 0 "
                                         "WHERE NOT EXISTS (SELECT 1 FROM sqlite_sequence WHERE name = '%1')")
                              .arg(entity.table)
                       << QStringLiteral("UPDATE sqlite_sequence SET seq = MAX(seq, "
                                         "IFNULL((SELECT MAX(pk) FROM history_changes WHERE entity = '%1'), 0)) "
                                         "WHERE name = '%2'")
                              .arg(entity.name, entity.table);
        }
        statements << model().indexStatements();
    }
    for (const QString &sql : std::as_const(statements)) {
        if (!exec(sql, error)) {
            exec(QStringLiteral("ROLLBACK"), nullptr);
            return false;
        }
    }
    statements.clear();
    if (fromVersion < 3) {
        // Version 3 gives every case and tag a uuid, the same on every
        // machine of a mirrored library.
        for (const QString &table : {QStringLiteral("cases"), QStringLiteral("tags")}) {
            if (!tableColumns(table).contains(QStringLiteral("uuid"))
                && !exec(QStringLiteral("ALTER TABLE %1 ADD COLUMN uuid TEXT").arg(table), error)) {
                exec(QStringLiteral("ROLLBACK"), nullptr);
                return false;
            }
            if (!fillMissingUuids(table, error)) {
                exec(QStringLiteral("ROLLBACK"), nullptr);
                return false;
            }
        }
        statements << model().indexStatements();
    }
    if (fromVersion < ManagedObjectModel::schemaVersion)
        statements << QStringLiteral("PRAGMA user_version = %1").arg(ManagedObjectModel::schemaVersion);
    for (const QString &sql : std::as_const(statements)) {
        if (!exec(sql, error)) {
            exec(QStringLiteral("ROLLBACK"), nullptr);
            return false;
        }
    }
    return exec(QStringLiteral("COMMIT"), error);
}

QStringList PersistentStore::tableColumns(const QString &table)
{
    QStringList columns;
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(m_db, QStringLiteral("PRAGMA table_info(%1)").arg(table).toUtf8().constData(), -1, &statement, nullptr)
        == SQLITE_OK)
        while (sqlite3_step(statement) == SQLITE_ROW)
            columns << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, 1)));
    sqlite3_finalize(statement);
    return columns;
}

bool PersistentStore::fillMissingUuids(const QString &table, QString *error)
{
    QVector<qint64> keys;
    {
        sqlite3_stmt *select = prepare(QStringLiteral("SELECT pk FROM %1 WHERE uuid IS NULL").arg(table), error);
        if (!select)
            return false;
        StatementReset reset(select);
        while (sqlite3_step(select) == SQLITE_ROW)
            keys << sqlite3_column_int64(select, 0);
    }
    sqlite3_stmt *update = prepare(QStringLiteral("UPDATE %1 SET uuid = ? WHERE pk = ?").arg(table), error);
    if (!update)
        return false;
    StatementReset reset(update);
    for (const qint64 key : std::as_const(keys)) {
        const QByteArray uuid = MediaUuid::generate().toUtf8();
        sqlite3_bind_text(update, 1, uuid.constData(), int(uuid.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int64(update, 2, key);
        const bool done = sqlite3_step(update) == SQLITE_DONE;
        sqlite3_reset(update);
        if (!done) {
            if (error)
                *error = sqliteMessage(m_db);
            return false;
        }
    }
    return true;
}

qint64 PersistentStore::newTemporaryKey()
{
    return m_nextTemporaryKey.fetch_sub(1);
}

ObjectID PersistentStore::resolve(const ObjectID &id) const
{
    if (!id.isTemporary())
        return id;
    std::lock_guard<std::mutex> lock(m_keysMutex);
    return m_permanentKeys.value(id, id);
}

ObjectID PersistentStore::temporaryFor(const ObjectID &permanent) const
{
    std::lock_guard<std::mutex> lock(m_keysMutex);
    return m_temporaryKeys.value(permanent);
}

QString PersistentStore::selectColumns(const EntityDescription &entity) const
{
    QStringList columns{QStringLiteral("t0.") + entity.primaryKeyColumn};
    for (const AttributeDescription &attribute : entity.attributes)
        columns << QStringLiteral("t0.") + attribute.column;
    for (const RelationshipDescription &relationship : entity.relationships)
        if (!relationship.toMany)
            columns << QStringLiteral("t0.") + relationship.foreignKeyColumn;
    return columns.join(QStringLiteral(", "));
}

sqlite3_stmt *PersistentStore::prepareQuery(const QString &columns, const EntityDescription &entity, const QString &where,
                                           const QVariantList &bindings, QString *error)
{
    QString sql = QStringLiteral("SELECT %1 FROM %2 t0").arg(columns, entity.table);
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where;
    sqlite3_stmt *statement = prepare(sql, error);
    if (statement)
        for (int i = 0; i < bindings.size(); ++i)
            bindValue(statement, i + 1, bindings[i]);
    return statement;
}

bool PersistentStore::runSelect(int entityIndex, const QString &where, const QVariantList &bindings,
                                QVector<ObjectSnapshot> *snapshots, QString *error)
{
    const EntityDescription &entity = model().entities()[entityIndex];
    sqlite3_stmt *statement = prepareQuery(selectColumns(entity), entity, where, bindings, error);
    if (!statement)
        return false;
    StatementReset reset(statement);
    // The destination of each to-one relationship, -1 for to-many ones.
    QVarLengthArray<int, 4> toOneDestinations;
    bool anyToOne = false;
    for (const RelationshipDescription &relationship : entity.relationships) {
        toOneDestinations.append(relationship.toMany ? -1 : model().entityIndex(relationship.destinationEntity));
        anyToOne = anyToOne || !relationship.toMany;
    }
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
        ObjectSnapshot &snapshot = snapshots->emplace_back();
        snapshot.id = {entityIndex, sqlite3_column_int64(statement, 0)};
        snapshot.attributes.resize(entity.attributes.size());
        QVariant *attributes = snapshot.attributes.data();
        int column = 1;
        for (int a = 0; a < entity.attributes.size(); ++a)
            attributes[a] = columnValue(statement, column++, entity.attributes[a].type);
        if (!anyToOne)
            continue;
        snapshot.toOne.resize(entity.relationships.size());
        for (int r = 0; r < entity.relationships.size(); ++r) {
            if (toOneDestinations[r] < 0)
                continue;
            if (sqlite3_column_type(statement, column) != SQLITE_NULL)
                snapshot.toOne[r] = {toOneDestinations[r], sqlite3_column_int64(statement, column)};
            ++column;
        }
    }
    if (rc != SQLITE_DONE) {
        if (error)
            *error = sqliteMessage(m_db);
        return false;
    }
    return true;
}

bool PersistentStore::whereClause(int entityIndex, const Predicate &predicate, QString *where, QVariantList *bindings,
                                  QString *error)
{
    if (!m_injectedFetchFailure.isEmpty()) {
        if (error)
            *error = m_injectedFetchFailure;
        return false;
    }
    if (!m_db) {
        if (error)
            *error = QStringLiteral("The store is not open.");
        return false;
    }
    return predicate.isNull()
           || predicate.toSql(model().entities()[entityIndex], QStringLiteral("t0"), where, bindings, error);
}

bool PersistentStore::fetchSnapshots(int entityIndex, const Predicate &predicate, QVector<ObjectSnapshot> *snapshots,
                                     QString *error)
{
    QMutexLocker locker(&m_mutex);
    QString where;
    QVariantList bindings;
    return whereClause(entityIndex, predicate, &where, &bindings, error)
           && runSelect(entityIndex, where, bindings, snapshots, error);
}

bool PersistentStore::fetchSnapshotsForKeys(int entityIndex, const QVector<qint64> &keys,
                                            QVector<ObjectSnapshot> *snapshots, QString *error)
{
    QMutexLocker locker(&m_mutex);
    if (!m_db)
        return false;
    const EntityDescription &entity = model().entities()[entityIndex];
    constexpr int chunk = 500;
    for (int start = 0; start < keys.size(); start += chunk) {
        QStringList numbers;
        for (int i = start; i < qMin(int(keys.size()), start + chunk); ++i)
            numbers << QString::number(keys[i]);
        // The keys are numbers, so the statement text is safe; it is not kept in the cache.
        const QString where = QStringLiteral("t0.%1 IN (%2)").arg(entity.primaryKeyColumn, numbers.join(QLatin1Char(',')));
        const bool ok = runSelect(entityIndex, where, {}, snapshots, error);
        const QString sql = QStringLiteral("SELECT %1 FROM %2 t0 WHERE %3").arg(selectColumns(entity), entity.table, where);
        if (sqlite3_stmt *statement = m_statements.take(sql))
            sqlite3_finalize(statement);
        if (!ok)
            return false;
    }
    return true;
}

bool PersistentStore::fetchKeys(int entityIndex, const Predicate &predicate, QVector<qint64> *keys, QString *error)
{
    QMutexLocker locker(&m_mutex);
    const EntityDescription &entity = model().entities()[entityIndex];
    QString where;
    QVariantList bindings;
    if (!whereClause(entityIndex, predicate, &where, &bindings, error))
        return false;
    if (std::optional<QVector<qint64>> found = indexedSearch(entityIndex, predicate)) {
        *keys += *found;
        return true;
    }
    sqlite3_stmt *statement = prepareQuery(QStringLiteral("t0.") + entity.primaryKeyColumn, entity, where, bindings, error);
    if (!statement)
        return false;
    StatementReset reset(statement);
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW)
        keys->append(sqlite3_column_int64(statement, 0));
    if (rc != SQLITE_DONE) {
        if (error)
            *error = sqliteMessage(m_db);
        return false;
    }
    return true;
}

bool PersistentStore::count(int entityIndex, const Predicate &predicate, qint64 *count, QString *error)
{
    QVector<qint64> keys;
    if (!fetchKeys(entityIndex, predicate, &keys, error))
        return false;
    *count = keys.size();
    return true;
}

QHash<QString, qint64> PersistentStore::keysForValues(int entity, int attribute, const QStringList &values)
{
    QHash<QString, qint64> keys;
    if (values.isEmpty())
        return keys;
    const QJsonDocument list(QJsonArray::fromStringList(values));
    QMutexLocker locker(&m_mutex);
    if (!m_db)
        return keys;
    const EntityDescription &description = model().entities()[entity];
    const QString column = description.attributes[attribute].column;
    sqlite3_stmt *statement = prepare(QStringLiteral("SELECT %1, %2 FROM %3 WHERE %1 IN (SELECT value FROM json_each(?1))")
                                          .arg(column, description.primaryKeyColumn, description.table),
                                      nullptr);
    if (!statement)
        return keys;
    StatementReset reset(statement);
    const QByteArray text = list.toJson(QJsonDocument::Compact);
    sqlite3_bind_text(statement, 1, text.constData(), int(text.size()), SQLITE_TRANSIENT);
    while (sqlite3_step(statement) == SQLITE_ROW)
        keys.insert(QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, 0)),
                                      sqlite3_column_bytes(statement, 0)),
                    sqlite3_column_int64(statement, 1));
    return keys;
}

QVector<ObjectID> PersistentStore::relatedIDs(const ObjectID &id, int relationshipIndex)
{
    QVector<ObjectID> result;
    const ObjectID resolved = resolve(id);
    if (resolved.isTemporary() || resolved.isNull())
        return result;
    QMutexLocker locker(&m_mutex);
    if (!m_db)
        return result;
    const EntityDescription &entity = model().entities()[resolved.entity];
    const RelationshipDescription &relationship = entity.relationships[relationshipIndex];
    const int destinationIndex = model().entityIndex(relationship.destinationEntity);
    const EntityDescription &destination = model().entities()[destinationIndex];
    QString sql;
    if (!relationship.toMany) {
        sql = QStringLiteral("SELECT %1 FROM %2 WHERE %3 = ?1 AND %1 IS NOT NULL")
                  .arg(relationship.foreignKeyColumn, entity.table, entity.primaryKeyColumn);
    } else if (relationship.isManyToMany()) {
        sql = QStringLiteral("SELECT %1 FROM %2 WHERE %3 = ?1")
                  .arg(relationship.joinDestinationColumn, relationship.joinTable, relationship.joinSourceColumn);
    } else {
        sql = QStringLiteral("SELECT %1 FROM %2 WHERE %3 = ?1")
                  .arg(destination.primaryKeyColumn, destination.table, relationship.foreignKeyColumn);
    }
    sqlite3_stmt *statement = prepare(sql, nullptr);
    if (!statement)
        return result;
    StatementReset reset(statement);
    sqlite3_bind_int64(statement, 1, resolved.key);
    while (sqlite3_step(statement) == SQLITE_ROW)
        result.append({destinationIndex, sqlite3_column_int64(statement, 0)});
    return result;
}

const PersistentStore::InsertPlan &PersistentStore::insertPlan(int entityIndex)
{
    if (m_insertPlans.size() <= entityIndex)
        m_insertPlans.resize(entityIndex + 1);
    InsertPlan &plan = m_insertPlans[entityIndex];
    if (!plan.sql.isEmpty())
        return plan;
    // The order of the columns is the order save() binds them in.
    const EntityDescription &entity = model().entities()[entityIndex];
    const QStringList columns = entity.storedColumns();
    QStringList names;
    for (const AttributeDescription &attribute : entity.attributes)
        names << attribute.name;
    for (const RelationshipDescription &relationship : entity.relationships)
        if (!relationship.toMany)
            names << relationship.name;
    plan.sql = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                   .arg(entity.table, columns.join(QStringLiteral(", ")),
                        QStringList(columns.size(), QStringLiteral("?")).join(QStringLiteral(", ")));
    plan.historyColumns = names.join(QLatin1Char(',')).toUtf8();
    return plan;
}

bool PersistentStore::save(const ContextChanges &changes, QHash<ObjectID, ObjectID> *assigned, QString *error,
                           quint64 *sequence)
{
    QMutexLocker locker(&m_mutex);
    if (!m_db || m_mode == Mode::ReadOnly) {
        if (error)
            *error = QStringLiteral("The store %1 is read-only.").arg(m_path);
        return false;
    }
    if (!m_injectedFailure.isEmpty()) {
        if (error)
            *error = m_injectedFailure;
        return false;
    }
    if (changes.isEmpty())
        return true;
    // Nothing is written to a file whose pages are damaged.
    if (const QString problem = integrityProblem(); !problem.isEmpty()) {
        if (error)
            *error = problem;
        return false;
    }
    if (!exec(QStringLiteral("BEGIN IMMEDIATE"), error))
        return false;

    QHash<ObjectID, ObjectID> newKeys;
    newKeys.reserve(changes.records.size());
    auto fail = [&](const QString &message) {
        if (error)
            *error = message;
        exec(QStringLiteral("ROLLBACK"), nullptr);
        return false;
    };
    auto keyOf = [&](const ObjectID &id) -> qint64 {
        if (!id.isTemporary())
            return id.key;
        if (newKeys.contains(id))
            return newKeys.value(id).key;
        return m_permanentKeys.value(id, id).key;
    };

    // Keys for new records are handed out inside the write lock, so another
    // process cannot take the same ones, and above every key ever handed out
    // (SQLite's sequence of the table), so that no process mistakes a new
    // record for one it saw deleted.
    QVector<qint64> nextKey(model().entities().size(), 0);
    for (int e = 0; e < model().entities().size(); ++e) {
        const EntityDescription &entity = model().entities()[e];
        sqlite3_stmt *statement = prepare(QStringLiteral("SELECT MAX(IFNULL((SELECT MAX(%1) FROM %2), 0), "
                                                         "IFNULL((SELECT seq FROM sqlite_sequence WHERE name = '%2'), 0))")
                                              .arg(entity.primaryKeyColumn, entity.table),
                                          error);
        if (!statement)
            return fail(error ? *error : QString());
        StatementReset reset(statement);
        if (sqlite3_step(statement) != SQLITE_ROW)
            return fail(sqliteMessage(m_db));
        nextKey[e] = sqlite3_column_int64(statement, 0) + 1;
    }
    for (const ContextChanges::Record &record : changes.records) {
        const ObjectID id = record.snapshot.id;
        if (record.inserted && id.isTemporary() && !m_permanentKeys.contains(id))
            newKeys.insert(id, {id.entity, nextKey[id.entity]++});
    }

    // History rows wait until every record is written; their column lists
    // are kept as the text stored.
    struct PendingChange {
        int entity;
        qint64 key;
        HistoryTransaction::Change::Type type;
        QByteArray columns;
    };
    QVector<PendingChange> history;
    history.reserve(changes.records.size() + changes.deleted.size());
    auto step = [&](sqlite3_stmt *statement) {
        const int rc = sqlite3_step(statement);
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
        return rc == SQLITE_DONE || rc == SQLITE_ROW;
    };

    for (const ContextChanges::Record &record : changes.records) {
        const int entityIndex = record.snapshot.id.entity;
        const EntityDescription &entity = model().entities()[entityIndex];
        const qint64 key = keyOf(record.snapshot.id);
        if (record.inserted) {
            // Every column of a new record is written, so one statement per
            // entity serves them all.
            const InsertPlan &plan = insertPlan(entityIndex);
            sqlite3_stmt *statement = prepare(plan.sql, error);
            if (!statement)
                return fail(error ? *error : QString());
            int index = 1;
            sqlite3_bind_int64(statement, index++, key);
            for (int a = 0; a < entity.attributes.size(); ++a) {
                const AttributeDescription &attribute = entity.attributes[a];
                const QVariant value = record.snapshot.attributes.value(a);
                bindAttribute(statement, index++, value, attribute.type);
                if (!attribute.foldColumn.isEmpty()) {
                    if (value.isValid())
                        bindText(statement, index, foldForComparison(value.toString()));
                    ++index;
                }
            }
            for (int r = 0; r < entity.relationships.size(); ++r) {
                if (entity.relationships[r].toMany)
                    continue;
                const ObjectID target = record.snapshot.toOne.value(r);
                if (!target.isNull())
                    sqlite3_bind_int64(statement, index, keyOf(target));
                ++index;
            }
            if (!step(statement))
                return fail(sqliteMessage(m_db));
            QByteArray columns = plan.historyColumns;
            for (int r = 0; r < entity.relationships.size(); ++r)
                if (entity.relationships[r].toMany && (record.changedMask & (1u << (relationshipBitOffset + r))))
                    columns += (columns.isEmpty() ? "" : ",") + entity.relationships[r].name.toUtf8();
            history.append({entityIndex, key, HistoryTransaction::Change::Insert, columns});
            continue;
        }
        QStringList columns;
        QVariantList values;
        QStringList changedNames;
        for (int a = 0; a < entity.attributes.size(); ++a) {
            if (!(record.changedMask & (1u << a)))
                continue;
            const AttributeDescription &attribute = entity.attributes[a];
            const QVariant value = record.snapshot.attributes.value(a);
            columns << attribute.column;
            values << storedValue(value, attribute.type);
            changedNames << attribute.name;
            if (!attribute.foldColumn.isEmpty()) {
                columns << attribute.foldColumn;
                values << (value.isValid() ? QVariant(foldForComparison(value.toString())) : QVariant());
            }
        }
        for (int r = 0; r < entity.relationships.size(); ++r) {
            const RelationshipDescription &relationship = entity.relationships[r];
            if (relationship.toMany)
                continue;
            if (!(record.changedMask & (1u << (relationshipBitOffset + r))))
                continue;
            const ObjectID target = record.snapshot.toOne.value(r);
            columns << relationship.foreignKeyColumn;
            values << (target.isNull() ? QVariant() : QVariant(keyOf(target)));
            changedNames << relationship.name;
        }
        for (int r = 0; r < entity.relationships.size(); ++r)
            if (entity.relationships[r].toMany && (record.changedMask & (1u << (relationshipBitOffset + r))))
                changedNames << entity.relationships[r].name;
        if (!columns.isEmpty()) {
            QStringList assignments;
            for (const QString &column : std::as_const(columns))
                assignments << column + QStringLiteral(" = ?");
            const QString sql = QStringLiteral("UPDATE %1 SET %2 WHERE %3 = ?")
                                    .arg(entity.table, assignments.join(QStringLiteral(", ")), entity.primaryKeyColumn);
            values << key;
            sqlite3_stmt *statement = prepare(sql, error);
            if (!statement)
                return fail(error ? *error : QString());
            for (int i = 0; i < values.size(); ++i)
                bindValue(statement, i + 1, values[i]);
            if (!step(statement))
                return fail(sqliteMessage(m_db));
        }
        history.append({entityIndex, key, HistoryTransaction::Change::Update, changedNames.join(QLatin1Char(',')).toUtf8()});
    }

    for (const ObjectID &id : changes.deleted) {
        const EntityDescription &entity = model().entities()[id.entity];
        const qint64 key = keyOf(id);
        QStringList statements{QStringLiteral("DELETE FROM %1 WHERE %2 = ?").arg(entity.table, entity.primaryKeyColumn)};
        for (const RelationshipDescription &relationship : entity.relationships)
            if (relationship.isManyToMany())
                statements << QStringLiteral("DELETE FROM %1 WHERE %2 = ?").arg(relationship.joinTable, relationship.joinSourceColumn);
        for (const QString &sql : std::as_const(statements)) {
            sqlite3_stmt *statement = prepare(sql, error);
            if (!statement)
                return fail(error ? *error : QString());
            sqlite3_bind_int64(statement, 1, key);
            if (!step(statement))
                return fail(sqliteMessage(m_db));
        }
        history.append({id.entity, key, HistoryTransaction::Change::Delete, QByteArray()});
    }

    for (const ContextChanges::JoinChange &join : changes.joins) {
        const RelationshipDescription &relationship = model().entities()[join.entity].relationships[join.relationship];
        const QString sql = join.added
                                ? QStringLiteral("INSERT OR IGNORE INTO %1 (%2, %3) VALUES (?, ?)")
                                      .arg(relationship.joinTable, relationship.joinSourceColumn, relationship.joinDestinationColumn)
                                : QStringLiteral("DELETE FROM %1 WHERE %2 = ? AND %3 = ?")
                                      .arg(relationship.joinTable, relationship.joinSourceColumn, relationship.joinDestinationColumn);
        sqlite3_stmt *statement = prepare(sql, error);
        if (!statement)
            return fail(error ? *error : QString());
        sqlite3_bind_int64(statement, 1, keyOf(join.source));
        sqlite3_bind_int64(statement, 2, keyOf(join.destination));
        if (!step(statement))
            return fail(sqliteMessage(m_db));
    }

    // One history transaction per save.
    {
        sqlite3_stmt *statement = prepare(QStringLiteral("INSERT INTO history_transactions (timestamp, author, context_name, process) "
                                                         "VALUES (?, ?, ?, ?)"), error);
        if (!statement)
            return fail(error ? *error : QString());
        bindValue(statement, 1, double(QDateTime::currentMSecsSinceEpoch()) / 1000.0);
        bindValue(statement, 2, changes.author.isEmpty() ? QVariant() : QVariant(changes.author));
        bindValue(statement, 3, changes.contextName.isEmpty() ? QVariant() : QVariant(changes.contextName));
        bindValue(statement, 4, m_processToken);
        if (!step(statement))
            return fail(sqliteMessage(m_db));
        const qint64 transactionId = sqlite3_last_insert_rowid(m_db);
        sqlite3_stmt *change = prepare(QStringLiteral("INSERT INTO history_changes (transaction_id, entity, pk, change_type, columns) "
                                                      "VALUES (?, ?, ?, ?, ?)"), error);
        if (!change)
            return fail(error ? *error : QString());
        QVector<QByteArray> entityNames;
        for (const EntityDescription &entity : model().entities())
            entityNames.append(entity.name.toUtf8());
        for (const PendingChange &c : std::as_const(history)) {
            sqlite3_bind_int64(change, 1, transactionId);
            const QByteArray &name = entityNames[c.entity];
            sqlite3_bind_text(change, 2, name.constData(), int(name.size()), SQLITE_STATIC);
            sqlite3_bind_int64(change, 3, c.key);
            sqlite3_bind_int64(change, 4, c.type);
            sqlite3_bind_text(change, 5, c.columns.constData(), int(c.columns.size()), SQLITE_STATIC);
            if (!step(change))
                return fail(sqliteMessage(m_db));
        }
    }

    if (!exec(QStringLiteral("COMMIT"), error)) {
        exec(QStringLiteral("ROLLBACK"), nullptr);
        return false;
    }
    std::unique_lock<std::mutex> keysLock(m_keysMutex);
    m_permanentKeys.reserve(m_permanentKeys.size() + newKeys.size());
    m_temporaryKeys.reserve(m_temporaryKeys.size() + newKeys.size());
    for (auto it = newKeys.cbegin(); it != newKeys.cend(); ++it) {
        m_permanentKeys.insert(it.key(), it.value());
        m_temporaryKeys.insert(it.value(), it.key());
    }
    keysLock.unlock();
    updateTextIndexes(changes, newKeys);
    if (assigned)
        *assigned = newKeys;
    ++m_saveSequence;
    if (sequence)
        *sequence = m_saveSequence;
    return true;
}

bool PersistentStore::deleteHistory(const QDateTime &before, QString *error)
{
    QMutexLocker locker(&m_mutex);
    if (!m_db || m_mode == Mode::ReadOnly) {
        if (error)
            *error = QStringLiteral("The store is read-only.");
        return false;
    }
    if (const QString problem = integrityProblem(); !problem.isEmpty()) {
        if (error)
            *error = problem;
        return false;
    }
    const QString limit = QString::number(double(before.toMSecsSinceEpoch()) / 1000.0, 'f', 3);
    return exec(QStringLiteral("BEGIN IMMEDIATE"), error)
           && exec(QStringLiteral("DELETE FROM history_changes WHERE transaction_id IN "
                                  "(SELECT id FROM history_transactions WHERE timestamp < %1)").arg(limit), error)
           && exec(QStringLiteral("DELETE FROM history_transactions WHERE timestamp < %1").arg(limit), error)
           && exec(QStringLiteral("COMMIT"), error);
}

QVector<HistoryTransaction> PersistentStore::historySince(qint64 afterId, bool otherProcessesOnly)
{
    QMutexLocker locker(&m_mutex);
    QVector<HistoryTransaction> result;
    if (!m_db)
        return result;
    sqlite3_stmt *statement = prepare(QStringLiteral("SELECT t.id, t.timestamp, t.author, t.context_name, t.process, "
                                                     "c.entity, c.pk, c.change_type, c.columns FROM history_transactions t "
                                                     "LEFT JOIN history_changes c ON c.transaction_id = t.id "
                                                     "WHERE t.id > ? AND (? = 0 OR t.process IS NOT ?) ORDER BY t.id"),
                                      nullptr);
    if (!statement)
        return result;
    StatementReset reset(statement);
    sqlite3_bind_int64(statement, 1, afterId);
    sqlite3_bind_int(statement, 2, otherProcessesOnly ? 1 : 0);
    bindValue(statement, 3, m_processToken);
    auto text = [statement](int column) {
        const unsigned char *value = sqlite3_column_text(statement, column);
        return value ? QString::fromUtf8(reinterpret_cast<const char *>(value)) : QString();
    };
    while (sqlite3_step(statement) == SQLITE_ROW) {
        const qint64 id = sqlite3_column_int64(statement, 0);
        if (result.isEmpty() || result.last().id != id) {
            HistoryTransaction transaction;
            transaction.id = id;
            transaction.timestamp = QDateTime::fromMSecsSinceEpoch(qint64(std::llround(sqlite3_column_double(statement, 1) * 1000.0)), Qt::UTC);
            transaction.author = text(2);
            transaction.contextName = text(3);
            transaction.process = text(4);
            result.append(transaction);
        }
        if (sqlite3_column_type(statement, 5) != SQLITE_NULL) {
            HistoryTransaction::Change change;
            change.entity = model().entityIndex(text(5));
            change.key = sqlite3_column_int64(statement, 6);
            change.type = HistoryTransaction::Change::Type(sqlite3_column_int(statement, 7));
            change.columns = text(8).split(QLatin1Char(','), Qt::SkipEmptyParts);
            result.last().changes.append(change);
        }
    }
    return result;
}

qint64 PersistentStore::lastHistoryId()
{
    QMutexLocker locker(&m_mutex);
    if (!m_db)
        return 0;
    sqlite3_stmt *statement = prepare(QStringLiteral("SELECT IFNULL(MAX(id), 0) FROM history_transactions"), nullptr);
    if (!statement)
        return 0;
    StatementReset reset(statement);
    return sqlite3_step(statement) == SQLITE_ROW ? sqlite3_column_int64(statement, 0) : 0;
}

// --- Search index -----------------------------------------------------------

namespace {

// The folded text a search looks for in each attribute, when the predicate
// is one "key contains[cd] text" or an OR of them over the entity's own
// string attributes; nothing for any other predicate.
std::optional<QList<std::pair<int, QString>>> containsTerms(const EntityDescription &entity, const PredicateNode *node)
{
    // A compound of one member is that member.
    while (node && (node->kind() == PredicateNode::Kind::And || node->kind() == PredicateNode::Kind::Or)
           && node->children().size() == 1)
        node = node->children().first().get();
    if (!node)
        return std::nullopt;
    QList<const PredicateNode *> comparisons;
    if (node->kind() == PredicateNode::Kind::Comparison)
        comparisons.append(node);
    else if (node->kind() == PredicateNode::Kind::Or && !node->children().isEmpty())
        for (const PredicateNode::Pointer &child : node->children())
            comparisons.append(child.get());
    else
        return std::nullopt;
    QList<std::pair<int, QString>> terms;
    for (const PredicateNode *comparison : std::as_const(comparisons)) {
        if (comparison->kind() != PredicateNode::Kind::Comparison
            || comparison->modifier() != PredicateModifier::Direct
            || comparison->op() != PredicateOperator::Contains
            || comparison->options() != (CaseInsensitiveOption | DiacriticInsensitiveOption))
            return std::nullopt;
        const PredicateExpression &left = comparison->left();
        const PredicateExpression &right = comparison->right();
        if (left.kind() != PredicateExpression::Kind::KeyPath || !left.variable().isEmpty() || left.keys().size() != 1
            || left.terminal() != PredicateExpression::Terminal::None
            || right.kind() != PredicateExpression::Kind::Constant
            || right.valueType() != PredicateExpression::ValueType::String || right.foldedText().isEmpty()
            || right.foldedText().contains(QChar(0)))
            return std::nullopt;
        const int attribute = entity.attributeIndex(left.keys().first());
        if (attribute < 0 || entity.attributes[attribute].type != AttributeType::String
            || entity.attributes[attribute].foldColumn.isEmpty())
            return std::nullopt;
        terms.append({attribute, right.foldedText()});
    }
    return terms;
}

QList<int> foldedAttributes(const EntityDescription &entity)
{
    QList<int> attributes;
    for (int a = 0; a < entity.attributes.size(); ++a)
        if (!entity.attributes[a].foldColumn.isEmpty())
            attributes.append(a);
    return attributes;
}

QList<QByteArray> foldedTexts(const QList<int> &attributes, const ObjectSnapshot &snapshot)
{
    QList<QByteArray> texts;
    texts.reserve(attributes.size());
    for (int a : attributes) {
        const QVariant value = snapshot.attributes.value(a);
        texts.append(value.isValid() ? foldForComparison(value.toString()).toUtf8() : QByteArray());
    }
    return texts;
}

// The statement that reads the folded texts of an index, in key order.
QByteArray textIndexQuery(const EntityDescription &entity, const QList<int> &attributes)
{
    QStringList columns{entity.primaryKeyColumn};
    for (int a : attributes)
        columns << entity.attributes[a].foldColumn;
    return QStringLiteral("SELECT %1 FROM %2 ORDER BY %3")
        .arg(columns.join(QStringLiteral(", ")), entity.table, entity.primaryKeyColumn)
        .toUtf8();
}

// Every record's folded texts from a statement of textIndexQuery; nullptr when reading fails.
std::unique_ptr<FoldedTextIndex> readTextIndex(sqlite3_stmt *statement, const QList<int> &attributes)
{
    auto index = std::make_unique<FoldedTextIndex>(attributes);
    QList<QByteArray> texts;
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
        texts.clear();
        for (int c = 1; c <= attributes.size(); ++c) {
            const char *text = reinterpret_cast<const char *>(sqlite3_column_text(statement, c));
            texts.append(text ? QByteArray(text, sqlite3_column_bytes(statement, c)) : QByteArray());
        }
        index->append(sqlite3_column_int64(statement, 0), texts);
    }
    if (rc != SQLITE_DONE)
        return nullptr;
    return index;
}

// Past this many records saved since the index was read, reading it again
// is cheaper than searching the saved records one by one.
constexpr qsizetype maximumOverlaidRecords = 2000;

} // namespace

std::optional<QVector<qint64>> PersistentStore::indexedSearch(int entityIndex, const Predicate &predicate)
{
    const EntityDescription &entity = model().entities()[entityIndex];
    const std::optional<QList<std::pair<int, QString>>> terms = containsTerms(entity, predicate.rootNode());
    if (!terms)
        return std::nullopt;
    FoldedTextIndex *index = currentTextIndex(entityIndex);
    if (!index)
        return std::nullopt;
    // One pass per distinct text, over the attributes searched for it.
    QHash<QString, QList<int>> attributesByText;
    for (const auto &[attribute, text] : *terms)
        attributesByText[text].append(attribute);
    QVector<qint64> keys;
    for (auto it = attributesByText.cbegin(); it != attributesByText.cend(); ++it) {
        const QVector<qint64> found = index->keysContaining(it.value(), it.key().toUtf8());
        if (keys.isEmpty()) {
            keys = found;
            continue;
        }
        QVector<qint64> merged;
        merged.reserve(keys.size() + found.size());
        std::set_union(keys.cbegin(), keys.cend(), found.cbegin(), found.cend(), std::back_inserter(merged));
        keys = std::move(merged);
    }
    return keys;
}

bool PersistentStore::textIndexIsCurrent(int entityIndex)
{
    const auto slot = m_textIndexes.find(entityIndex);
    if (slot == m_textIndexes.end() || !slot->second.index)
        return false;
    const qint64 version = dataVersion();
    return version >= 0 && slot->second.dataVersion == version;
}

bool PersistentStore::hasCurrentTextIndex(int entityIndex)
{
    QMutexLocker locker(&m_mutex);
    return m_db && textIndexIsCurrent(entityIndex);
}

FoldedTextIndex *PersistentStore::currentTextIndex(int entityIndex)
{
    // An index being read in the background is most of the way there.
    while (m_pendingTextIndexes.count(entityIndex))
        m_textIndexHandedOver.wait(&m_mutex);
    if (!m_db)
        return nullptr;
    if (textIndexIsCurrent(entityIndex))
        return m_textIndexes[entityIndex].index.get();
    const qint64 version = dataVersion();
    TextIndex &slot = m_textIndexes[entityIndex];
    slot = TextIndex();
    const EntityDescription &entity = model().entities()[entityIndex];
    const QList<int> attributes = foldedAttributes(entity);
    sqlite3_stmt *statement = prepare(QString::fromUtf8(textIndexQuery(entity, attributes)), nullptr);
    if (!statement)
        return nullptr;
    StatementReset reset(statement);
    slot.index = readTextIndex(statement, attributes);
    slot.dataVersion = version;
    return slot.index.get();
}

void PersistentStore::prepareTextIndexInBackground(int entityIndex, std::function<void(bool)> ready)
{
    QMutexLocker locker(&m_mutex);
    std::erase_if(m_textIndexReadings, [](const std::future<void> &reading) {
        return reading.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    });
    if (const auto pending = m_pendingTextIndexes.find(entityIndex); pending != m_pendingTextIndexes.end()) {
        if (ready)
            pending->second.whenRead.push_back(std::move(ready));
        return;
    }
    if (!m_db || entityIndex < 0 || entityIndex >= model().entities().size() || textIndexIsCurrent(entityIndex)) {
        const bool current = m_db && entityIndex >= 0 && entityIndex < model().entities().size();
        locker.unlock();
        if (ready)
            ready(current);
        return;
    }
    // Saves from now on are remembered for the index before its connection
    // reads the file, so none falls between the two.
    auto reading = std::make_shared<TextIndexReading>();
    PendingTextIndex &pending = m_pendingTextIndexes[entityIndex];
    pending.reading = reading;
    pending.dataVersion = dataVersion();
    if (ready)
        pending.whenRead.push_back(std::move(ready));
    const EntityDescription &entity = model().entities()[entityIndex];
    const QList<int> attributes = foldedAttributes(entity);
    const QByteArray sql = textIndexQuery(entity, attributes);
    const QByteArray path = m_path.toUtf8();
    m_textIndexReadings.push_back(std::async(std::launch::async, [this, entityIndex, reading, attributes, sql, path] {
        std::unique_ptr<FoldedTextIndex> index;
        sqlite3 *db = nullptr;
        if (sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) == SQLITE_OK) {
            {
                std::lock_guard<std::mutex> lock(reading->mutex);
                reading->db = reading->cancelled ? nullptr : db;
            }
            sqlite3_busy_timeout(db, 60000);
            sqlite3_stmt *statement = nullptr;
            if (reading->db && sqlite3_prepare_v2(db, sql.constData(), int(sql.size()), &statement, nullptr) == SQLITE_OK)
                index = readTextIndex(statement, attributes);
            sqlite3_finalize(statement);
            std::lock_guard<std::mutex> lock(reading->mutex);
            reading->db = nullptr;
        }
        if (index && m_textIndexHandOverHook)
            m_textIndexHandOverHook();
        sqlite3_close(db);
        handOverTextIndex(entityIndex, reading, std::move(index));
    }));
}

bool PersistentStore::handOverTextIndex(int entityIndex, const std::shared_ptr<TextIndexReading> &reading,
                                        std::unique_ptr<FoldedTextIndex> index)
{
    std::vector<std::function<void(bool)>> whenRead;
    bool handedOver = false;
    {
        QMutexLocker locker(&m_mutex);
        const auto found = m_pendingTextIndexes.find(entityIndex);
        if (found == m_pendingTextIndexes.end() || found->second.reading != reading)
            return false;
        PendingTextIndex &pending = found->second;
        bool cancelled;
        {
            std::lock_guard<std::mutex> lock(reading->mutex);
            cancelled = reading->cancelled;
        }
        if (index && m_db && !cancelled && !pending.tooManySaves) {
            for (auto &[key, texts] : pending.savedMeanwhile) {
                if (texts)
                    index->update(key, *texts);
                else
                    index->remove(key);
            }
            m_textIndexes[entityIndex] = TextIndex{std::move(index), pending.dataVersion};
            handedOver = true;
        }
        whenRead = std::move(pending.whenRead);
        m_pendingTextIndexes.erase(found);
        m_textIndexHandedOver.wakeAll();
    }
    for (const std::function<void(bool)> &ready : whenRead)
        ready(handedOver);
    return handedOver;
}

qint64 PersistentStore::dataVersion()
{
    sqlite3_stmt *statement = prepare(QStringLiteral("PRAGMA data_version"), nullptr);
    if (!statement)
        return -1;
    StatementReset reset(statement);
    return sqlite3_step(statement) == SQLITE_ROW ? sqlite3_column_int64(statement, 0) : -1;
}

void PersistentStore::updateTextIndexes(const ContextChanges &changes, const QHash<ObjectID, ObjectID> &newKeys)
{
    if (m_textIndexes.empty() && m_pendingTextIndexes.empty())
        return;
    auto keyOf = [&](const ObjectID &id) {
        const ObjectID permanent = newKeys.value(id, m_permanentKeys.value(id, id));
        return permanent.key;
    };
    // A record's texts now, or nothing once deleted, laid over the entity's
    // index and remembered for the one being read.
    auto lay = [&](int entity, qint64 key, const std::optional<QList<QByteArray>> &texts) {
        if (const auto slot = m_textIndexes.find(entity); slot != m_textIndexes.end() && slot->second.index) {
            if (texts)
                slot->second.index->update(key, *texts);
            else
                slot->second.index->remove(key);
        }
        if (const auto pending = m_pendingTextIndexes.find(entity); pending != m_pendingTextIndexes.end()) {
            PendingTextIndex &reading = pending->second;
            if (reading.savedMeanwhile.size() >= size_t(maximumOverlaidRecords)) {
                reading.tooManySaves = true;
                reading.savedMeanwhile = {};
            }
            if (!reading.tooManySaves)
                reading.savedMeanwhile.emplace_back(key, texts);
        }
    };
    auto indexed = [&](int entity) {
        const auto slot = m_textIndexes.find(entity);
        return (slot != m_textIndexes.end() && slot->second.index) || m_pendingTextIndexes.count(entity);
    };
    for (const ContextChanges::Record &record : changes.records) {
        const int entity = record.snapshot.id.entity;
        if (!indexed(entity))
            continue;
        const QList<int> attributes = foldedAttributes(model().entities()[entity]);
        bool touched = record.inserted;
        for (int a : attributes)
            touched = touched || (record.changedMask & (1u << a));
        if (touched)
            lay(entity, keyOf(record.snapshot.id), foldedTexts(attributes, record.snapshot));
    }
    for (const ObjectID &id : changes.deleted)
        if (indexed(id.entity))
            lay(id.entity, keyOf(id), std::nullopt);
    for (auto &[entity, slot] : m_textIndexes)
        if (slot.index && slot.index->overlaidCount() > maximumOverlaidRecords)
            slot.index.reset();
}

bool PersistentStore::hasExternalChanges()
{
    QMutexLocker locker(&m_mutex);
    if (!m_db)
        return false;
    sqlite3_stmt *statement = prepare(QStringLiteral("PRAGMA data_version"), nullptr);
    if (!statement)
        return false;
    StatementReset reset(statement);
    if (sqlite3_step(statement) != SQLITE_ROW)
        return false;
    const qint64 version = sqlite3_column_int64(statement, 0);
    const bool changed = m_dataVersion >= 0 && version != m_dataVersion;
    m_dataVersion = version;
    return changed;
}

} // namespace ovalis
