#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>
#include <optional>
#include <tuple>

struct sqlite3;
struct sqlite3_stmt;

namespace ovalis {

// What this machine knows of its library's mirror, in "Mirror.sqlite" beside
// the library: the server and its settings, how far it has sent and
// received, which record key each mirrored uuid has here, the case–tag
// links and the file versions last agreed with the server (so that the next
// sync sends only what changed since). Lost or damaged, it is made again
// and the next sync compares everything once more. One thread at a time.
class MirrorState
{
public:
    MirrorState();
    ~MirrorState();
    MirrorState(const MirrorState &) = delete;
    MirrorState &operator=(const MirrorState &) = delete;

    static QString fileName() { return QStringLiteral("Mirror.sqlite"); }
    bool open(const QString &libraryDirectory, QString *error);
    bool isOpen() const { return m_db != nullptr; }

    // Several changes made together, or none.
    bool begin();
    bool commit();
    void rollback();
    // Between these, the changes made together above are gathered into
    // larger transactions, committed every stepsPerCommit commits and at
    // endBatch: a page of a long download then costs no write of its own.
    // A crash may lose the last steps of the state, never of the library,
    // and the next sync finds what they made in the library by uuid.
    bool beginBatch(int stepsPerCommit);
    bool endBatch();
    // The index of the keys by uuid, left out while a first download fills
    // an empty state: made once at the end, it costs a fraction of keeping
    // it up on every insert. Opening the state makes it again after a crash.
    bool dropUuidIndex();
    bool makeUuidIndex();

    QString value(const QString &key) const;
    qint64 number(const QString &key) const { return value(key).toLongLong(); }
    bool setValue(const QString &key, const QString &value);
    bool setNumber(const QString &key, qint64 value) { return setValue(key, QString::number(value)); }
    // Forgets everything learned from a server (a new server or library).
    bool forgetServer();

    // The server (a libpq connection string or URI); a different one than
    // before forgets everything learned from the previous one.
    QString server() const { return value(QStringLiteral("server")); }
    void setServer(const QString &conninfo);
    // Whether media files go to the server too; yes unless turned off.
    bool keepsMediaOnServer() const { return value(QStringLiteral("keepMedia")) != QLatin1String("0"); }
    void setKeepsMediaOnServer(bool keep) { setValue(QStringLiteral("keepMedia"), keep ? QStringLiteral("1") : QStringLiteral("0")); }

    // entity is the model's entity index.
    std::optional<qint64> keyForUuid(int entity, const QString &uuid);
    // The keys of those of the uuids that have one, read together.
    QHash<QString, qint64> keysForUuids(int entity, const QStringList &uuids);
    QString uuidForKey(int entity, qint64 key);
    qint64 keyCount(int entity);
    bool setKey(int entity, qint64 key, const QString &uuid);
    bool removeKey(int entity, qint64 key);
    // Many at once (a page of records taken in): one statement each.
    bool setKeys(int entity, const QVector<QPair<qint64, QString>> &keys);
    bool setLinks(const QVector<std::tuple<QString, QString, bool>> &links);

    // The tags (uuids) of a case as last agreed with the server.
    QSet<QString> links(const QString &caseUuid);
    bool setLink(const QString &caseUuid, const QString &tagUuid, bool present);

    struct FileVersion {
        QString sha256;
        qint64 size = -1;
        qint64 modified = 0; // ms since 1970 of the file when last read
        qint64 savedAt = 0;
    };
    std::optional<FileVersion> fileVersion(const QString &mediaUuid);
    bool setFileVersion(const QString &mediaUuid, const FileVersion &version);
    QStringList mediaWithFileVersions();

private:
    sqlite3_stmt *statement(const char *sql) const;
    bool run(sqlite3_stmt *statement) const;

    sqlite3 *m_db = nullptr;
    // In a batch: the commits to gather, and those gathered so far.
    int m_batchSteps = 0;
    int m_stepsInBatch = 0;
    mutable QHash<QByteArray, sqlite3_stmt *> m_statements;
};

} // namespace ovalis
