#include "exchange/TagsByLabel.h"

#include "store/Case.h"
#include "store/ManagedObjectContext.h"
#include "store/Tag.h"

namespace ovalis {

TagsByLabel::TagsByLabel(ManagedObjectContext *context)
    : m_context(context)
{
}

void TagsByLabel::load()
{
    if (m_loaded)
        return;
    // In fetch order, so that the first tag of a label is the one kept.
    for (ManagedObject *object : m_context->arrayOfObjects(Tag::entityName())) {
        auto *tag = static_cast<Tag *>(object);
        if (!tag->label().isNull() && !m_tags.contains(tag->label()))
            m_tags.insert(tag->label(), tag->objectID());
    }
    m_loaded = true;
}

void TagsByLabel::prepare(const QSet<QString> &labels)
{
    load();
    QList<ObjectID> ids;
    for (const QString &label : labels)
        if (const auto known = m_tags.constFind(label); known != m_tags.cend())
            ids.append(known.value());
    m_context->registerExistingObjects(ids);
}

Tag *TagsByLabel::tagWithLabel(const QString &label)
{
    load();
    if (const auto known = m_tags.constFind(label); known != m_tags.cend())
        if (auto *tag = static_cast<Tag *>(m_context->existingObject(known.value())))
            return tag;
    auto *tag = m_context->insertNew<Tag>();
    tag->setLabel(label);
    m_created.append(tag->objectID());
    m_tags.insert(label, tag->objectID());
    return tag;
}

QList<Tag *> TagsByLabel::createdTags() const
{
    QList<Tag *> tags;
    for (const ObjectID &id : m_created)
        if (auto *tag = static_cast<Tag *>(m_context->existingObject(id)))
            tags.append(tag);
    return tags;
}

Tag *TagsByLabel::attach(Case *item, const QString &label)
{
    Tag *tag = tagWithLabel(label);
    tag->addToCases(item);
    return tag;
}

} // namespace ovalis
