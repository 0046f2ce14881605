#pragma once

#include <QDateTime>
#include <QHash>
#include <QMutex>
#include <QWaitCondition>
#include <QString>
#include <QVector>
#include <atomic>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "store/ContextChanges.h"
#include "store/EntityDescription.h"
#include "store/FoldedTextIndex.h"
#include "store/ObjectSnapshot.h"
#include "store/Predicate.h"
#include "store/WalCheckpointer.h"

struct sqlite3;
struct sqlite3_stmt;

namespace ovalis {

// One transaction of the persistent history: who saved what, when.
struct HistoryTransaction {
    qint64 id = 0;
    QDateTime timestamp;
    QString author;
    QString contextName;
    QString process;
    struct Change {
        int entity = -1;
        qint64 key = 0;
        enum Type { Insert = 1, Update = 2, Delete = 3 } type = Update;
        QStringList columns;
    };
    QVector<Change> changes;
};

// The library's SQLite file. Thread-safe: every call that reads or writes the
// file takes the store's lock.
// A file that is damaged, not a library, written by a newer version or not
// writable is refused by open() and never written to.
class PersistentStore
{
public:
    enum class Mode { ReadWrite, ReadOnly };

    PersistentStore();
    ~PersistentStore();
    PersistentStore(const PersistentStore &) = delete;
    PersistentStore &operator=(const PersistentStore &) = delete;

    bool open(const QString &path, Mode mode, QString *error);
    // Closes the file as the destructor does: SQLite folds its write-ahead log
    // into the file when this was the last connection. Fetches and saves fail after.
    void close();
    bool isOpen() const { return m_db != nullptr; }
    QString path() const { return m_path; }
    bool isReadOnly() const { return m_mode == Mode::ReadOnly; }
    const ManagedObjectModel &model() const { return ManagedObjectModel::ovalisModel(); }
    // A text naming this process in the history, so that its own saves are
    // told apart from another process's.
    QString processToken() const { return m_processToken; }

    // Temporary identifiers and the permanent keys they were given.
    qint64 newTemporaryKey();
    ObjectID resolve(const ObjectID &id) const;
    ObjectID temporaryFor(const ObjectID &permanent) const;

    bool fetchKeys(int entity, const Predicate &predicate, QVector<qint64> *keys, QString *error);
    bool fetchSnapshots(int entity, const Predicate &predicate, QVector<ObjectSnapshot> *snapshots, QString *error);
    bool fetchSnapshotsForKeys(int entity, const QVector<qint64> &keys, QVector<ObjectSnapshot> *snapshots,
                               QString *error);
    QVector<ObjectID> relatedIDs(const ObjectID &id, int relationshipIndex);
    // The keys of the records whose text attribute holds one of the values,
    // by value, in one statement (a value held twice gives one of its records).
    QHash<QString, qint64> keysForValues(int entity, int attribute, const QStringList &values);
    bool count(int entity, const Predicate &predicate, qint64 *count, QString *error);
    // Reads the in-memory index that answers searches of the entity's texts
    // on a worker thread, through a connection of its own, unless it is
    // current or being read: the store stays free for fetches and saves
    // meanwhile, and the saves made meanwhile are laid over the index when it
    // is handed over. A search while it is read waits for it; without it the
    // first search reads it. ready, when given, is called once the index is
    // in place (true) or was not read (false: an unreadable file, too many
    // saves meanwhile, or the store closing), on the worker unless it was
    // current already.
    void prepareTextIndexInBackground(int entity, std::function<void(bool)> ready = {});
    // Whether the entity's index is read and current, so that a search needs no table scan.
    bool hasCurrentTextIndex(int entity);
    // Tests run this on the worker after it read an index, before it closes
    // its connection and hands the index over.
    void setTextIndexHandOverHookForTesting(std::function<void()> hook) { m_textIndexHandOverHook = std::move(hook); }

    // Writes the changes in one transaction, waiting on another process's
    // lock. Inserted records with temporary identifiers get permanent keys,
    // reported in assigned. Nothing is written when it fails. sequence, when
    // given, receives the save's number among this connection's saves, which
    // count up from 1.
    bool save(const ContextChanges &changes, QHash<ObjectID, ObjectID> *assigned, QString *error,
              quint64 *sequence = nullptr);

    // Persistent history.
    bool deleteHistory(const QDateTime &before, QString *error);
    QVector<HistoryTransaction> historySince(qint64 afterId, bool otherProcessesOnly);
    qint64 lastHistoryId();
    // True once after another connection committed to the file.
    bool hasExternalChanges();

    // Waits for the check of every page that open() started in the background;
    // a message naming the file when it found damage, else empty. Saves refuse
    // to write to a damaged file.
    QString integrityProblem();
    // Starts that check on a worker thread now, instead of at the first write.
    void startIntegrityCheck();

    // Tests make the next saves fail with this message (empty: succeed again).
    void setSaveFailureForTesting(const QString &message) { m_injectedFailure = message; }
    // Tests make fetches fail with this message (empty: succeed again).
    void setFetchFailureForTesting(const QString &message) { m_injectedFetchFailure = message; }

private:
    // The worker's connection while it reads an index, and whether the store is closing.
    struct TextIndexReading;

    // The statement that inserts a record of one entity with every column
    // given, and the columns its history row lists.
    struct InsertPlan {
        QString sql;
        QByteArray historyColumns;
    };
    const InsertPlan &insertPlan(int entity);

    bool validateExisting(QString *error);
    bool createSchema(QString *error);
    bool migrate(int fromVersion, QString *error);
    QStringList tableColumns(const QString &table);
    // Gives each record of the table without a uuid a new one.
    bool fillMissingUuids(const QString &table, QString *error);
    bool configureConnection(QString *error);
    sqlite3_stmt *prepare(const QString &sql, QString *error);
    bool exec(const QString &sql, QString *error);
    // The WHERE condition of a fetch; false when fetching must fail. Under the lock.
    bool whereClause(int entity, const Predicate &predicate, QString *where, QVariantList *bindings, QString *error);
    // A prepared "SELECT columns FROM table t0 WHERE where" with its values bound.
    sqlite3_stmt *prepareQuery(const QString &columns, const EntityDescription &entity, const QString &where,
                               const QVariantList &bindings, QString *error);
    bool runSelect(int entity, const QString &where, const QVariantList &bindings,
                   QVector<ObjectSnapshot> *snapshots, QString *error);
    QString selectColumns(const EntityDescription &entity) const;
    void closeDatabase();
    // Tells the workers reading indexes to give up. Under the lock.
    void cancelTextIndexReadings();
    // The keys a search of folded texts finds, from the in-memory index;
    // nothing when the predicate is not such a search or the index cannot be
    // read (the caller then asks SQL). Under the lock.
    std::optional<QVector<qint64>> indexedSearch(int entity, const Predicate &predicate);
    // The entity's index, built or rebuilt when missing or outdated by
    // another connection's commit, or the one being read in the background
    // once it is handed over; nullptr when it cannot be read.
    FoldedTextIndex *currentTextIndex(int entity);
    // Whether the entity's index is read and current. Under the lock.
    bool textIndexIsCurrent(int entity);
    // Hands an index read in the background over, with the saves made since
    // it started laid over it; false when it is no longer wanted.
    bool handOverTextIndex(int entity, const std::shared_ptr<TextIndexReading> &reading,
                           std::unique_ptr<FoldedTextIndex> index);
    qint64 dataVersion();
    // Lays a committed save over the indexes built before it.
    void updateTextIndexes(const ContextChanges &changes, const QHash<ObjectID, ObjectID> &newKeys);

    mutable QMutex m_mutex;
    sqlite3 *m_db = nullptr;
    std::unique_ptr<WalCheckpointer> m_checkpointer; // for m_db, when it writes
    QString m_path;
    Mode m_mode = Mode::ReadWrite;
    QString m_processToken;
    QHash<QString, sqlite3_stmt *> m_statements;
    QVector<InsertPlan> m_insertPlans; // by entity
    // The key maps have their own lock, so that contexts making new objects
    // on other threads do not wait for a save's SQL. Only save() changes
    // them, holding both locks; code under m_mutex may read them freely.
    mutable std::mutex m_keysMutex;
    QHash<ObjectID, ObjectID> m_permanentKeys; // temporary -> permanent
    QHash<ObjectID, ObjectID> m_temporaryKeys; // permanent -> temporary
    std::atomic<qint64> m_nextTemporaryKey{-1};
    qint64 m_dataVersion = -1;
    quint64 m_saveSequence = 0; // saves committed through this connection, under m_mutex
    QString m_injectedFailure;
    std::mutex m_integrityMutex;
    std::future<QString> m_integrityCheck;
    struct IntegrityCheck {
        std::mutex mutex;
        sqlite3 *db = nullptr; // the check's own connection while it runs
        bool cancelled = false;
    };
    std::shared_ptr<IntegrityCheck> m_runningCheck;
    QString m_integrityResult;
    QString m_injectedFetchFailure;
    struct TextIndex {
        std::unique_ptr<FoldedTextIndex> index;
        qint64 dataVersion = -1; // of the file when the index was read
    };
    std::map<int, TextIndex> m_textIndexes; // by entity
    // An index being read on a worker: the saves made since it started, to
    // lay over it (texts now, or nothing once removed), in the order made.
    struct PendingTextIndex {
        std::shared_ptr<TextIndexReading> reading;
        qint64 dataVersion = -1; // of the file, through this connection, when it started
        std::vector<std::pair<qint64, std::optional<QList<QByteArray>>>> savedMeanwhile;
        bool tooManySaves = false; // reading it again is cheaper than laying them over
        std::vector<std::function<void(bool)>> whenRead;
    };
    std::map<int, PendingTextIndex> m_pendingTextIndexes; // by entity
    QWaitCondition m_textIndexHandedOver;                  // with m_mutex
    std::vector<std::future<void>> m_textIndexReadings;    // under m_mutex
    std::function<void()> m_textIndexHandOverHook;
};

} // namespace ovalis
