#include "media/DicomUidMap.h"

#include <QDir>
#include <QUuid>
#include <map>
#include <sqlite3.h>

#include "util/Log.h"

namespace ovalis {

namespace {

const char *const schema = "CREATE TABLE IF NOT EXISTS uids (original TEXT PRIMARY KEY, replacement TEXT NOT NULL) WITHOUT ROWID;"
                           "CREATE TABLE IF NOT EXISTS media (sop_instance_uid TEXT PRIMARY KEY, media_uuid TEXT NOT NULL) "
                           "WITHOUT ROWID;";

struct Statement {
    Statement(sqlite3 *db, const char *sql) { sqlite3_prepare_v2(db, sql, -1, &statement, nullptr); }
    ~Statement() { sqlite3_finalize(statement); }
    void bind(int index, const QString &text)
    {
        const QByteArray utf8 = text.toUtf8();
        sqlite3_bind_text(statement, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    }
    QString text(int column) const
    {
        return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, column)),
                                 sqlite3_column_bytes(statement, column));
    }
    sqlite3_stmt *statement = nullptr;
};

} // namespace

DicomUidMap::DicomUidMap(const QString &libraryDirectory)
{
    QDir().mkpath(libraryDirectory);
    const QByteArray path = QDir(libraryDirectory).filePath(fileName()).toUtf8();
    if (sqlite3_open_v2(path.constData(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr)
        != SQLITE_OK) {
        setError();
        sqlite3_close(m_db);
        m_db = nullptr;
        return;
    }
    sqlite3_busy_timeout(m_db, 10000);
    if (!exec("PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL;") || !exec(schema)) {
        sqlite3_close(m_db);
        m_db = nullptr;
    }
    if (!m_db)
        Log::error(LogArea::Filing, QStringLiteral("Unable to open the DICOM UID map: ") + m_error);
}

DicomUidMap::~DicomUidMap()
{
    if (m_db)
        sqlite3_close(m_db);
}

std::shared_ptr<DicomUidMap> DicomUidMap::forLibrary(const QString &libraryDirectory)
{
    static QMutex mutex;
    static std::map<QString, std::weak_ptr<DicomUidMap>> maps;
    const QString key = QDir(libraryDirectory).absolutePath();
    QMutexLocker locker(&mutex);
    std::shared_ptr<DicomUidMap> map = maps[key].lock();
    if (!map) {
        map = std::make_shared<DicomUidMap>(key);
        maps[key] = map;
    }
    return map;
}

QString DicomUidMap::errorString() const
{
    QMutexLocker locker(&m_mutex);
    return m_error;
}

void DicomUidMap::setError()
{
    m_error = m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QStringLiteral("out of memory");
}

bool DicomUidMap::exec(const char *sql)
{
    char *failure = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &failure) == SQLITE_OK)
        return true;
    m_error = QString::fromUtf8(failure);
    sqlite3_free(failure);
    return false;
}

QString DicomUidMap::newUid()
{
    const QByteArray bytes = QUuid::createUuid().toRfc4122();
    unsigned __int128 value = 0;
    for (const char byte : bytes)
        value = (value << 8) | static_cast<unsigned char>(byte);
    char digits[40];
    int n = 0;
    do {
        digits[n++] = char('0' + int(value % 10));
        value /= 10;
    } while (value != 0);
    QString uid = QStringLiteral("2.25.");
    while (n > 0)
        uid.append(QLatin1Char(digits[--n]));
    return uid;
}

bool DicomUidMap::isWellKnown(const QString &uid)
{
    return uid.startsWith(QLatin1String("1.2.840.10008."));
}

QString DicomUidMap::replacement(const QString &uid)
{
    if (uid.isEmpty())
        return QString();
    QMutexLocker locker(&m_mutex);
    if (const auto found = m_cache.constFind(uid); found != m_cache.cend())
        return *found;
    if (!m_db)
        return QString();
    Statement select(m_db, "SELECT replacement FROM uids WHERE original = ?");
    select.bind(1, uid);
    QString result;
    if (sqlite3_step(select.statement) == SQLITE_ROW) {
        result = select.text(0);
    } else {
        // Another process sharing the file may add the same original at the
        // same time: the first replacement stored is the one everybody uses.
        const QString made = newUid();
        Statement insert(m_db, "INSERT INTO uids (original, replacement) VALUES (?, ?) "
                               "ON CONFLICT (original) DO UPDATE SET replacement = replacement RETURNING replacement");
        insert.bind(1, uid);
        insert.bind(2, made);
        if (sqlite3_step(insert.statement) != SQLITE_ROW) {
            setError();
            return QString();
        }
        result = insert.text(0);
    }
    m_cache.insert(uid, result);
    return result;
}

QString DicomUidMap::mediaUuid(const QString &sopInstanceUid) const
{
    QMutexLocker locker(&m_mutex);
    if (!m_db)
        return QString();
    Statement select(m_db, "SELECT media_uuid FROM media WHERE sop_instance_uid = ?");
    select.bind(1, sopInstanceUid);
    return sqlite3_step(select.statement) == SQLITE_ROW ? select.text(0) : QString();
}

bool DicomUidMap::rememberMedia(const QString &sopInstanceUid, const QString &mediaUuid)
{
    QMutexLocker locker(&m_mutex);
    if (!m_db)
        return false;
    Statement insert(m_db, "INSERT OR REPLACE INTO media (sop_instance_uid, media_uuid) VALUES (?, ?)");
    insert.bind(1, sopInstanceUid);
    insert.bind(2, mediaUuid);
    if (sqlite3_step(insert.statement) == SQLITE_DONE)
        return true;
    setError();
    return false;
}

} // namespace ovalis
