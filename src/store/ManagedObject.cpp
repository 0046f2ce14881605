#include "store/ManagedObject.h"

#include <QDateTime>

#include "store/ManagedObjectContext.h"
#include "store/PersistentStore.h"
#include "util/TextFolding.h"

namespace ovalis {

namespace {
constexpr int relationshipBitOffset = 16;

std::atomic<quint64> sequenceCounter{1};

quint64 nextSequence()
{
    return sequenceCounter++;
}
} // namespace

quint64 ManagedObject::latestSequence()
{
    return sequenceCounter.load() - 1;
}

ManagedObject::ManagedObject(const EntityDescription &entity, int entityIndex)
    : m_entity(&entity)
    , m_entityIndex(entityIndex)
    , m_sequence(nextSequence())
{
    // A new object of the library's model starts from lists shared by all the
    // objects of its entity, copied when first written: most objects fetched
    // for a list have their values replaced at once and never load a relationship.
    struct Initial {
        QVector<QVariant> values;
        QVector<RelationshipSlot> relationships;
    };
    const auto initialFor = [](const EntityDescription &description) {
        Initial initial{QVector<QVariant>(description.attributes.size()),
                        QVector<RelationshipSlot>(description.relationships.size())};
        for (int i = 0; i < description.attributes.size(); ++i)
            if (!description.attributes[i].optional)
                initial.values[i] = normalised(QVariant(), description.attributes[i].type);
        return initial;
    };
    const QVector<EntityDescription> &entities = ManagedObjectModel::ovalisModel().entities();
    static const QVector<Initial> shared = [&] {
        QVector<Initial> all;
        for (const EntityDescription &description : entities)
            all.append(initialFor(description));
        return all;
    }();
    const Initial initial = entityIndex >= 0 && entityIndex < entities.size() && &entities[entityIndex] == &entity
                                ? shared[entityIndex]
                                : initialFor(entity);
    m_values = initial.values;
    m_relationships = initial.relationships;
}

ManagedObject::~ManagedObject() = default;

ObjectID ManagedObject::objectID() const
{
    if (m_id.isTemporary() && m_context && m_context->persistentStore())
        return m_context->persistentStore()->resolve(m_id);
    return m_id;
}

QStringList ManagedObject::changedKeys() const
{
    QStringList keys;
    for (int i = 0; i < m_entity->attributes.size(); ++i)
        if (m_changedMask & (1u << i))
            keys << m_entity->attributes[i].name;
    for (int i = 0; i < m_entity->relationships.size(); ++i)
        if (m_changedMask & (1u << (relationshipBitOffset + i)))
            keys << m_entity->relationships[i].name;
    return keys;
}

QSet<QString> ManagedObject::changedAttributeKeys() const
{
    QSet<QString> keys;
    for (int i = 0; i < m_entity->attributes.size(); ++i)
        if (m_changedMask & (1u << i))
            keys.insert(m_entity->attributes[i].name);
    return keys;
}

bool ManagedObject::hasChangedKeyIn(const QSet<QString> &keys, bool relationships) const
{
    if (m_changedMask == 0 || keys.isEmpty())
        return false;
    for (int i = 0; i < m_entity->attributes.size(); ++i)
        if ((m_changedMask & (1u << i)) && keys.contains(m_entity->attributes[i].name))
            return true;
    if (relationships)
        for (int i = 0; i < m_entity->relationships.size(); ++i)
            if ((m_changedMask & (1u << (relationshipBitOffset + i))) && keys.contains(m_entity->relationships[i].name))
                return true;
    return false;
}

QVariant ManagedObject::normalised(const QVariant &value, AttributeType type)
{
    switch (type) {
    case AttributeType::String: {
        if (!value.isValid())
            return {};
        const QString text = value.toString();
        if (text.isNull())
            return {};
        return text.isEmpty() ? QVariant(QStringLiteral("")) : QVariant(text);
    }
    case AttributeType::Integer16:
        return QVariant(int(qint16(value.toInt())));
    case AttributeType::Integer32:
        return QVariant(value.toInt());
    case AttributeType::Boolean:
        return QVariant(value.toBool());
    case AttributeType::Date: {
        const QDateTime date = value.toDateTime();
        if (!date.isValid())
            return {};
        return QVariant(QDateTime::fromMSecsSinceEpoch(date.toMSecsSinceEpoch(), Qt::UTC));
    }
    }
    return {};
}

QVariant ManagedObject::value(const QString &key) const
{
    const int a = m_entity->attributeIndex(key);
    if (a >= 0)
        return m_values[a];
    const int r = m_entity->relationshipIndex(key);
    if (r >= 0) {
        if (m_entity->relationships[r].toMany)
            return QVariant::fromValue(toMany(r));
        return QVariant::fromValue(toOne(r));
    }
    return derivedValue(key);
}

void ManagedObject::setValue(const QString &key, const QVariant &value)
{
    const int a = m_entity->attributeIndex(key);
    if (a >= 0) {
        setAttribute(a, value);
        return;
    }
    const int r = m_entity->relationshipIndex(key);
    if (r >= 0 && !m_entity->relationships[r].toMany)
        setToOne(r, value.value<ManagedObject *>());
}

QVariant ManagedObject::attribute(int index) const
{
    return m_values.value(index);
}

bool ManagedObject::changesAreUndoable() const
{
    return m_context && m_context->registersUndo();
}

void ManagedObject::setAttribute(int index, const QVariant &value)
{
    if (index < 0 || index >= m_values.size())
        return;
    const QVariant newValue = normalised(value, m_entity->attributes[index].type);
    const QVariant oldValue = m_values[index];
    if (oldValue.isValid() == newValue.isValid() && (!oldValue.isValid() || oldValue == newValue))
        return;
    if (m_context && m_context->registersUndo()) {
        ManagedObjectContext *context = m_context;
        const ObjectID id = objectID();
        m_context->registerUndo([context, id, index, oldValue] {
            if (ManagedObject *object = context->existingObject(id))
                object->setAttribute(index, oldValue);
        });
    }
    m_values[index] = newValue;
    m_foldedValid &= ~(1u << index);
    markChanged(index, m_entity->attributes[index].name, true);
}

void ManagedObject::setPrimitiveAttribute(int index, const QVariant &value)
{
    if (index < 0 || index >= m_values.size())
        return;
    m_values[index] = normalised(value, m_entity->attributes[index].type);
    m_foldedValid &= ~(1u << index);
    m_changedMask |= 1u << index;
}

// Typed reads take the stored value without copying the QVariant first:
// lists of many cases read them once per case and line.
QString ManagedObject::stringAttribute(int index) const
{
    if (index < 0 || index >= m_values.size())
        return QString();
    const QVariant &v = m_values.at(index);
    if (v.typeId() == QMetaType::QString)
        return *static_cast<const QString *>(v.constData());
    return v.isValid() ? v.toString() : QString();
}

QDateTime ManagedObject::dateAttribute(int index) const
{
    if (index < 0 || index >= m_values.size())
        return QDateTime();
    const QVariant &v = m_values.at(index);
    if (v.typeId() == QMetaType::QDateTime)
        return *static_cast<const QDateTime *>(v.constData());
    return v.isValid() ? v.toDateTime() : QDateTime();
}

void ManagedObject::markChanged(int bit, const QString &key, bool notify)
{
    m_changedMask |= 1u << bit;
    if (m_context)
        m_context->objectDidChange(this, key);
    if (notify)
        notifyObservers(key);
}

int ManagedObject::inverseIndex(int relationshipIndex) const
{
    const RelationshipDescription &relationship = m_entity->relationships[relationshipIndex];
    const EntityDescription *destination = ManagedObjectModel::ovalisModel().entity(relationship.destinationEntity);
    return destination ? destination->relationshipIndex(relationship.inverseName) : -1;
}

const ManagedObject::RelationshipSlot &ManagedObject::slot(int relationshipIndex) const
{
    RelationshipSlot &s = m_relationships[relationshipIndex];
    if (!s.loaded) {
        if (m_entity->relationships[relationshipIndex].toMany) {
            s.toMany = m_context ? m_context->faultToMany(const_cast<ManagedObject *>(this), relationshipIndex)
                                 : QList<ManagedObject *>();
        } else {
            ManagedObject *target = s.toOneID.isNull() || !m_context ? nullptr : m_context->existingObject(s.toOneID);
            s.toOne = target && !target->isDeleted() ? target : nullptr;
        }
        s.loaded = true;
    }
    return s;
}

ManagedObject *ManagedObject::toOne(int relationshipIndex) const
{
    if (relationshipIndex < 0 || relationshipIndex >= m_relationships.size())
        return nullptr;
    return slot(relationshipIndex).toOne;
}

const QList<ManagedObject *> &ManagedObject::toMany(int relationshipIndex) const
{
    static const QList<ManagedObject *> none;
    if (relationshipIndex < 0 || relationshipIndex >= m_relationships.size())
        return none;
    return slot(relationshipIndex).toMany;
}

bool ManagedObject::isToManyLoaded(int relationshipIndex) const
{
    return m_relationships.value(relationshipIndex).loaded;
}

void ManagedObject::setToOne(int relationshipIndex, ManagedObject *target)
{
    if (relationshipIndex < 0 || relationshipIndex >= m_relationships.size()
        || m_entity->relationships[relationshipIndex].toMany)
        return;
    linkToOne(relationshipIndex, target, true);
}

void ManagedObject::addToMany(int relationshipIndex, ManagedObject *target)
{
    if (!target || relationshipIndex < 0 || relationshipIndex >= m_relationships.size())
        return;
    const int inverse = inverseIndex(relationshipIndex);
    if (inverse >= 0 && !target->m_entity->relationships[inverse].toMany)
        target->linkToOne(inverse, this, true);
    else
        linkMany(relationshipIndex, target, true, true);
}

void ManagedObject::removeFromMany(int relationshipIndex, ManagedObject *target)
{
    if (!target || relationshipIndex < 0 || relationshipIndex >= m_relationships.size())
        return;
    const int inverse = inverseIndex(relationshipIndex);
    if (inverse >= 0 && !target->m_entity->relationships[inverse].toMany) {
        if (target->toOne(inverse) == this)
            target->linkToOne(inverse, nullptr, true);
    } else {
        linkMany(relationshipIndex, target, false, true);
    }
}

void ManagedObject::rawAddMember(int relationshipIndex, ManagedObject *target, bool knownAbsent)
{
    RelationshipSlot &s = m_relationships[relationshipIndex];
    if (s.loaded && (knownAbsent || !s.toMany.contains(target)))
        s.toMany.append(target);
    markChanged(relationshipBitOffset + relationshipIndex, m_entity->relationships[relationshipIndex].name, true);
}

void ManagedObject::rawRemoveMember(int relationshipIndex, ManagedObject *target)
{
    RelationshipSlot &s = m_relationships[relationshipIndex];
    if (s.loaded)
        s.toMany.removeAll(target);
    markChanged(relationshipBitOffset + relationshipIndex, m_entity->relationships[relationshipIndex].name, true);
}

void ManagedObject::linkToOne(int relationshipIndex, ManagedObject *target, bool primary)
{
    ManagedObject *current = toOne(relationshipIndex);
    if (current == target)
        return;
    if (primary && m_context && m_context->registersUndo()) {
        ManagedObjectContext *context = m_context;
        const ObjectID id = objectID();
        const ObjectID previous = current ? current->objectID() : ObjectID();
        m_context->registerUndo([context, id, previous, relationshipIndex] {
            ManagedObject *object = context->existingObject(id);
            if (object)
                object->setToOne(relationshipIndex, previous.isNull() ? nullptr : context->existingObject(previous));
        });
    }
    const int inverse = inverseIndex(relationshipIndex);
    const bool inverseToMany = inverse >= 0 && target ? target->m_entity->relationships[inverse].toMany
                               : inverse >= 0 && current ? current->m_entity->relationships[inverse].toMany
                                                         : true;
    if (current && inverse >= 0) {
        if (inverseToMany)
            current->rawRemoveMember(inverse, this);
        else
            current->linkToOne(inverse, nullptr, false);
    }
    RelationshipSlot &s = m_relationships[relationshipIndex];
    s.toOne = target;
    s.toOneID = target ? target->objectID() : ObjectID();
    s.loaded = true;
    markChanged(relationshipBitOffset + relationshipIndex, m_entity->relationships[relationshipIndex].name, true);
    if (target && inverse >= 0) {
        if (inverseToMany)
            target->rawAddMember(inverse, this);
        else
            target->linkToOne(inverse, this, false);
    }
}

void ManagedObject::linkMany(int relationshipIndex, ManagedObject *target, bool added, bool primary, bool sourceIsNew)
{
    const RelationshipSlot &s = m_relationships[relationshipIndex];
    if (s.loaded && s.toMany.contains(target) == added)
        return;
    if (primary && m_context && m_context->registersUndo()) {
        ManagedObjectContext *context = m_context;
        const ObjectID id = objectID();
        const ObjectID targetId = target->objectID();
        m_context->registerUndo([context, id, targetId, relationshipIndex, added] {
            ManagedObject *object = context->existingObject(id);
            ManagedObject *other = context->existingObject(targetId);
            if (object && other) {
                if (added)
                    object->removeFromMany(relationshipIndex, other);
                else
                    object->addToMany(relationshipIndex, other);
            }
        });
    }
    const int inverse = inverseIndex(relationshipIndex);
    if (added) {
        rawAddMember(relationshipIndex, target);
        if (inverse >= 0)
            target->rawAddMember(inverse, this, sourceIsNew && s.loaded);
    } else {
        rawRemoveMember(relationshipIndex, target);
        if (inverse >= 0)
            target->rawRemoveMember(inverse, this);
    }
    if (m_context)
        m_context->recordJoinChange(this, relationshipIndex, target, added);
}

void ManagedObject::severAllRelationships()
{
    for (int r = 0; r < m_relationships.size(); ++r) {
        const RelationshipDescription &relationship = m_entity->relationships[r];
        if (!relationship.toMany) {
            linkToOne(r, nullptr, false);
            continue;
        }
        const QList<ManagedObject *> members = toMany(r);
        const int inverse = inverseIndex(r);
        for (ManagedObject *member : members) {
            if (inverse >= 0 && !member->m_entity->relationships[inverse].toMany)
                member->linkToOne(inverse, nullptr, false);
            else
                linkMany(r, member, false, false);
        }
    }
}

QVariant ManagedObject::attributeValue(const QString &key) const
{
    const int a = m_entity->attributeIndex(key);
    return a >= 0 ? m_values[a] : QVariant();
}

QString ManagedObject::foldedAttributeValue(const QString &key) const
{
    const int a = m_entity->attributeIndex(key);
    if (a < 0 || !m_values[a].isValid())
        return QString();
    if (!(m_foldedValid & (1u << a))) {
        if (m_folded.isEmpty()) // most objects are never evaluated in memory
            m_folded.resize(m_values.size());
        m_folded[a] = foldForComparison(m_values[a].toString());
        m_foldedValid |= 1u << a;
    }
    return m_folded[a];
}

QList<const PredicateObject *> ManagedObject::relatedObjects(const QString &key) const
{
    QList<const PredicateObject *> result;
    const int r = m_entity->relationshipIndex(key);
    if (r < 0)
        return result;
    if (m_entity->relationships[r].toMany) {
        const QList<ManagedObject *> &members = toMany(r);
        result.reserve(members.size());
        for (const ManagedObject *member : members)
            result.append(member);
    } else if (const ManagedObject *target = toOne(r)) {
        result.append(target);
    }
    return result;
}

int ManagedObject::addObserver(const QString &key, std::function<void()> callback)
{
    static std::atomic<int> nextId{1};
    if (!m_observers)
        m_observers = std::make_unique<QList<Observer>>();
    const int id = nextId++;
    m_observers->append({id, key, std::move(callback)});
    return id;
}

void ManagedObject::removeObserver(int observerId)
{
    if (!m_observers)
        return;
    m_observers->removeIf([observerId](const Observer &o) { return o.id == observerId; });
}

void ManagedObject::notifyObservers(const QString &storedKey)
{
    if (!m_observers || m_observers->isEmpty())
        return;
    QStringList keys = keysAffectedBy(storedKey);
    keys.prepend(storedKey);
    const QList<Observer> observers = *m_observers;
    for (const Observer &observer : observers) {
        if (!keys.contains(observer.key))
            continue;
        // An observer removed by an earlier callback of this round is skipped.
        const bool stillThere = std::any_of(m_observers->cbegin(), m_observers->cend(),
                                            [&](const Observer &o) { return o.id == observer.id; });
        if (stillThere)
            observer.callback();
    }
}

QStringList ManagedObject::keysAffectedBy(const QString &) const
{
    return {};
}

QVariant ManagedObject::derivedValue(const QString &) const
{
    return {};
}

QString ManagedObject::description() const
{
    return QStringLiteral("%1 %2").arg(m_entity->name, objectID().toString());
}

} // namespace ovalis
