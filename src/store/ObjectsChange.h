#pragma once

#include <QHash>
#include <QMetaType>
#include <QList>
#include <QSet>
#include <QString>

namespace ovalis {

class ManagedObject;

// One batch of changes of a context: what its objects-did-change and
// did-save signals carry. Objects are those of the context that emits it.
struct ObjectsChange {
    QList<ManagedObject *> inserted;
    QList<ManagedObject *> updated;
    QList<ManagedObject *> deleted;
    // The keys changed on each updated object (attributes and relationships).
    QHash<ManagedObject *, QSet<QString>> changedKeys;

    bool isEmpty() const { return inserted.isEmpty() && updated.isEmpty() && deleted.isEmpty(); }
};

} // namespace ovalis

Q_DECLARE_METATYPE(ovalis::ObjectsChange)
