#include "MirrorState.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <sqlite3.h>

namespace ovalis {

namespace {

#define OVALIS_KEYS_BY_UUID "CREATE INDEX IF NOT EXISTS keys_by_uuid ON keys (entity, uuid);"
const char *const uuidIndex = OVALIS_KEYS_BY_UUID;

const char *const schema =
    "CREATE TABLE IF NOT EXISTS settings (key TEXT PRIMARY KEY, value TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS keys (entity INTEGER NOT NULL, pk INTEGER NOT NULL, uuid TEXT NOT NULL, "
    "PRIMARY KEY (entity, pk)) WITHOUT ROWID;"
    OVALIS_KEYS_BY_UUID
    "CREATE TABLE IF NOT EXISTS links (case_uuid TEXT NOT NULL, tag_uuid TEXT NOT NULL, "
    "PRIMARY KEY (case_uuid, tag_uuid)) WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS files (media_uuid TEXT PRIMARY KEY, sha256 TEXT NOT NULL, size INTEGER NOT NULL, "
    "modified INTEGER NOT NULL, saved_at INTEGER NOT NULL);";

void bindText(sqlite3_stmt *statement, int index, const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    sqlite3_bind_text(statement, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

QString columnText(sqlite3_stmt *statement, int column)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, column)),
                             sqlite3_column_bytes(statement, column));
}

} // namespace

MirrorState::MirrorState() = default;

MirrorState::~MirrorState()
{
    for (sqlite3_stmt *statement : std::as_const(m_statements))
        sqlite3_finalize(statement);
    if (m_db)
        sqlite3_close(m_db);
}

bool MirrorState::open(const QString &libraryDirectory, QString *error)
{
    const QString path = QDir(libraryDirectory).filePath(fileName());
    auto attempt = [&](QString *message) {
        if (sqlite3_open_v2(path.toUtf8().constData(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr)
            != SQLITE_OK) {
            *message = QString::fromUtf8(sqlite3_errmsg(m_db));
            sqlite3_close(m_db);
            m_db = nullptr;
            return false;
        }
        sqlite3_busy_timeout(m_db, 10000);
        char *failure = nullptr;
        if (sqlite3_exec(m_db, "PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL; PRAGMA cache_size = -65536; PRAGMA wal_autocheckpoint = 16384;", nullptr, nullptr, &failure)
                != SQLITE_OK
            || sqlite3_exec(m_db, schema, nullptr, nullptr, &failure) != SQLITE_OK) {
            *message = QString::fromUtf8(failure ? failure : sqlite3_errmsg(m_db));
            sqlite3_free(failure);
            sqlite3_close(m_db);
            m_db = nullptr;
            return false;
        }
        return true;
    };
    QString message;
    if (attempt(&message))
        return true;
    // The state can always be learned again from the library and the
    // server: a damaged file is set aside and started afresh.
    if (QFile::exists(path)) {
        QFile::remove(path + QStringLiteral(".damaged"));
        QFile::rename(path, path + QStringLiteral(".damaged"));
        QFile::remove(path + QStringLiteral("-wal"));
        QFile::remove(path + QStringLiteral("-shm"));
        if (attempt(&message))
            return true;
    }
    if (error)
        *error = QStringLiteral("%1: %2").arg(path, message);
    return false;
}

sqlite3_stmt *MirrorState::statement(const char *sql) const
{
    const QByteArray key(sql);
    if (sqlite3_stmt *cached = m_statements.value(key)) {
        sqlite3_reset(cached);
        sqlite3_clear_bindings(cached);
        return cached;
    }
    sqlite3_stmt *prepared = nullptr;
    if (!m_db || sqlite3_prepare_v2(m_db, sql, -1, &prepared, nullptr) != SQLITE_OK)
        return nullptr;
    m_statements.insert(key, prepared);
    return prepared;
}

bool MirrorState::run(sqlite3_stmt *statement) const
{
    if (!statement)
        return false;
    const int rc = sqlite3_step(statement);
    sqlite3_reset(statement);
    return rc == SQLITE_DONE || rc == SQLITE_ROW;
}

bool MirrorState::begin()
{
    if (m_batchSteps > 0)
        return m_db && sqlite3_exec(m_db, "SAVEPOINT step", nullptr, nullptr, nullptr) == SQLITE_OK;
    return m_db && sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool MirrorState::commit()
{
    if (m_batchSteps == 0)
        return m_db && sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    if (!m_db || sqlite3_exec(m_db, "RELEASE step", nullptr, nullptr, nullptr) != SQLITE_OK)
        return false;
    if (++m_stepsInBatch < m_batchSteps)
        return true;
    m_stepsInBatch = 0;
    return sqlite3_exec(m_db, "COMMIT; BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool MirrorState::dropUuidIndex()
{
    return m_db && sqlite3_exec(m_db, "DROP INDEX IF EXISTS keys_by_uuid", nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool MirrorState::makeUuidIndex()
{
    return m_db && sqlite3_exec(m_db, uuidIndex, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool MirrorState::beginBatch(int stepsPerCommit)
{
    if (!m_db || m_batchSteps > 0 || stepsPerCommit < 1)
        return false;
    if (sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
        return false;
    m_batchSteps = stepsPerCommit;
    m_stepsInBatch = 0;
    return true;
}

bool MirrorState::endBatch()
{
    if (m_batchSteps == 0)
        return false;
    m_batchSteps = 0;
    // Still open unless a failed COMMIT; BEGIN left none.
    return sqlite3_get_autocommit(m_db) || sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
}

void MirrorState::rollback()
{
    if (m_db && m_batchSteps > 0)
        sqlite3_exec(m_db, "ROLLBACK TO step; RELEASE step", nullptr, nullptr, nullptr);
    else if (m_db)
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
}

QString MirrorState::value(const QString &key) const
{
    sqlite3_stmt *select = statement("SELECT value FROM settings WHERE key = ?");
    if (!select)
        return QString();
    bindText(select, 1, key);
    QString found;
    if (sqlite3_step(select) == SQLITE_ROW)
        found = columnText(select, 0);
    sqlite3_reset(select);
    return found;
}

bool MirrorState::setValue(const QString &key, const QString &value)
{
    sqlite3_stmt *upsert = statement("INSERT INTO settings (key, value) VALUES (?, ?) "
                                     "ON CONFLICT (key) DO UPDATE SET value = excluded.value");
    if (!upsert)
        return false;
    bindText(upsert, 1, key);
    bindText(upsert, 2, value);
    return run(upsert);
}

bool MirrorState::forgetServer()
{
    return m_db
           && sqlite3_exec(m_db,
                           "DELETE FROM keys; DELETE FROM links; DELETE FROM files; "
                           "DELETE FROM settings WHERE key NOT IN ('server', 'keepMedia');",
                           nullptr, nullptr, nullptr)
                  == SQLITE_OK;
}

void MirrorState::setServer(const QString &conninfo)
{
    if (conninfo == server())
        return;
    forgetServer();
    setValue(QStringLiteral("server"), conninfo);
}

std::optional<qint64> MirrorState::keyForUuid(int entity, const QString &uuid)
{
    sqlite3_stmt *select = statement("SELECT pk FROM keys WHERE entity = ? AND uuid = ?");
    if (!select)
        return std::nullopt;
    sqlite3_bind_int(select, 1, entity);
    bindText(select, 2, uuid);
    std::optional<qint64> key;
    if (sqlite3_step(select) == SQLITE_ROW)
        key = sqlite3_column_int64(select, 0);
    sqlite3_reset(select);
    return key;
}

QHash<QString, qint64> MirrorState::keysForUuids(int entity, const QStringList &uuids)
{
    QHash<QString, qint64> found;
    sqlite3_stmt *select = statement("SELECT uuid, pk FROM keys WHERE entity = ? AND uuid IN (SELECT value FROM json_each(?))");
    if (!select || uuids.isEmpty())
        return found;
    // The uuids are checked before they get here; quoting keeps the array whole regardless.
    QStringList quoted;
    quoted.reserve(uuids.size());
    for (const QString &uuid : uuids)
        quoted << QLatin1Char('"') + QString(uuid).remove(QLatin1Char('"')).remove(QLatin1Char('\\')) + QLatin1Char('"');
    sqlite3_bind_int(select, 1, entity);
    bindText(select, 2, QLatin1Char('[') + quoted.join(QLatin1Char(',')) + QLatin1Char(']'));
    while (sqlite3_step(select) == SQLITE_ROW)
        found.insert(columnText(select, 0), sqlite3_column_int64(select, 1));
    sqlite3_reset(select);
    return found;
}

qint64 MirrorState::keyCount(int entity)
{
    sqlite3_stmt *select = statement("SELECT count(*) FROM keys WHERE entity = ?");
    if (!select)
        return 0;
    sqlite3_bind_int(select, 1, entity);
    const qint64 count = sqlite3_step(select) == SQLITE_ROW ? sqlite3_column_int64(select, 0) : 0;
    sqlite3_reset(select);
    return count;
}

QString MirrorState::uuidForKey(int entity, qint64 key)
{
    sqlite3_stmt *select = statement("SELECT uuid FROM keys WHERE entity = ? AND pk = ?");
    if (!select)
        return QString();
    sqlite3_bind_int(select, 1, entity);
    sqlite3_bind_int64(select, 2, key);
    QString uuid;
    if (sqlite3_step(select) == SQLITE_ROW)
        uuid = columnText(select, 0);
    sqlite3_reset(select);
    return uuid;
}

bool MirrorState::setKey(int entity, qint64 key, const QString &uuid)
{
    sqlite3_stmt *upsert = statement("INSERT OR REPLACE INTO keys (entity, pk, uuid) VALUES (?, ?, ?)");
    if (!upsert)
        return false;
    sqlite3_bind_int(upsert, 1, entity);
    sqlite3_bind_int64(upsert, 2, key);
    bindText(upsert, 3, uuid);
    return run(upsert);
}

namespace {

// A JSON array of arrays, for json_each: each row's values as JSON.
QString jsonRows(const QVector<QStringList> &rows)
{
    QString text(QLatin1Char('['));
    for (int i = 0; i < rows.size(); ++i) {
        if (i > 0)
            text += QLatin1Char(',');
        text += QLatin1Char('[') + rows[i].join(QLatin1Char(',')) + QLatin1Char(']');
    }
    return text + QLatin1Char(']');
}

QString jsonText(const QString &text)
{
    // Uuids only reach here; anything that would break the array is dropped.
    return QLatin1Char('"') + QString(text).remove(QLatin1Char('"')).remove(QLatin1Char('\\')) + QLatin1Char('"');
}

} // namespace

bool MirrorState::setKeys(int entity, const QVector<QPair<qint64, QString>> &keys)
{
    if (keys.isEmpty())
        return true;
    QVector<QStringList> rows;
    rows.reserve(keys.size());
    for (const auto &key : keys)
        rows.append({QString::number(key.first), jsonText(key.second)});
    sqlite3_stmt *insert = statement("INSERT OR REPLACE INTO keys (entity, pk, uuid) "
                                     "SELECT ?, json_extract(value, '$[0]'), json_extract(value, '$[1]') FROM json_each(?)");
    if (!insert)
        return false;
    sqlite3_bind_int(insert, 1, entity);
    bindText(insert, 2, jsonRows(rows));
    return run(insert);
}

bool MirrorState::setLinks(const QVector<std::tuple<QString, QString, bool>> &links)
{
    QVector<QStringList> added, removed;
    for (const auto &[caseUuid, tagUuid, present] : links)
        (present ? added : removed).append({jsonText(caseUuid), jsonText(tagUuid)});
    sqlite3_stmt *insert = statement("INSERT OR IGNORE INTO links (case_uuid, tag_uuid) SELECT json_extract(value, '$[0]'), json_extract(value, '$[1]') FROM json_each(?)");
    sqlite3_stmt *remove = statement("DELETE FROM links WHERE (case_uuid, tag_uuid) IN (SELECT json_extract(value, '$[0]'), json_extract(value, '$[1]') FROM json_each(?))");
    if (!insert || !remove)
        return false;
    bool ok = true;
    if (!added.isEmpty()) {
        bindText(insert, 1, jsonRows(added));
        ok = run(insert);
    }
    if (ok && !removed.isEmpty()) {
        bindText(remove, 1, jsonRows(removed));
        ok = run(remove);
    }
    return ok;
}

bool MirrorState::removeKey(int entity, qint64 key)
{
    sqlite3_stmt *remove = statement("DELETE FROM keys WHERE entity = ? AND pk = ?");
    if (!remove)
        return false;
    sqlite3_bind_int(remove, 1, entity);
    sqlite3_bind_int64(remove, 2, key);
    return run(remove);
}

QSet<QString> MirrorState::links(const QString &caseUuid)
{
    QSet<QString> tags;
    sqlite3_stmt *select = statement("SELECT tag_uuid FROM links WHERE case_uuid = ?");
    if (!select)
        return tags;
    bindText(select, 1, caseUuid);
    while (sqlite3_step(select) == SQLITE_ROW)
        tags.insert(columnText(select, 0));
    sqlite3_reset(select);
    return tags;
}

bool MirrorState::setLink(const QString &caseUuid, const QString &tagUuid, bool present)
{
    sqlite3_stmt *change = present ? statement("INSERT OR IGNORE INTO links (case_uuid, tag_uuid) VALUES (?, ?)")
                                   : statement("DELETE FROM links WHERE case_uuid = ? AND tag_uuid = ?");
    if (!change)
        return false;
    bindText(change, 1, caseUuid);
    bindText(change, 2, tagUuid);
    return run(change);
}

std::optional<MirrorState::FileVersion> MirrorState::fileVersion(const QString &mediaUuid)
{
    sqlite3_stmt *select = statement("SELECT sha256, size, modified, saved_at FROM files WHERE media_uuid = ?");
    if (!select)
        return std::nullopt;
    bindText(select, 1, mediaUuid);
    std::optional<FileVersion> version;
    if (sqlite3_step(select) == SQLITE_ROW)
        version = FileVersion{columnText(select, 0), sqlite3_column_int64(select, 1), sqlite3_column_int64(select, 2),
                              sqlite3_column_int64(select, 3)};
    sqlite3_reset(select);
    return version;
}

bool MirrorState::setFileVersion(const QString &mediaUuid, const FileVersion &version)
{
    sqlite3_stmt *upsert = statement("INSERT OR REPLACE INTO files (media_uuid, sha256, size, modified, saved_at) "
                                     "VALUES (?, ?, ?, ?, ?)");
    if (!upsert)
        return false;
    bindText(upsert, 1, mediaUuid);
    bindText(upsert, 2, version.sha256);
    sqlite3_bind_int64(upsert, 3, version.size);
    sqlite3_bind_int64(upsert, 4, version.modified);
    sqlite3_bind_int64(upsert, 5, version.savedAt);
    return run(upsert);
}

QStringList MirrorState::mediaWithFileVersions()
{
    QStringList uuids;
    sqlite3_stmt *select = statement("SELECT media_uuid FROM files");
    if (!select)
        return uuids;
    while (sqlite3_step(select) == SQLITE_ROW)
        uuids << columnText(select, 0);
    sqlite3_reset(select);
    return uuids;
}

} // namespace ovalis
