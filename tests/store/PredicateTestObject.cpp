#include "PredicateTestObject.h"

#include "util/TextFolding.h"

namespace ovalis {

PredicateTestObject::PredicateTestObject(const EntityDescription &entity, qint64 pk)
    : m_entity(&entity)
    , m_pk(pk)
{
}

void PredicateTestObject::setValue(const QString &key, const QVariant &value)
{
    m_values.insert(key, value);
}

void PredicateTestObject::addRelated(const QString &key, const PredicateTestObject *object)
{
    m_related[key].append(object);
}

QVariant PredicateTestObject::attributeValue(const QString &key) const
{
    return m_values.value(key);
}

QString PredicateTestObject::foldedAttributeValue(const QString &key) const
{
    const QVariant value = m_values.value(key);
    return value.isValid() ? foldForComparison(value.toString()) : QString();
}

QList<const PredicateObject *> PredicateTestObject::relatedObjects(const QString &key) const
{
    return m_related.value(key);
}

} // namespace ovalis
