#pragma once

#include <QHashFunctions>
#include <QMetaType>
#include <QString>

namespace ovalis {

// Identifies a record across contexts and threads. A record inserted and not
// yet saved has a temporary identifier (negative key, unique in the process);
// after its first save it also has a permanent one (its primary key). Either
// finds the record in the context that holds it; the permanent one finds it in
// any context of the same store.
struct ObjectID {
    int entity = -1; // index into ManagedObjectModel::entities()
    qint64 key = 0;

    bool isNull() const { return entity < 0 || key == 0; }
    bool isTemporary() const { return key < 0; }
    QString toString() const;

    friend bool operator==(const ObjectID &a, const ObjectID &b) { return a.entity == b.entity && a.key == b.key; }
    friend bool operator!=(const ObjectID &a, const ObjectID &b) { return !(a == b); }
    friend bool operator<(const ObjectID &a, const ObjectID &b)
    {
        return a.entity != b.entity ? a.entity < b.entity : a.key < b.key;
    }
};

inline size_t qHash(const ObjectID &id, size_t seed = 0) noexcept
{
    return qHashMulti(seed, id.entity, id.key);
}

} // namespace ovalis

Q_DECLARE_METATYPE(ovalis::ObjectID)
