#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QVariant>

#include "store/EntityDescription.h"
#include "store/PredicateObject.h"

namespace ovalis {

// A record held in plain containers, for evaluating predicates in tests.
class PredicateTestObject : public PredicateObject
{
public:
    PredicateTestObject(const EntityDescription &entity, qint64 pk);

    qint64 pk() const { return m_pk; }
    void setValue(const QString &key, const QVariant &value);
    void addRelated(const QString &key, const PredicateTestObject *object);

    const EntityDescription &entityDescription() const override { return *m_entity; }
    QVariant attributeValue(const QString &key) const override;
    QString foldedAttributeValue(const QString &key) const override;
    QList<const PredicateObject *> relatedObjects(const QString &key) const override;

private:
    const EntityDescription *m_entity; // Not owned.
    qint64 m_pk;
    QHash<QString, QVariant> m_values;
    QHash<QString, QList<const PredicateObject *>> m_related; // Not owned.
};

} // namespace ovalis
