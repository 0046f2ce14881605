#pragma once

#include <QVariant>
#include <QVector>

#include "store/ObjectID.h"

namespace ovalis {

// A record's stored state as one context or the store sees it: attribute
// values by attribute index and, for to-one relationships, the target's
// identifier by relationship index (null for to-many slots and no target;
// the list may be empty for an entity without to-one relationships).
struct ObjectSnapshot {
    ObjectID id;
    QVector<QVariant> attributes;
    QVector<ObjectID> toOne;
};

} // namespace ovalis
