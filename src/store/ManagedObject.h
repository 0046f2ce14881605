#pragma once

#include <QList>
#include <QSet>
#include <QString>
#include <QVariant>
#include <QVector>
#include <functional>
#include <memory>

#include "store/EntityDescription.h"
#include "store/ObjectID.h"
#include "store/PredicateObject.h"

namespace ovalis {

class ManagedObjectContext;

// A record of the library in one context. Owned by its context; used only on
// that context's thread. Lists compare records by identity (one object per
// record per context).
class ManagedObject : public PredicateObject
{
public:
    ManagedObject(const ManagedObject &) = delete;
    ManagedObject &operator=(const ManagedObject &) = delete;
    ~ManagedObject() override;

    const EntityDescription &entityDescription() const override { return *m_entity; }
    int entityIndex() const { return m_entityIndex; }
    QString entityName() const { return m_entity->name; }

    // The permanent identifier once the record has been saved, else the temporary one.
    ObjectID objectID() const;
    // Increases with each object made in the process; orders records with
    // equal sort keys the same way for as long as they live.
    quint64 sequence() const { return m_sequence; }
    // The sequence of the latest object made, on any thread: every object
    // made later has a greater one.
    static quint64 latestSequence();
    // The context holding the record; nullptr once it is deleted and saved, or unregistered.
    ManagedObjectContext *managedObjectContext() const { return m_context; }

    bool isInserted() const { return m_inserted; }
    bool isDeleted() const { return m_deleted; }
    bool isUpdated() const { return m_changedMask != 0 && !m_inserted && !m_deleted; }
    bool hasChanges() const { return m_inserted || m_deleted || m_changedMask != 0; }
    // Stored keys changed since the last save (or push to the parent).
    QStringList changedKeys() const;
    // The attributes among them.
    QSet<QString> changedAttributeKeys() const;
    // Whether one of keys changed since the last save: an attribute, or with
    // relationships also a relationship. Allocates nothing.
    bool hasChangedKeyIn(const QSet<QString> &keys, bool relationships) const;

    // Key-value access: stored attributes, relationships (to-one as
    // ManagedObject*, to-many as QList<ManagedObject*>) and derived values.
    QVariant value(const QString &key) const;
    void setValue(const QString &key, const QVariant &value);

    // Attribute access by index, with change notification and undo.
    QVariant attribute(int index) const;
    void setAttribute(int index, const QVariant &value);
    // A write that notifies nobody and registers no undo, but is saved.
    void setPrimitiveAttribute(int index, const QVariant &value);

    ManagedObject *toOne(int relationshipIndex) const;
    void setToOne(int relationshipIndex, ManagedObject *target);
    // The members of a to-many relationship (an unordered set), faulted in on first use.
    const QList<ManagedObject *> &toMany(int relationshipIndex) const;
    // The members of a to-many relationship as the destination's class.
    template<class T> QList<T *> toManyAs(int relationshipIndex) const
    {
        const QList<ManagedObject *> &members = toMany(relationshipIndex);
        QList<T *> result;
        result.reserve(members.size());
        for (ManagedObject *member : members)
            result.append(static_cast<T *>(member));
        return result;
    }
    void addToMany(int relationshipIndex, ManagedObject *target);
    void removeFromMany(int relationshipIndex, ManagedObject *target);
    // Whether a to-many relationship has been faulted in (or built in memory).
    bool isToManyLoaded(int relationshipIndex) const;

    // PredicateObject
    QVariant attributeValue(const QString &key) const override;
    QString foldedAttributeValue(const QString &key) const override;
    QList<const PredicateObject *> relatedObjects(const QString &key) const override;

    // Key-value observing. The callback runs synchronously, on the context's
    // thread, after the key (or a stored key it depends on) changed.
    int addObserver(const QString &key, std::function<void()> callback);
    void removeObserver(int observerId);

    // The derived keys whose values depend on a stored key.
    virtual QStringList keysAffectedBy(const QString &storedKey) const;
    virtual QVariant derivedValue(const QString &key) const;
    virtual QString description() const;

protected:
    ManagedObject(const EntityDescription &entity, int entityIndex);

    // Hooks run by the context.
    virtual void awakeFromInsert() {}
    virtual void willSave() {}
    virtual void prepareForDeletion() {}
    // Whether a change made now is recorded for undo.
    bool changesAreUndoable() const;

    int attributeIndex(const QString &name) const { return m_entity->attributeIndex(name); }
    QString stringAttribute(int index) const;
    QDateTime dateAttribute(int index) const;

private:
    friend class ManagedObjectContext;

    struct RelationshipSlot {
        ObjectID toOneID;               // to-one target as stored, resolved on first use
        ManagedObject *toOne = nullptr; // Not owned.
        QList<ManagedObject *> toMany;  // Not owned.
        bool loaded = false;            // to-one resolved / to-many faulted in
    };
    struct Observer {
        int id;
        QString key;
        std::function<void()> callback;
    };

    static QVariant normalised(const QVariant &value, AttributeType type);
    void markChanged(int bit, const QString &key, bool notify);
    void notifyObservers(const QString &storedKey);
    // Relationship edits that keep both sides in step; `primary` edits register undo.
    void linkToOne(int relationshipIndex, ManagedObject *target, bool primary);
    // sourceIsNew: this object was made by the batch being applied, so the
    // target's inverse list cannot hold it unless this object's own list
    // holds the target, and that list is checked; the long inverse list of
    // a popular tag is then not searched.
    void linkMany(int relationshipIndex, ManagedObject *target, bool added, bool primary, bool sourceIsNew = false);
    void rawAddMember(int relationshipIndex, ManagedObject *target, bool knownAbsent = false);
    void rawRemoveMember(int relationshipIndex, ManagedObject *target);
    void severAllRelationships();
    int inverseIndex(int relationshipIndex) const;
    const RelationshipSlot &slot(int relationshipIndex) const;

    const EntityDescription *m_entity;
    int m_entityIndex;
    ObjectID m_id;
    quint64 m_sequence;
    ManagedObjectContext *m_context = nullptr; // Not owned.
    QVector<QVariant> m_values;
    mutable QVector<QString> m_folded;
    mutable quint32 m_foldedValid = 0;
    mutable QVector<RelationshipSlot> m_relationships;
    quint32 m_changedMask = 0; // attribute bits, then relationship bits from bit 16
    // The number of the store's save that last wrote this object's changes
    // from its context; a background save older than it brings no newer values.
    quint64 m_savedSequence = 0;
    bool m_inserted = false;
    bool m_deleted = false;
    bool m_insertionPending = false; // in the context's next objects-did-change as inserted
    std::unique_ptr<QList<Observer>> m_observers;
};

} // namespace ovalis
