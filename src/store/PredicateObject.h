#pragma once

#include <QList>
#include <QString>
#include <QVariant>

#include "store/EntityDescription.h"

namespace ovalis {

// What the in-memory predicate evaluator needs of a record. The store's
// ManagedObject implements it; tests may implement it with plain structs.
class PredicateObject
{
public:
    virtual ~PredicateObject() = default;

    virtual const EntityDescription &entityDescription() const = 0;

    // The stored value of an attribute: QString, int, bool or QDateTime; an
    // invalid QVariant when the value is absent or the key is no attribute.
    virtual QVariant attributeValue(const QString &key) const = 0;

    // foldForComparison(attributeValue(key).toString()), possibly cached.
    // Null QString when the value is absent.
    virtual QString foldedAttributeValue(const QString &key) const = 0;

    // The objects a relationship leads to: every member of a to-many
    // relationship, zero or one for a to-one relationship.
    virtual QList<const PredicateObject *> relatedObjects(const QString &key) const = 0;
};

} // namespace ovalis
