#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "store/ContextChanges.h"
#include "store/FetchRequest.h"
#include "store/ObjectsChange.h"

namespace ovalis {

class ContextQueue;
class CoreDataStack;
class ManagedObject;
class PersistentStore;
class UndoManager;

// A scratch pad of records over the store or over a parent context.
//
// A main-queue context is used on the main thread; a private-queue context
// has a worker thread of its own and is used only inside perform() or
// performAndWait(). A fetch sees the context's unsaved inserts, changes and
// deletions, and a child sees its parent's unsaved state. save() writes a
// root context to the store in one transaction, and pushes a child's changes
// into its parent.
class ManagedObjectContext : public QObject
{
    Q_OBJECT

public:
    enum class ConcurrencyType { MainQueue, PrivateQueue };

    // A root context over the store (not owned).
    ManagedObjectContext(ConcurrencyType type, PersistentStore *store, QObject *parent = nullptr);
    // A child context of parentContext (not owned; it must outlive the child).
    ManagedObjectContext(ConcurrencyType type, ManagedObjectContext *parentContext);
    ~ManagedObjectContext() override;

    ManagedObjectContext *parentContext() const { return m_parent; }
    PersistentStore *persistentStore() const { return m_store; }
    CoreDataStack *stack() const { return m_stack; }
    void setStack(CoreDataStack *stack) { m_stack = stack; }
    ConcurrencyType concurrencyType() const { return m_type; }

    QString name() const { return m_name; }
    void setName(const QString &name) { m_name = name; }
    QString transactionAuthor() const { return m_author; }
    void setTransactionAuthor(const QString &author) { m_author = author; }
    UndoManager *undoManager() const { return m_undoManager; }
    void setUndoManager(UndoManager *undoManager) { m_undoManager = undoManager; } // Not owned.
    bool automaticallyMergesChangesFromParent() const { return m_mergesFromParent; }
    void setAutomaticallyMergesChangesFromParent(bool merges) { m_mergesFromParent = merges; }

    // Makes this root context a background writer: its saves go to the store
    // on its own thread, and each committed save is then merged into target
    // (a main-queue context over the same store) as another process's saves
    // are, in slices short enough to keep each turn of target's queue brief.
    // Properties that target has changed and not saved keep their values
    // there, and nothing of a merge is registered for undo. target finishes
    // this context's running work before it goes, and then forgets it.
    void setMergesSavesInto(ManagedObjectContext *target);
    ManagedObjectContext *mergeTarget() const { return m_mergeTarget.load(); }
    // Lets go of every object of the context: none may be used after. Only
    // for a context without unsaved changes; a long import calls it after
    // each save so that it does not keep every record it made.
    void reset();

    // Keeps a store that no stack owns alive as long as this context.
    void adoptStore(std::shared_ptr<PersistentStore> store) { m_ownedStore = std::move(store); }

    // Runs work on the context's thread: later, or now and waiting for it.
    void perform(std::function<void()> work);
    void performAndWait(const std::function<void()> &work);
    bool isOnContextThread() const;

    ManagedObject *insertNewObject(const QString &entityName);
    template<class T> T *insertNew() { return static_cast<T *>(insertNewObject(T::entityName())); }
    void deleteObject(ManagedObject *object);
    // The record's object in this context, materialised when needed; nullptr
    // when the record does not exist (any more) for this context.
    ManagedObject *existingObject(const ObjectID &id);
    // Registers the objects of these identifiers that the context does not
    // hold yet, reading them from the store together rather than one by one.
    // Identifiers of objects that are gone are passed over.
    void registerExistingObjects(const QList<ObjectID> &ids);
    ManagedObject *registeredObject(const ObjectID &id) const;
    QList<ManagedObject *> registeredObjects() const;

    QList<ManagedObject *> executeFetch(const FetchRequest &request, QString *error = nullptr);
    int executeCount(const FetchRequest &request, QString *error = nullptr);

    bool hasChanges() const;
    QList<ManagedObject *> insertedObjects() const;
    QList<ManagedObject *> updatedObjects() const;
    QList<ManagedObject *> deletedObjects() const;
    // Saves without logging; false with a message when the store refused.
    bool save(QString *error = nullptr);
    // Emits objectsDidChange for everything changed since the last call. Runs
    // by itself once per turn of the context's queue after a change.
    void processPendingChanges();

    // The store operations the rest of the program uses; they log as the
    // program's log lines say and turn failures into empty results.
    QList<ManagedObject *> arrayOfObjects(const QString &type, const Predicate &predicate = {},
                                          const QList<SortDescriptor> &sortDescriptors = {},
                                          std::optional<int> fetchLimit = {}, bool returnsObjectsAsFaults = false);
    int countOfObjects(const QString &type);
    ManagedObject *object(const QString &type, const Predicate &predicate);
    ManagedObject *insertObject(const QString &type) { return insertNewObject(type); }
    void saveWithParent(bool withParent);
    // The same, but neither the push into the parent nor the parent's save
    // is waited for: long imports read their next batch meanwhile. Both run
    // in order on the parent's queue, before any later work this context
    // posts there. A queued parent save that finds a newer one queued behind
    // it may leave the writing to that one.
    void saveWithParentLater();
    // Returns once the work this context queued on its parent (pushes and
    // saves of saveWithParentLater) has run there; for a background writer,
    // once its saves are merged into its target.
    void waitForQueuedParentWork();
    void purgeHistory(int days);

    // The store's state as this context sees it, for a child. On this context's thread.
    bool snapshotsForFetch(const FetchRequest &request, QVector<ObjectSnapshot> *snapshots, QString *error);
    std::optional<ObjectSnapshot> snapshotFor(const ObjectID &id);
    QVector<ObjectID> relatedIDs(const ObjectID &id, int relationshipIndex);

signals:
    void objectsDidChange(const ovalis::ObjectsChange &change);
    void didSave(const ovalis::ObjectsChange &change);

private:
    friend class ManagedObject;
    friend class CoreDataStack;

    ManagedObject *createObject(int entityIndex, const ObjectID &id);
    ManagedObject *materialise(const ObjectSnapshot &snapshot);
    void refreshUnchanged(ManagedObject *object, const ObjectSnapshot &snapshot);
    void registerObject(ManagedObject *object);
    bool hasRegisteredObjects(int entityIndex) const;
    ObjectSnapshot snapshotOf(const ManagedObject *object) const;
    std::optional<ObjectSnapshot> sourceSnapshot(const ObjectID &id);
    QList<ManagedObject *> faultToMany(ManagedObject *object, int relationshipIndex);
    bool sourceMatches(const FetchRequest &request, QList<ManagedObject *> *objects, QString *error);
    QSet<ManagedObject *> localCandidates(int entityIndex, const Predicate &predicate);
    ContextChanges collectChanges() const;
    void didPersist(const ContextChanges &changes);
    void applyChildChanges(const ContextChanges &changes);
    // Another process's saved work: snapshots of its inserted and updated
    // records, the keys it changed per record, and what it deleted.
    void mergeExternalChanges(const QVector<ObjectSnapshot> &snapshots, const QSet<ObjectID> &inserted,
                              const QHash<ObjectID, QStringList> &changedKeys, const QVector<ObjectID> &deleted);
    // Brings one record's newer saved state into its object here: the
    // attributes and to-one relationships whose bits mask sets, unless this
    // context has changed them itself, and to-many relationships with a set
    // bit are faulted in again. Observers and the next objects-did-change
    // learn of what changed.
    void mergeRecord(ManagedObject *object, const ObjectSnapshot &snapshot, quint32 mask);
    // Takes a record another connection or context deleted out of this
    // context, unless this context has unsaved changes of it.
    void mergeDeletion(const ObjectID &id);
    // Background writers' saves waiting to be merged here, and the merge of
    // the next slice of them.
    void enqueueSavedChanges(SavedChanges changes);
    // Lays a many-to-many link a background writer saved over the lists here.
    void mergeSavedJoin(const ContextChanges::JoinChange &join);
    // Hands a committed save of this background writer to its target.
    void postSavedChanges(ManagedObjectContext *target, const ContextChanges &changes, quint64 sequence);
    void scheduleSavedChangesMerge();
    void mergeSavedChangesSlice();
    void deleteObject(ManagedObject *object, bool runHook);
    void saveWithParent(bool withParent, bool waitForParent);
    // Saves; a child's push into its parent is queued instead of waited for
    // when waitForParent is false.
    bool save(QString *error, bool waitForParent);
    void undeleteObject(const ObjectID &id, const ObjectSnapshot &state, const QVector<QVector<ObjectID>> &toMany);

    // Bookkeeping called by ManagedObject.
    void objectDidChange(ManagedObject *object, const QString &key);
    void notePendingInsertion(ManagedObject *object);
    void recordJoinChange(ManagedObject *source, int relationshipIndex, ManagedObject *destination, bool added);
    bool registersUndo() const;
    void registerUndo(std::function<void()> action);
    void scheduleProcessing();
    void finishPrivateChildren();

    std::shared_ptr<PersistentStore> m_ownedStore; // Set for a separate store file; destroyed last.
    ConcurrencyType m_type;
    PersistentStore *m_store = nullptr;        // Not owned unless m_ownedStore.
    ManagedObjectContext *m_parent = nullptr;  // Not owned.
    // Private-queue children and background writers still alive: their work
    // reaches this context (through m_parent or m_mergeTarget), so it is
    // finished before this context goes.
    std::mutex m_childrenLock;
    QList<ManagedObjectContext *> m_privateChildren;
    bool m_finishedForParent = false; // the parent waited for this context's work as it went
    // Not owned; for a background writer. Cleared by the target as it goes.
    std::atomic<ManagedObjectContext *> m_mergeTarget{nullptr};
    // Saves of background writers to merge here (on this context's thread):
    // each with the index of its next record.
    std::deque<std::pair<SavedChanges, qsizetype>> m_savedChangesToMerge;
    bool m_savedChangesMergeScheduled = false;
    QElapsedTimer m_savedChangesNotice; // since the lists last heard of merged records
    CoreDataStack *m_stack = nullptr;          // Not owned.
    UndoManager *m_undoManager = nullptr;      // Not owned.
    std::shared_ptr<ContextQueue> m_worker;    // Owned for private contexts.
    ContextQueue *m_queue = nullptr;
    QString m_name;
    QString m_author;
    bool m_mergesFromParent = false;

    std::vector<std::unique_ptr<ManagedObject>> m_objects; // Owned: every object ever made here.
    QHash<ObjectID, ManagedObject *> m_registered;
    QHash<int, int> m_registeredPerEntity; // objects ever registered, per entity
    QSet<ManagedObject *> m_inserted;
    QSet<ManagedObject *> m_updated;
    QSet<ManagedObject *> m_deleted;
    // Many-to-many links changed since the last save, keyed by the owning
    // side's object, relationship and destination; the value says added.
    struct JoinKey {
        ManagedObject *source;
        int relationship;
        ManagedObject *destination;
        friend bool operator==(const JoinKey &a, const JoinKey &b)
        {
            return a.source == b.source && a.relationship == b.relationship && a.destination == b.destination;
        }
        friend size_t qHash(const JoinKey &key, size_t seed = 0) noexcept
        {
            return qHashMulti(seed, key.source, key.relationship, key.destination);
        }
    };
    QHash<JoinKey, bool> m_joinChanges;
    QHash<ObjectID, ManagedObject *> m_graveyard; // deleted objects, for undo
    std::shared_ptr<std::atomic<bool>> m_alive;

    ObjectsChange m_pending;
    QSet<ManagedObject *> m_pendingUpdated;
    bool m_processingScheduled = false;
    int m_suppressUndo = 0;
    // Parent saves queued by children (saveWithParentLater), and how many
    // queued saves in a row were left to a later one (on this context's thread).
    std::atomic<quint64> m_queuedSaves{0};
    int m_skippedSaves = 0;
    static constexpr int maximumSkippedQueuedSaves = 4;
    bool m_applyingExternal = false;
};

} // namespace ovalis
