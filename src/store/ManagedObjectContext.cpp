#include "store/ManagedObjectContext.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QMetaMethod>
#include <chrono>
#include <condition_variable>

#include "store/ContextQueue.h"
#include "store/ManagedObject.h"
#include "store/ManagedObjectFactory.h"
#include "store/PersistentStore.h"
#include "util/Log.h"
#include "util/UndoManager.h"

namespace ovalis {

namespace {
constexpr int relationshipBitOffset = 16;
// How long one turn of the main queue spends merging background saves
// before it lets the window paint and answer.
constexpr qint64 savedChangesSliceNanoseconds = 4'000'000;
// How often the lists hear of merged records while a merge goes on.
constexpr qint64 savedChangesNoticeMilliseconds = 40;

// The bits of an entity's to-many relationships in a change mask.
quint32 toManyBits(const EntityDescription &entity)
{
    quint32 bits = 0;
    for (int r = 0; r < entity.relationships.size(); ++r)
        if (entity.relationships[r].toMany)
            bits |= 1u << (relationshipBitOffset + r);
    return bits;
}

// The bits of an entity's many-to-many relationships in a change mask.
quint32 manyToManyBits(const EntityDescription &entity)
{
    quint32 bits = 0;
    for (int r = 0; r < entity.relationships.size(); ++r)
        if (entity.relationships[r].isManyToMany())
            bits |= 1u << (relationshipBitOffset + r);
    return bits;
}
}

ManagedObjectContext::ManagedObjectContext(ConcurrencyType type, PersistentStore *store, QObject *parent)
    : QObject(parent)
    , m_type(type)
    , m_store(store)
    , m_alive(std::make_shared<std::atomic<bool>>(true))
{
    if (type == ConcurrencyType::PrivateQueue) {
        m_worker = ContextQueue::createWorker(QStringLiteral("Private context"));
        m_queue = m_worker.get();
    } else {
        m_queue = ContextQueue::mainQueue();
    }
}

ManagedObjectContext::ManagedObjectContext(ConcurrencyType type, ManagedObjectContext *parentContext)
    : ManagedObjectContext(type, parentContext->m_store, nullptr)
{
    m_parent = parentContext;
    m_stack = parentContext->m_stack;
    if (type == ConcurrencyType::PrivateQueue) {
        std::lock_guard<std::mutex> lock(parentContext->m_childrenLock);
        parentContext->m_privateChildren.append(this);
    }
}

void ManagedObjectContext::finishPrivateChildren()
{
    // A child's long work (an import, a scan) may still be running and will
    // push into and save through this context: it finishes first, with this
    // thread's own queue served meanwhile so that its pushes can land. A
    // child that outlives this context is then cut loose instead of left
    // holding a dangling parent.
    for (;;) {
        ManagedObjectContext *busy = nullptr;
        {
            std::lock_guard<std::mutex> lock(m_childrenLock);
            for (ManagedObjectContext *child : std::as_const(m_privateChildren))
                if (!child->m_finishedForParent) {
                    busy = child;
                    break;
                }
        }
        if (!busy)
            break;
        busy->m_finishedForParent = true;
        busy->performAndWait([] {});
    }
    std::lock_guard<std::mutex> lock(m_childrenLock);
    for (ManagedObjectContext *child : std::as_const(m_privateChildren)) {
        child->m_parent = nullptr;
        child->m_mergeTarget = nullptr;
    }
    m_privateChildren.clear();
}

void ManagedObjectContext::setMergesSavesInto(ManagedObjectContext *target)
{
    // A background writer is finished and cut loose by its target as a
    // private child is by its parent.
    m_mergeTarget = target;
    if (target && m_type == ConcurrencyType::PrivateQueue) {
        std::lock_guard<std::mutex> lock(target->m_childrenLock);
        target->m_privateChildren.append(this);
    }
}

void ManagedObjectContext::reset()
{
    m_registered.clear();
    m_registeredPerEntity.clear();
    m_inserted.clear();
    m_updated.clear();
    m_deleted.clear();
    m_joinChanges.clear();
    m_graveyard.clear();
    m_pending = ObjectsChange();
    m_pendingUpdated.clear();
    m_objects.clear();
}

ManagedObjectContext::~ManagedObjectContext()
{
    finishPrivateChildren();
    if (ManagedObjectContext *owner = m_parent ? m_parent : m_mergeTarget.load(); owner && m_type == ConcurrencyType::PrivateQueue) {
        std::lock_guard<std::mutex> lock(owner->m_childrenLock);
        owner->m_privateChildren.removeAll(this);
    }
    m_alive->store(false);
    m_worker.reset(); // finishes the work already queued
    for (auto &object : m_objects)
        object->m_context = nullptr;
}

void ManagedObjectContext::perform(std::function<void()> work)
{
    if (m_worker) {
        m_queue->async(std::move(work)); // the destructor finishes it
        return;
    }
    // The main queue outlives its contexts: work still queued for one that
    // has gone (a child's push arriving as the window closes) is dropped.
    m_queue->async([alive = m_alive, work = std::move(work)] {
        if (alive->load())
            work();
    });
}

void ManagedObjectContext::performAndWait(const std::function<void()> &work)
{
    if (m_worker) {
        m_queue->sync(work);
        return;
    }
    m_queue->sync([alive = m_alive, &work] {
        if (alive->load())
            work();
    });
}

bool ManagedObjectContext::isOnContextThread() const
{
    return m_queue->isCurrent();
}

// --- Objects ---------------------------------------------------------------

ManagedObject *ManagedObjectContext::createObject(int entityIndex, const ObjectID &id)
{
    std::unique_ptr<ManagedObject> object = makeManagedObject(entityIndex);
    ManagedObject *raw = object.get();
    raw->m_id = id;
    raw->m_context = this;
    m_objects.push_back(std::move(object));
    registerObject(raw);
    return raw;
}

bool ManagedObjectContext::hasRegisteredObjects(int entityIndex) const
{
    return m_registeredPerEntity.value(entityIndex) > 0;
}

void ManagedObjectContext::registerObject(ManagedObject *object)
{
    if (!m_registered.contains(object->m_id))
        ++m_registeredPerEntity[object->m_entityIndex];
    m_registered.insert(object->m_id, object);
    if (object->m_id.isTemporary()) {
        const ObjectID permanent = m_store->resolve(object->m_id);
        if (permanent != object->m_id)
            m_registered.insert(permanent, object);
    }
}

ManagedObject *ManagedObjectContext::registeredObject(const ObjectID &id) const
{
    if (id.isNull())
        return nullptr;
    if (ManagedObject *object = m_registered.value(id))
        return object;
    if (id.isTemporary()) {
        const ObjectID permanent = m_store->resolve(id);
        return permanent != id ? m_registered.value(permanent) : nullptr;
    }
    const ObjectID temporary = m_store->temporaryFor(id);
    return temporary.isNull() ? nullptr : m_registered.value(temporary);
}

QList<ManagedObject *> ManagedObjectContext::registeredObjects() const
{
    QSet<ManagedObject *> unique;
    for (ManagedObject *object : m_registered)
        unique.insert(object);
    return unique.values();
}

ManagedObject *ManagedObjectContext::existingObject(const ObjectID &id)
{
    if (ManagedObject *object = registeredObject(id))
        return object;
    const std::optional<ObjectSnapshot> snapshot = sourceSnapshot(id);
    return snapshot ? materialise(*snapshot) : nullptr;
}

void ManagedObjectContext::registerExistingObjects(const QList<ObjectID> &ids)
{
    if (m_parent) {
        for (const ObjectID &id : ids)
            existingObject(id);
        return;
    }
    QHash<int, QVector<qint64>> keysByEntity;
    for (const ObjectID &id : ids) {
        if (registeredObject(id))
            continue;
        const ObjectID resolved = m_store->resolve(id);
        if (!resolved.isTemporary() && !resolved.isNull() && !registeredObject(resolved))
            keysByEntity[resolved.entity].append(resolved.key);
    }
    for (auto it = keysByEntity.cbegin(); it != keysByEntity.cend(); ++it) {
        QVector<ObjectSnapshot> snapshots;
        if (!m_store->fetchSnapshotsForKeys(it.key(), it.value(), &snapshots, nullptr))
            continue; // each is read alone when asked for
        for (const ObjectSnapshot &snapshot : std::as_const(snapshots))
            materialise(snapshot);
    }
}

std::optional<ObjectSnapshot> ManagedObjectContext::sourceSnapshot(const ObjectID &id)
{
    if (m_parent) {
        std::optional<ObjectSnapshot> snapshot;
        ManagedObjectContext *parent = m_parent;
        parent->performAndWait([&] { snapshot = parent->snapshotFor(id); });
        return snapshot;
    }
    const ObjectID resolved = m_store->resolve(id);
    if (resolved.isTemporary() || resolved.isNull())
        return std::nullopt;
    QVector<ObjectSnapshot> snapshots;
    if (!m_store->fetchSnapshotsForKeys(resolved.entity, {resolved.key}, &snapshots, nullptr) || snapshots.isEmpty())
        return std::nullopt;
    return snapshots.first();
}

ManagedObject *ManagedObjectContext::materialise(const ObjectSnapshot &snapshot)
{
    if (ManagedObject *object = registeredObject(snapshot.id)) {
        refreshUnchanged(object, snapshot);
        return object;
    }
    ManagedObject *object = createObject(snapshot.id.entity, snapshot.id);
    if (snapshot.attributes.size() == object->m_values.size()) {
        object->m_values = snapshot.attributes; // shared until either is written
    } else {
        for (int a = 0; a < object->m_values.size() && a < snapshot.attributes.size(); ++a)
            object->m_values[a] = snapshot.attributes[a];
    }
    for (int r = 0; r < object->m_relationships.size() && r < snapshot.toOne.size(); ++r)
        object->m_relationships[r].toOneID = snapshot.toOne[r];
    return object;
}

void ManagedObjectContext::refreshUnchanged(ManagedObject *object, const ObjectSnapshot &snapshot)
{
    // A child sees its parent's latest state for what it has not changed itself.
    if (!m_parent || object->m_inserted || object->m_deleted)
        return;
    for (int a = 0; a < object->m_values.size() && a < snapshot.attributes.size(); ++a) {
        if (object->m_changedMask & (1u << a))
            continue;
        if (object->m_values[a] != snapshot.attributes[a]) {
            object->m_values[a] = snapshot.attributes[a];
            object->m_foldedValid &= ~(1u << a);
        }
    }
}

ObjectSnapshot ManagedObjectContext::snapshotOf(const ManagedObject *object) const
{
    ObjectSnapshot snapshot;
    snapshot.id = object->m_id;
    snapshot.attributes = object->m_values;
    snapshot.toOne.resize(object->m_relationships.size());
    for (int r = 0; r < object->m_relationships.size(); ++r) {
        if (object->m_entity->relationships[r].toMany)
            continue;
        const auto &slot = object->m_relationships[r];
        snapshot.toOne[r] = slot.loaded ? (slot.toOne ? slot.toOne->m_id : ObjectID()) : slot.toOneID;
    }
    return snapshot;
}

std::optional<ObjectSnapshot> ManagedObjectContext::snapshotFor(const ObjectID &id)
{
    ManagedObject *object = existingObject(id);
    if (!object || object->m_deleted)
        return std::nullopt;
    return snapshotOf(object);
}

QVector<ObjectID> ManagedObjectContext::relatedIDs(const ObjectID &id, int relationshipIndex)
{
    QVector<ObjectID> ids;
    ManagedObject *object = existingObject(id);
    if (!object || object->m_deleted)
        return ids;
    if (object->m_entity->relationships[relationshipIndex].toMany) {
        for (ManagedObject *member : object->toMany(relationshipIndex))
            ids.append(member->m_id);
    } else if (ManagedObject *target = object->toOne(relationshipIndex)) {
        ids.append(target->m_id);
    }
    return ids;
}

QList<ManagedObject *> ManagedObjectContext::faultToMany(ManagedObject *object, int relationshipIndex)
{
    QVector<ObjectID> ids;
    if (object->m_inserted && !m_parent) {
        // never saved: nothing in the store
    } else if (m_parent) {
        ManagedObjectContext *parent = m_parent;
        const ObjectID id = object->m_id;
        parent->performAndWait([&] { ids = parent->relatedIDs(id, relationshipIndex); });
    } else {
        ids = m_store->relatedIDs(object->m_id, relationshipIndex);
    }
    QList<ManagedObject *> members;
    members.reserve(ids.size());
    const RelationshipDescription &relationship = object->m_entity->relationships[relationshipIndex];
    const int inverse = object->inverseIndex(relationshipIndex);
    const int destination = ManagedObjectModel::ovalisModel().entityIndex(relationship.destinationEntity);
    const bool inverseIsToOne = inverse >= 0
                                && !ManagedObjectModel::ovalisModel().entities()[destination].relationships[inverse].toMany;
    QSet<ManagedObject *> seen;
    for (const ObjectID &id : std::as_const(ids)) {
        ManagedObject *member = existingObject(id);
        if (!member || member->m_deleted || seen.contains(member))
            continue;
        if (inverseIsToOne && member->toOne(inverse) != object)
            continue; // moved elsewhere in this context
        seen.insert(member);
        members.append(member);
    }
    if (inverseIsToOne) {
        // Members that joined in this context.
        for (const QSet<ManagedObject *> *set : {&m_inserted, &m_updated}) {
            for (ManagedObject *candidate : *set) {
                if (candidate->m_entityIndex != destination || candidate->m_deleted || seen.contains(candidate))
                    continue;
                const auto &slot = candidate->m_relationships[inverse];
                if (slot.loaded && slot.toOne == object) {
                    seen.insert(candidate);
                    members.append(candidate);
                }
            }
        }
    } else {
        for (auto it = m_joinChanges.cbegin(); it != m_joinChanges.cend(); ++it) {
            const JoinKey &key = it.key();
            ManagedObject *other = nullptr;
            if (key.source == object && key.relationship == relationshipIndex)
                other = key.destination;
            else if (key.destination == object && key.source->inverseIndex(key.relationship) == relationshipIndex)
                other = key.source;
            if (!other)
                continue;
            if (it.value()) {
                if (!seen.contains(other) && !other->m_deleted) {
                    seen.insert(other);
                    members.append(other);
                }
            } else if (seen.contains(other)) {
                seen.remove(other);
                members.removeAll(other);
            }
        }
    }
    return members;
}

ManagedObject *ManagedObjectContext::insertNewObject(const QString &entityName)
{
    const int entityIndex = ManagedObjectModel::ovalisModel().entityIndex(entityName);
    if (entityIndex < 0) {
        Log::error(LogArea::CoreData, QStringLiteral("No entity named ") + entityName);
        return nullptr;
    }
    ManagedObject *object = createObject(entityIndex, {entityIndex, m_store->newTemporaryKey()});
    object->m_inserted = true;
    for (auto &slot : object->m_relationships)
        slot.loaded = true;
    m_inserted.insert(object);
    notePendingInsertion(object);
    ++m_suppressUndo;
    object->awakeFromInsert();
    --m_suppressUndo;
    if (registersUndo()) {
        const ObjectID id = object->m_id;
        registerUndo([this, id] {
            if (ManagedObject *inserted = registeredObject(id))
                deleteObject(inserted);
        });
    }
    scheduleProcessing();
    return object;
}

void ManagedObjectContext::deleteObject(ManagedObject *object)
{
    deleteObject(object, true);
}

void ManagedObjectContext::deleteObject(ManagedObject *object, bool runHook)
{
    if (!object || object->m_context != this || object->m_deleted)
        return;
    if (runHook)
        object->prepareForDeletion();
    // What undo needs to bring the record back as it was.
    const ObjectSnapshot state = snapshotOf(object);
    QVector<QVector<ObjectID>> toMany(object->m_relationships.size());
    for (int r = 0; r < object->m_relationships.size(); ++r)
        if (object->m_entity->relationships[r].toMany)
            for (ManagedObject *member : object->toMany(r))
                toMany[r].append(member->m_id);
    object->severAllRelationships();
    object->m_deleted = true;
    m_graveyard.insert(object->m_id, object);
    if (object->m_inserted) {
        m_inserted.remove(object);
        if (!m_pending.inserted.removeOne(object))
            m_pending.deleted.append(object);
        object->m_insertionPending = false;
    } else {
        m_deleted.insert(object);
        m_updated.remove(object);
        m_pendingUpdated.remove(object);
        m_pending.deleted.append(object);
    }
    if (registersUndo()) {
        const ObjectID id = object->m_id;
        registerUndo([this, id, state, toMany] { undeleteObject(id, state, toMany); });
    }
    scheduleProcessing();
}

void ManagedObjectContext::undeleteObject(const ObjectID &id, const ObjectSnapshot &state,
                                          const QVector<QVector<ObjectID>> &toMany)
{
    ManagedObject *object = m_graveyard.value(id);
    if (!object || !object->m_deleted)
        return;
    m_graveyard.remove(id);
    object->m_deleted = false;
    if (!object->m_context) {
        // Deleted and saved: it comes back as a new record under its old key.
        object->m_context = this;
        object->m_inserted = true;
        object->m_changedMask = 0;
        registerObject(object);
    }
    if (object->m_inserted)
        m_inserted.insert(object);
    else
        m_deleted.remove(object);
    // Observers that have not yet heard of the deletion hear nothing; the others hear of an insert.
    if (!m_pending.deleted.removeOne(object))
        notePendingInsertion(object);
    for (int r = 0; r < object->m_relationships.size(); ++r) {
        const RelationshipDescription &relationship = object->m_entity->relationships[r];
        if (!relationship.toMany) {
            const ObjectID target = state.toOne.value(r);
            object->linkToOne(r, target.isNull() ? nullptr : existingObject(target), false);
            continue;
        }
        const int inverse = object->inverseIndex(r);
        for (const ObjectID &memberId : toMany[r]) {
            ManagedObject *member = existingObject(memberId);
            if (!member || member->m_deleted)
                continue;
            if (inverse >= 0 && !member->m_entity->relationships[inverse].toMany)
                member->linkToOne(inverse, object, false);
            else
                object->linkMany(r, member, true, false);
        }
    }
    if (registersUndo()) {
        registerUndo([this, id] {
            if (ManagedObject *again = registeredObject(id))
                deleteObject(again);
        });
    }
    scheduleProcessing();
}

// --- Change tracking -------------------------------------------------------

void ManagedObjectContext::objectDidChange(ManagedObject *object, const QString &key)
{
    if (object->m_deleted)
        return;
    if (!object->m_inserted)
        m_updated.insert(object);
    // Observers hear of an object inserted since they last heard as inserted
    // only, so its keys need no recording (a restore sets millions).
    if (object->m_insertionPending) {
        scheduleProcessing();
        return;
    }
    // A new object edited after its insertion was reported is reported as
    // updated, so that lists showing it follow the edit before any save.
    m_pendingUpdated.insert(object);
    m_pending.changedKeys[object].insert(key);
    scheduleProcessing();
}

void ManagedObjectContext::notePendingInsertion(ManagedObject *object)
{
    object->m_insertionPending = true;
    m_pending.inserted.append(object);
}

void ManagedObjectContext::recordJoinChange(ManagedObject *source, int relationshipIndex, ManagedObject *destination,
                                            bool added)
{
    // Each link is recorded once, from the side whose entity comes first.
    JoinKey key{source, relationshipIndex, destination};
    if (source->m_entityIndex > destination->m_entityIndex)
        key = {destination, source->inverseIndex(relationshipIndex), source};
    const auto it = m_joinChanges.find(key);
    if (it != m_joinChanges.end() && it.value() != added)
        m_joinChanges.erase(it); // back to the source's state
    else
        m_joinChanges.insert(key, added);
}

bool ManagedObjectContext::registersUndo() const
{
    return m_undoManager && m_suppressUndo == 0 && !m_applyingExternal && m_undoManager->isUndoRegistrationEnabled();
}

void ManagedObjectContext::registerUndo(std::function<void()> action)
{
    m_undoManager->registerUndo(std::move(action));
}

void ManagedObjectContext::scheduleProcessing()
{
    if (m_processingScheduled)
        return;
    m_processingScheduled = true;
    std::shared_ptr<std::atomic<bool>> alive = m_alive;
    m_queue->async([this, alive] {
        if (alive->load())
            processPendingChanges();
    });
}

void ManagedObjectContext::processPendingChanges()
{
    m_processingScheduled = false;
    ObjectsChange change;
    for (ManagedObject *object : std::as_const(m_pending.inserted)) {
        object->m_insertionPending = false;
        if (!object->m_deleted)
            change.inserted.append(object);
    }
    for (ManagedObject *object : std::as_const(m_pending.deleted))
        change.deleted.append(object);
    // Objects inserted in this same batch are reported as inserted only.
    const QSet<ManagedObject *> insertedNow =
        m_pendingUpdated.isEmpty() ? QSet<ManagedObject *>() : QSet<ManagedObject *>(change.inserted.cbegin(), change.inserted.cend());
    for (ManagedObject *object : std::as_const(m_pendingUpdated))
        if (!object->m_deleted && !insertedNow.contains(object)) {
            change.updated.append(object);
            change.changedKeys.insert(object, m_pending.changedKeys.value(object));
        }
    m_pending = ObjectsChange();
    m_pendingUpdated.clear();
    if (!change.isEmpty())
        emit objectsDidChange(change);
}

bool ManagedObjectContext::hasChanges() const
{
    return !m_inserted.isEmpty() || !m_updated.isEmpty() || !m_deleted.isEmpty() || !m_joinChanges.isEmpty();
}

QList<ManagedObject *> ManagedObjectContext::insertedObjects() const { return m_inserted.values(); }
QList<ManagedObject *> ManagedObjectContext::updatedObjects() const { return m_updated.values(); }
QList<ManagedObject *> ManagedObjectContext::deletedObjects() const { return m_deleted.values(); }

// --- Fetching --------------------------------------------------------------

bool ManagedObjectContext::sourceMatches(const FetchRequest &request, QList<ManagedObject *> *objects, QString *error)
{
    const int entityIndex = ManagedObjectModel::ovalisModel().entityIndex(request.entityName);
    if (m_parent) {
        QVector<ObjectSnapshot> snapshots;
        bool ok = false;
        FetchRequest unsorted = request;
        unsorted.sortDescriptors.clear();
        unsorted.fetchLimit.reset();
        ManagedObjectContext *parent = m_parent;
        parent->performAndWait([&] { ok = parent->snapshotsForFetch(unsorted, &snapshots, error); });
        if (!ok)
            return false;
        objects->reserve(snapshots.size());
        for (const ObjectSnapshot &snapshot : std::as_const(snapshots))
            objects->append(materialise(snapshot));
        return true;
    }
    if (!hasRegisteredObjects(entityIndex)) {
        // Nothing of this entity is here yet: one pass reads keys and rows.
        QVector<ObjectSnapshot> snapshots;
        if (!m_store->fetchSnapshots(entityIndex, request.predicate, &snapshots, error))
            return false;
        objects->reserve(snapshots.size());
        for (const ObjectSnapshot &snapshot : std::as_const(snapshots))
            objects->append(materialise(snapshot));
        return true;
    }
    QVector<qint64> keys;
    if (!m_store->fetchKeys(entityIndex, request.predicate, &keys, error))
        return false;
    // One lookup per key; the keys without an object are materialised below.
    QVector<qint64> missing;
    const qsizetype first = objects->size();
    objects->reserve(first + keys.size());
    for (qint64 key : std::as_const(keys)) {
        ManagedObject *object = registeredObject({entityIndex, key});
        objects->append(object);
        if (!object)
            missing.append(key);
    }
    if (!missing.isEmpty()) {
        QVector<ObjectSnapshot> snapshots;
        const bool ok = missing.size() * 2 > keys.size()
                            ? m_store->fetchSnapshots(entityIndex, request.predicate, &snapshots, error)
                            : m_store->fetchSnapshotsForKeys(entityIndex, missing, &snapshots, error);
        if (!ok)
            return false;
        for (const ObjectSnapshot &snapshot : std::as_const(snapshots))
            if (!registeredObject(snapshot.id))
                materialise(snapshot);
        for (qsizetype i = 0; i < keys.size(); ++i)
            if (!(*objects)[first + i])
                (*objects)[first + i] = registeredObject({entityIndex, keys[i]});
        objects->removeAll(nullptr);
    }
    return true;
}

QSet<ManagedObject *> ManagedObjectContext::localCandidates(int entityIndex, const Predicate &predicate)
{
    QSet<ManagedObject *> candidates;
    const QSet<QString> referenced = predicate.referencedKeys();
    QList<ManagedObject *> changed;
    for (const QSet<ManagedObject *> *set : {&m_inserted, &m_updated, &m_deleted})
        for (ManagedObject *object : *set)
            changed.append(object);
    for (const JoinKey &key : m_joinChanges.keys())
        changed << key.source << key.destination;
    for (ManagedObject *object : std::as_const(changed)) {
        if (object->m_entityIndex == entityIndex) {
            // The store answers for an edited object as long as the predicate
            // reads none of the keys edited in memory.
            if (object->m_inserted || object->m_deleted || object->hasChangedKeyIn(referenced, true))
                candidates.insert(object);
            continue;
        }
        // A change of a related record can change whether this one matches,
        // when the predicate reads a key that changed there.
        if (object->m_deleted || !object->hasChangedKeyIn(referenced, false))
            continue;
        const auto &relationships = object->m_entity->relationships;
        for (int r = 0; r < relationships.size(); ++r) {
            if (ManagedObjectModel::ovalisModel().entityIndex(relationships[r].destinationEntity) != entityIndex
                || object->m_deleted)
                continue;
            if (relationships[r].toMany) {
                for (ManagedObject *member : object->toMany(r))
                    candidates.insert(member);
            } else if (ManagedObject *target = object->toOne(r)) {
                candidates.insert(target);
            }
        }
    }
    return candidates;
}

QList<ManagedObject *> ManagedObjectContext::executeFetch(const FetchRequest &request, QString *error)
{
    const int entityIndex = ManagedObjectModel::ovalisModel().entityIndex(request.entityName);
    if (entityIndex < 0) {
        if (error)
            *error = QStringLiteral("No entity named %1").arg(request.entityName);
        return {};
    }
    if (!request.predicate.isNull() && !request.predicate.isValid()) {
        if (error)
            *error = request.predicate.errorString();
        return {};
    }
    QList<ManagedObject *> base;
    if (!sourceMatches(request, &base, error))
        return {};
    const QSet<ManagedObject *> candidates = localCandidates(entityIndex, request.predicate);
    QList<ManagedObject *> result;
    result.reserve(base.size() + candidates.size());
    for (ManagedObject *object : std::as_const(base))
        if (!object->m_deleted && !candidates.contains(object))
            result.append(object);
    for (ManagedObject *object : candidates)
        if (!object->m_deleted && object->m_entityIndex == entityIndex
            && (request.predicate.isNull() || request.predicate.evaluate(*object)))
            result.append(object);
    if (!request.unordered || request.fetchLimit)
        sortObjects(result, request.sortDescriptors);
    if (request.fetchLimit && *request.fetchLimit >= 0 && result.size() > *request.fetchLimit)
        result.resize(*request.fetchLimit);
    return result;
}

int ManagedObjectContext::executeCount(const FetchRequest &request, QString *error)
{
    const int entityIndex = ManagedObjectModel::ovalisModel().entityIndex(request.entityName);
    if (entityIndex < 0) {
        if (error)
            *error = QStringLiteral("No entity named %1").arg(request.entityName);
        return -1;
    }
    if (!m_parent && localCandidates(entityIndex, request.predicate).isEmpty()) {
        qint64 count = 0;
        if (!m_store->count(entityIndex, request.predicate, &count, error))
            return -1;
        return int(count);
    }
    QString failure;
    const QList<ManagedObject *> objects = executeFetch(request, &failure);
    if (!failure.isEmpty()) {
        if (error)
            *error = failure;
        return -1;
    }
    return int(objects.size());
}

bool ManagedObjectContext::snapshotsForFetch(const FetchRequest &request, QVector<ObjectSnapshot> *snapshots, QString *error)
{
    QString failure;
    const QList<ManagedObject *> objects = executeFetch(request, &failure);
    if (!failure.isEmpty()) {
        if (error)
            *error = failure;
        return false;
    }
    snapshots->reserve(objects.size());
    for (const ManagedObject *object : objects)
        snapshots->append(snapshotOf(object));
    return true;
}

// --- Saving ----------------------------------------------------------------

ContextChanges ManagedObjectContext::collectChanges() const
{
    ContextChanges changes;
    changes.author = m_author;
    changes.contextName = m_name;
    for (ManagedObject *object : m_inserted)
        changes.records.append({snapshotOf(object), true, ~0u});
    for (ManagedObject *object : m_updated)
        changes.records.append({snapshotOf(object), false, object->m_changedMask});
    for (ManagedObject *object : m_deleted)
        changes.deleted.append(object->m_id);
    for (auto it = m_joinChanges.cbegin(); it != m_joinChanges.cend(); ++it) {
        const JoinKey &key = it.key();
        // Links of records that never reached the source need no writing.
        const bool sourceGone = key.source->m_deleted && key.source->m_inserted;
        const bool destinationGone = key.destination->m_deleted && key.destination->m_inserted;
        if (sourceGone || destinationGone)
            continue;
        changes.joins.append({key.source->m_entityIndex, key.relationship, key.source->m_id, key.destination->m_id, it.value()});
    }
    return changes;
}

bool ManagedObjectContext::save(QString *error)
{
    return save(error, true);
}

bool ManagedObjectContext::save(QString *error, bool waitForParent)
{
    processPendingChanges();
    if (!hasChanges())
        return true;
    // The before-save hooks; their writes are saved but reported to nobody.
    ++m_suppressUndo;
    for (const QSet<ManagedObject *> *set : {&m_inserted, &m_updated}) {
        const QList<ManagedObject *> objects = set->values();
        for (ManagedObject *object : objects)
            object->willSave();
    }
    --m_suppressUndo;
    for (ManagedObject *object : std::as_const(m_pending.inserted))
        object->m_insertionPending = false;
    m_pending = ObjectsChange();
    m_pendingUpdated.clear();
    const ContextChanges changes = collectChanges();
    if (m_parent) {
        ManagedObjectContext *parent = m_parent;
        // Work this context posts to the parent later runs after the push,
        // so queuing it keeps every later fetch and fault consistent.
        if (waitForParent)
            parent->performAndWait([&] { parent->applyChildChanges(changes); });
        else
            parent->perform([parent, changes] { parent->applyChildChanges(changes); });
    } else {
        QHash<ObjectID, ObjectID> assigned;
        quint64 sequence = 0;
        if (!m_store->save(changes, &assigned, error, &sequence))
            return false;
        for (ManagedObject *object : std::as_const(m_inserted)) {
            const ObjectID permanent = assigned.value(object->m_id);
            if (!permanent.isNull()) {
                object->m_id = permanent;
                m_registered.insert(permanent, object);
            }
            object->m_savedSequence = sequence;
        }
        for (ManagedObject *object : std::as_const(m_updated))
            object->m_savedSequence = sequence;
        if (ManagedObjectContext *target = m_mergeTarget.load())
            postSavedChanges(target, changes, sequence);
    }
    didPersist(changes);
    return true;
}

void ManagedObjectContext::postSavedChanges(ManagedObjectContext *target, const ContextChanges &changes, quint64 sequence)
{
    SavedChanges saved;
    saved.sequence = sequence;
    saved.records = changes.records;
    for (ContextChanges::Record &record : saved.records) {
        record.snapshot.id = m_store->resolve(record.snapshot.id);
        for (ObjectID &target : record.snapshot.toOne)
            target = m_store->resolve(target);
    }
    saved.joins = changes.joins;
    for (ContextChanges::JoinChange &join : saved.joins) {
        join.source = m_store->resolve(join.source);
        join.destination = m_store->resolve(join.destination);
    }
    saved.deleted.reserve(changes.deleted.size());
    for (const ObjectID &id : changes.deleted)
        saved.deleted.append(m_store->resolve(id));
    target->perform([target, saved = std::move(saved)] { target->enqueueSavedChanges(saved); });
}

void ManagedObjectContext::didPersist(const ContextChanges &changes)
{
    Q_UNUSED(changes);
    ObjectsChange saved;
    for (ManagedObject *object : std::as_const(m_inserted)) {
        object->m_inserted = false;
        object->m_changedMask = 0;
        saved.inserted.append(object);
    }
    for (ManagedObject *object : std::as_const(m_updated)) {
        const QStringList keys = object->changedKeys();
        saved.changedKeys.insert(object, QSet<QString>(keys.cbegin(), keys.cend()));
        object->m_changedMask = 0;
        saved.updated.append(object);
    }
    for (ManagedObject *object : std::as_const(m_deleted)) {
        saved.deleted.append(object);
        object->m_context = nullptr;
        m_registered.remove(object->m_id);
        m_registered.remove(m_store->resolve(object->m_id));
    }
    for (ManagedObject *object : std::as_const(m_graveyard))
        if (object->m_inserted) {
            object->m_context = nullptr;
            m_registered.remove(object->m_id);
        }
    m_inserted.clear();
    m_updated.clear();
    m_deleted.clear();
    m_joinChanges.clear();
    emit didSave(saved);
}

void ManagedObjectContext::applyChildChanges(const ContextChanges &changes)
{
    // A child's work arrives as one batch; it is not undoable here.
    ++m_suppressUndo;
    QSet<ManagedObject *> created;
    created.reserve(changes.records.size());
    QVector<ManagedObject *> createdFor(changes.records.size(), nullptr); // by record
    for (qsizetype i = 0; i < changes.records.size(); ++i) {
        const ContextChanges::Record &record = changes.records[i];
        if (!record.inserted || registeredObject(record.snapshot.id))
            continue;
        ManagedObject *object = createObject(record.snapshot.id.entity, record.snapshot.id);
        created.insert(object);
        createdFor[i] = object;
        object->m_inserted = true;
        for (auto &slot : object->m_relationships)
            slot.loaded = true;
        m_inserted.insert(object);
        notePendingInsertion(object);
    }
    for (qsizetype i = 0; i < changes.records.size(); ++i) {
        const ContextChanges::Record &record = changes.records[i];
        ManagedObject *object = createdFor[i] ? createdFor[i] : existingObject(record.snapshot.id);
        if (!object || object->m_deleted)
            continue;
        if (createdFor[i]) {
            // A record this batch made takes the child's values as they are:
            // they were normalised there, and nobody observes it yet.
            for (int a = 0; a < object->m_values.size(); ++a)
                object->m_values[a] = record.snapshot.attributes.value(a);
            object->m_foldedValid = 0;
            object->m_changedMask |= (1u << object->m_values.size()) - 1;
        } else {
            for (int a = 0; a < object->m_values.size(); ++a)
                if (record.inserted || (record.changedMask & (1u << a)))
                    object->setAttribute(a, record.snapshot.attributes.value(a));
        }
        for (int r = 0; r < object->m_relationships.size(); ++r) {
            if (object->m_entity->relationships[r].toMany)
                continue;
            if (!record.inserted && !(record.changedMask & (1u << (relationshipBitOffset + r))))
                continue;
            const ObjectID target = record.snapshot.toOne.value(r);
            object->linkToOne(r, target.isNull() ? nullptr : existingObject(target), false);
        }
    }
    for (const ContextChanges::JoinChange &join : changes.joins) {
        ManagedObject *source = existingObject(join.source);
        ManagedObject *destination = existingObject(join.destination);
        if (source && destination && !source->m_deleted && !destination->m_deleted)
            source->linkMany(join.relationship, destination, join.added, false, created.contains(source));
    }
    for (const ObjectID &id : changes.deleted)
        if (ManagedObject *object = existingObject(id))
            deleteObject(object, false);
    --m_suppressUndo;
    processPendingChanges();
}

void ManagedObjectContext::mergeExternalChanges(const QVector<ObjectSnapshot> &snapshots, const QSet<ObjectID> &inserted,
                                                const QHash<ObjectID, QStringList> &changedKeys,
                                                const QVector<ObjectID> &deleted)
{
    m_applyingExternal = true;
    for (const ObjectSnapshot &snapshot : snapshots) {
        ManagedObject *object = registeredObject(snapshot.id);
        if (!object) {
            if (inserted.contains(snapshot.id))
                notePendingInsertion(materialise(snapshot));
            continue;
        }
        if (object->m_deleted)
            continue;
        // The snapshot is read from the store after the save: every
        // attribute and to-one is current, and to-many relationships named
        // as changed are read again.
        quint32 mask = ~toManyBits(*object->m_entity);
        const QStringList keys = changedKeys.value(snapshot.id);
        for (int r = 0; r < object->m_relationships.size(); ++r)
            if (object->m_entity->relationships[r].toMany && keys.contains(object->m_entity->relationships[r].name))
                mask |= 1u << (relationshipBitOffset + r);
        mergeRecord(object, snapshot, mask);
    }
    for (const ObjectID &id : deleted)
        mergeDeletion(id);
    m_applyingExternal = false;
    processPendingChanges();
}

void ManagedObjectContext::mergeRecord(ManagedObject *object, const ObjectSnapshot &snapshot, quint32 mask)
{
    QSet<QString> keys;
    for (int a = 0; a < object->m_values.size(); ++a) {
        // In-memory changes win, property by property.
        if (!(mask & (1u << a)) || (object->m_changedMask & (1u << a))
            || object->m_values[a] == snapshot.attributes.value(a))
            continue;
        object->m_values[a] = snapshot.attributes.value(a);
        object->m_foldedValid &= ~(1u << a);
        keys.insert(object->m_entity->attributes[a].name);
    }
    for (int r = 0; r < object->m_relationships.size(); ++r) {
        const quint32 bit = 1u << (relationshipBitOffset + r);
        if (!(mask & bit) || (object->m_changedMask & bit))
            continue;
        auto &slot = object->m_relationships[r];
        const QString name = object->m_entity->relationships[r].name;
        if (object->m_entity->relationships[r].toMany) {
            slot.loaded = false;
            slot.toMany.clear();
            keys.insert(name);
            continue;
        }
        const ObjectID current = slot.loaded ? (slot.toOne ? slot.toOne->m_id : ObjectID()) : slot.toOneID;
        if (m_store->resolve(current) == snapshot.toOne.value(r))
            continue;
        // Both ends of the old and new link are faulted in again.
        const int inverse = object->inverseIndex(r);
        for (const ObjectID &end : {current, snapshot.toOne.value(r)})
            if (ManagedObject *target = registeredObject(end); target && inverse >= 0
                && !(target->m_changedMask & (1u << (relationshipBitOffset + inverse)))) {
                target->m_relationships[inverse].loaded = false;
                target->m_relationships[inverse].toMany.clear();
                m_pendingUpdated.insert(target);
                m_pending.changedKeys[target].insert(target->m_entity->relationships[inverse].name);
            }
        slot.toOneID = snapshot.toOne.value(r);
        slot.toOne = nullptr;
        slot.loaded = false;
        keys.insert(name);
    }
    if (keys.isEmpty())
        return;
    m_pendingUpdated.insert(object);
    m_pending.changedKeys[object].unite(keys);
    for (const QString &key : std::as_const(keys))
        object->notifyObservers(key);
}

void ManagedObjectContext::mergeDeletion(const ObjectID &id)
{
    ManagedObject *object = registeredObject(id);
    if (!object || object->m_deleted || object->hasChanges())
        return;
    for (int r = 0; r < object->m_relationships.size(); ++r) {
        // Whatever pointed at the record faults in again.
        const int inverse = object->inverseIndex(r);
        if (!object->m_relationships[r].loaded || inverse < 0)
            continue;
        QList<ManagedObject *> ends = object->m_relationships[r].toMany;
        if (object->m_relationships[r].toOne)
            ends.append(object->m_relationships[r].toOne);
        for (ManagedObject *end : std::as_const(ends)) {
            end->m_relationships[inverse].loaded = false;
            end->m_relationships[inverse].toMany.clear();
            end->m_relationships[inverse].toOne = nullptr;
            end->m_relationships[inverse].toOneID = ObjectID();
            m_pendingUpdated.insert(end);
            m_pending.changedKeys[end].insert(end->m_entity->relationships[inverse].name);
        }
    }
    object->m_deleted = true;
    object->m_context = nullptr;
    m_registered.remove(object->m_id);
    m_registered.remove(id);
    m_pending.deleted.append(object);
}

void ManagedObjectContext::mergeSavedJoin(const ContextChanges::JoinChange &join)
{
    // A link saved elsewhere is laid over the lists loaded here, so that a
    // tag's long list of cases is not read again for each batch; a list
    // whose other end is not held here is read again when next needed.
    ManagedObject *source = registeredObject(join.source);
    ManagedObject *destination = registeredObject(join.destination);
    const auto layOver = [&](ManagedObject *end, int relationship, ManagedObject *other) {
        if (!end || end->m_deleted || relationship < 0)
            return;
        auto &slot = end->m_relationships[relationship];
        if (slot.loaded) {
            if (!other || other->m_deleted) {
                slot.loaded = false;
                slot.toMany.clear();
            } else if (join.added) {
                if (!slot.toMany.contains(other))
                    slot.toMany.append(other);
            } else {
                slot.toMany.removeAll(other);
            }
        }
        const QString &name = end->m_entity->relationships[relationship].name;
        m_pendingUpdated.insert(end);
        m_pending.changedKeys[end].insert(name);
        end->notifyObservers(name);
    };
    layOver(source, join.relationship, destination);
    if (destination) {
        const QString &inverse = m_store->model().entities()[join.entity].relationships[join.relationship].inverseName;
        layOver(destination, destination->m_entity->relationshipIndex(inverse), source);
    }
}

void ManagedObjectContext::enqueueSavedChanges(SavedChanges changes)
{
    m_savedChangesToMerge.emplace_back(std::move(changes), 0);
    scheduleSavedChangesMerge();
}

void ManagedObjectContext::scheduleSavedChangesMerge()
{
    if (m_savedChangesMergeScheduled || m_savedChangesToMerge.empty())
        return;
    m_savedChangesMergeScheduled = true;
    perform([this] {
        m_savedChangesMergeScheduled = false;
        mergeSavedChangesSlice();
    });
}

void ManagedObjectContext::mergeSavedChangesSlice()
{
    // A slice ends after a few milliseconds of work and the rest follows in
    // a later turn; the lists hear of what was merged every few slices.
    QElapsedTimer slice;
    slice.start();
    bool sliceEnded = false;
    // New records are made here only for those listening for them (the
    // windows' lists); otherwise they are read from the store when needed.
    static const QMetaMethod objectsDidChangeSignal = QMetaMethod::fromSignal(&ManagedObjectContext::objectsDidChange);
    const bool observed = isSignalConnected(objectsDidChangeSignal);
    m_applyingExternal = true;
    while (!m_savedChangesToMerge.empty() && !sliceEnded) {
        auto &[saved, next] = m_savedChangesToMerge.front();
        const qsizetype recordCount = saved.records.size();
        const qsizetype total = recordCount + saved.joins.size();
        while (next < total) {
            if (next >= recordCount) {
                mergeSavedJoin(saved.joins[next++ - recordCount]);
                if ((next & 63) == 0 && slice.nsecsElapsed() > savedChangesSliceNanoseconds) {
                    sliceEnded = true;
                    break;
                }
                continue;
            }
            const ContextChanges::Record &record = saved.records[next++];
            ManagedObject *object = registeredObject(record.snapshot.id);
            if (!object) {
                // A record not held here is read from the store when it is next needed.
                if (record.inserted && observed)
                    notePendingInsertion(materialise(record.snapshot));
            } else if (!object->m_deleted) {
                // Only what the save changed is taken: the writer's other
                // values may be older than this context's. After a newer
                // save from here, only to-many relationships are read again.
                // Many-to-many links come one by one with the joins.
                quint32 mask = (record.inserted ? ~0u : record.changedMask) & ~manyToManyBits(*object->m_entity);
                if (object->m_savedSequence > saved.sequence)
                    mask &= toManyBits(*object->m_entity);
                mergeRecord(object, record.snapshot, mask);
                // A fetch here may have read the new record before its merge:
                // lists that did not fetch it still learn of it.
                if (record.inserted && !object->m_insertionPending)
                    notePendingInsertion(object);
            }
            if ((next & 15) == 0 && slice.nsecsElapsed() > savedChangesSliceNanoseconds) {
                sliceEnded = true;
                break;
            }
        }
        if (next < total)
            break;
        for (const ObjectID &id : std::as_const(saved.deleted))
            mergeDeletion(id);
        m_savedChangesToMerge.pop_front();
    }
    m_applyingExternal = false;
    // The lists hear of the merged records every few slices, and at the end:
    // each batch costs them a pass over everything they list.
    if (m_savedChangesToMerge.empty() || !m_savedChangesNotice.isValid()
        || m_savedChangesNotice.elapsed() >= savedChangesNoticeMilliseconds) {
        processPendingChanges();
        m_savedChangesNotice.start();
    }
    scheduleSavedChangesMerge();
}

// --- Store operations with their log lines ----------------------------------

QList<ManagedObject *> ManagedObjectContext::arrayOfObjects(const QString &type, const Predicate &predicate,
                                                            const QList<SortDescriptor> &sortDescriptors,
                                                            std::optional<int> fetchLimit, bool returnsObjectsAsFaults)
{
    FetchRequest request{type, predicate, sortDescriptors, fetchLimit, returnsObjectsAsFaults};
    QString error;
    QList<ManagedObject *> objects = executeFetch(request, &error);
    if (!error.isEmpty()) {
        Log::error(LogArea::CoreData, QStringLiteral("Failed to execute request with predicate '")
                                          + (predicate.isNull() ? QStringLiteral("nil") : predicate.format())
                                          + QStringLiteral("': ") + error);
        return {};
    }
    return objects;
}

int ManagedObjectContext::countOfObjects(const QString &type)
{
    QString error;
    const int count = executeCount({type, {}, {}, {}, false}, &error);
    if (count < 0) {
        Log::error(LogArea::CoreData, QStringLiteral("Failed to execute count of type: ") + type);
        return 0;
    }
    return count;
}

ManagedObject *ManagedObjectContext::object(const QString &type, const Predicate &predicate)
{
    QString error;
    const QList<ManagedObject *> objects = executeFetch({type, predicate, {}, {}, false}, &error);
    if (!error.isEmpty()) {
        Log::error(LogArea::CoreData, QStringLiteral("Failed to execute request: ") + error);
        return nullptr;
    }
    return objects.size() == 1 ? objects.first() : nullptr;
}

void ManagedObjectContext::saveWithParent(bool withParent)
{
    saveWithParent(withParent, true);
}

void ManagedObjectContext::saveWithParentLater()
{
    saveWithParent(true, false);
}

void ManagedObjectContext::waitForQueuedParentWork()
{
    // The parent's queue runs in order, so an empty piece of work is done
    // only after everything queued before it.
    if (m_parent)
        m_parent->performAndWait([] {});
    // A background writer asks its target whether the saves it posted are
    // merged: they reach the target's list before the question, and its
    // slices run between other work until the list is empty. The writer does
    // not run its own queue meanwhile, so that a target finishing this
    // writer's work as it goes never takes a question for the end of it.
    struct Answer {
        std::mutex mutex;
        std::condition_variable answered;
        int merged = -1; // unknown, no, yes
    };
    while (ManagedObjectContext *target = m_mergeTarget.load()) {
        auto answer = std::make_shared<Answer>();
        target->perform([target, answer] {
            std::lock_guard<std::mutex> lock(answer->mutex);
            answer->merged = target->m_savedChangesToMerge.empty() ? 1 : 0;
            answer->answered.notify_all();
        });
        std::unique_lock<std::mutex> lock(answer->mutex);
        // A target that goes meanwhile never answers: it clears m_mergeTarget instead.
        while (answer->merged < 0 && m_mergeTarget.load() == target)
            answer->answered.wait_for(lock, std::chrono::milliseconds(20));
        if (answer->merged == 1)
            return;
    }
}

void ManagedObjectContext::saveWithParent(bool withParent, bool waitForParent)
{
    Log::info(LogArea::CoreData, QStringLiteral("Save MOC, asking parent ") + (withParent ? QStringLiteral("true") : QStringLiteral("false")));
    if (!hasChanges()) {
        processPendingChanges();
        return;
    }
    QString error;
    if (!save(&error, waitForParent)) {
        Log::error(LogArea::CoreData, QStringLiteral("Failed to save context: ") + error);
        return;
    }
    if (!withParent || !m_parent)
        return;
    ManagedObjectContext *parent = m_parent;
    const auto saveParent = [parent] {
        QString parentError;
        if (parent->hasChanges() && !parent->save(&parentError))
            Log::error(LogArea::CoreData, QStringLiteral("Failed to save context: ") + parentError);
    };
    if (waitForParent) {
        parent->performAndWait(saveParent);
        return;
    }
    // When the parent falls behind, a queued save with a newer one queued
    // after it is left to that one: the parent then writes several pushes in
    // one transaction, which costs SQLite less than one each. A few in a row
    // at most, so that the file still grows steadily during a long import.
    const quint64 ticket = ++parent->m_queuedSaves;
    parent->perform([parent, ticket, saveParent] {
        if (ticket < parent->m_queuedSaves.load() && parent->m_skippedSaves < maximumSkippedQueuedSaves) {
            ++parent->m_skippedSaves;
            return;
        }
        parent->m_skippedSaves = 0;
        saveParent();
    });
}

void ManagedObjectContext::purgeHistory(int days)
{
    if (days < 0) {
        Log::error(LogArea::CoreData, QStringLiteral("Could not get %1 day time interval").arg(days));
        return;
    }
    ManagedObjectContext child(ConcurrencyType::PrivateQueue, this);
    child.performAndWait([&] {
        Log::info(LogArea::CoreData, QStringLiteral("Purge history (%1 days)").arg(days));
        const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-qint64(days) * 24 * 60 * 60);
        QString error;
        if (m_store->deleteHistory(before, &error))
            Log::info(LogArea::CoreData, QStringLiteral("Successfully purged history (%1 days)").arg(days));
        else
            Log::error(LogArea::CoreData, QStringLiteral("Could not purge history: ") + error);
        child.saveWithParent(true);
    });
}

} // namespace ovalis
