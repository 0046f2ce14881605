#pragma once

#include <QString>
#include <QVector>

#include "store/ObjectSnapshot.h"

namespace ovalis {

// The unsaved work of a context, as it is written to the store or pushed
// into the parent context.
struct ContextChanges {
    struct Record {
        ObjectSnapshot snapshot; // the full current state
        bool inserted = false;
        quint32 changedMask = 0; // attribute bits, relationship bits from bit 16
    };
    struct JoinChange {
        int entity = -1;       // the entity owning the relationship (its join source)
        int relationship = -1; // index of the relationship in that entity
        ObjectID source;
        ObjectID destination;
        bool added = false;
    };

    QVector<Record> records;     // inserted and updated objects
    QVector<ObjectID> deleted;   // deleted objects that exist in the source
    QVector<JoinChange> joins;   // many-to-many links added or removed
    QString author;
    QString contextName;

    bool isEmpty() const { return records.isEmpty() && deleted.isEmpty() && joins.isEmpty(); }
};

// A save that a context wrote to the store itself, as another context over
// the same store takes it in: permanent identifiers throughout. A
// many-to-many link added or removed is one of joins (its records also show
// the relationship changed).
struct SavedChanges {
    quint64 sequence = 0; // the save's number among the store's saves
    QVector<ContextChanges::Record> records;
    QVector<ContextChanges::JoinChange> joins;
    QVector<ObjectID> deleted;
};

} // namespace ovalis
