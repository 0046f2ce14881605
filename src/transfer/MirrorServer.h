#pragma once

#include <QJsonObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <QVector>
#include <functional>
#include <optional>

#include "transfer/PostgresConnection.h"

namespace ovalis {

// One record as the mirror holds it: its mirrored properties as JSON values
// and, for each, when it was saved and on which machine ("stamps":
// property -> [milliseconds since 1970, machine]). A deleted record keeps
// its uuid as a tombstone, so that it stays deleted everywhere.
struct MirrorRecord {
    QString entity; // "Case", "Media" or "Tag"
    QString uuid;
    QJsonObject values;
    QJsonObject stamps;
    bool deleted = false;
    qint64 deletedAt = 0;
    QString deletedBy;
    qint64 seq = 0;
};

// A case–tag link, added (present) or removed, and when and where.
struct MirrorLink {
    QString caseUuid;
    QString tagUuid;
    bool present = true;
    qint64 savedAt = 0;
    QString machine;
    qint64 seq = 0;
};

// The version of a media file that the mirror holds: its content is kept
// once per SHA-256.
struct MirrorFile {
    QString mediaUuid;
    QString sha256;
    qint64 size = 0;
    QString extension;
    qint64 savedAt = 0;
    QString machine;
    qint64 seq = 0;
};

// The library's tables on a PostgreSQL server, in a schema of the library's
// own ("ovalis_" + its id), which the client makes and upgrades itself.
// Every write takes the library's write lock, so the server's sequence
// numbers are committed in order and a reader that has seen number n has
// seen everything up to n. Conflicts are settled here, per property, under
// that lock: the later save wins, an equal time keeps what arrived first, a
// deleted record stays deleted, and two live tags with one label become the
// one with the smaller uuid.
class MirrorServer
{
public:
    static constexpr int schemaVersion = 1;
    static constexpr qint64 chunkSize = 4 << 20;

    bool connect(const QString &conninfo, const QString &password, QString *error);
    bool isConnected() const { return m_connection.isConnected(); }
    PostgresConnection &connection() { return m_connection; }

    // The library ids the database holds.
    bool libraryIds(QStringList *ids, QString *error);
    // Uses the library's schema, making it when missing; refuses a schema
    // written by a newer version.
    bool openLibrary(const QString &libraryId, QString *error);
    static bool isValidLibraryId(const QString &id);
    QString channel() const;
    // What this client's notifications carry, so that it can tell its own
    // from other machines' (two machines may share a host name).
    QString sender() const { return m_sender; }

    struct PushResult {
        // Records and links the server kept otherwise than sent: the
        // client takes the server's state of them.
        QVector<QPair<QString, QString>> refetch; // entity, uuid
        QVector<QPair<QString, QString>> refetchLinks;
        QStringList conflicts; // log lines naming both machines
        qint64 latestBefore = 0; // the last number committed before this push
        qint64 latestAfter = 0;
        bool changedOthers = false; // the server changed records it was not sent
    };
    // Records carry only the properties that changed, each with its stamp.
    bool push(const QVector<MirrorRecord> &records, const QVector<MirrorLink> &links, const QString &machine,
              PushResult *result, QString *error);
    // Everything after the number, up to about limit rows; upTo is the
    // number to ask after next time.
    bool pull(qint64 after, int limit, QVector<MirrorRecord> *records, QVector<MirrorLink> *links,
              QVector<MirrorFile> *files, qint64 *upTo, QString *error);
    bool records(const QVector<QPair<QString, QString>> &keys, QVector<MirrorRecord> *records, QString *error);
    bool links(const QVector<QPair<QString, QString>> &keys, QVector<MirrorLink> *links, QString *error);
    // The last number committed.
    bool latest(qint64 *seq, QString *error);
    bool countAfter(qint64 after, qint64 *count, QString *error);

    // File contents: whether the server has all of it, sending it in chunks
    // (each in its own transaction, so that an interrupted upload goes on
    // where it stopped), and fetching it into a file.
    bool hasContent(const QString &sha256, bool *complete, QString *error);
    bool uploadContent(const QString &sha256, const QString &path, const std::function<bool()> &cancelled,
                       QString *error);
    bool downloadContent(const QString &sha256, qint64 size, const QString &path, QString *error);
    // Records a file version; won is false when the server keeps a later one.
    bool pushFile(const MirrorFile &file, bool *won, QString *error);
    bool files(const QStringList &mediaUuids, QVector<MirrorFile> *files, QString *error);

private:
    bool lockForWriting(qint64 *latest, QString *error);
    // Stamps are read only when asked: a machine taking records in needs the values alone.
    bool readRecords(const QString &where, const QVector<QByteArray> &parameters, QVector<MirrorRecord> *records,
                     QString *error, bool withStamps = true);
    bool writeRecords(const QVector<MirrorRecord> &records, QString *error);
    // Which of the records named are deleted on the server.
    bool deletedAmong(const QVector<QPair<QString, QString>> &keys, QSet<QPair<QString, QString>> *deleted, QString *error);
    bool writeLinks(const QVector<MirrorLink> &links, QString *error);
    bool mergeTagsByLabel(const QStringList &labels, const QString &machine, PushResult *result, QString *error);
    bool rollback(QString *error, const QString &message);

    PostgresConnection m_connection;
    QString m_schema;
    QString m_sender = QUuid::createUuid().toString(QUuid::Id128);
};

} // namespace ovalis
