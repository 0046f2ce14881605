#include "exchange/TagsByLabel.h"

#include "store/Case.h"
#include "store/ManagedObjectContext.h"
#include "store/Tag.h"

namespace ovalis {

TagsByLabel::TagsByLabel(ManagedObjectContext *context)
    : m_context(context)
{
}

Tag *TagsByLabel::tagWithLabel(const QString &label)
{
    if (!m_loaded) {
        // In fetch order, so that the first tag of a label is the one kept.
        for (ManagedObject *object : m_context->arrayOfObjects(Tag::entityName())) {
            auto *tag = static_cast<Tag *>(object);
            if (!tag->label().isNull() && !m_tags.contains(tag->label()))
                m_tags.insert(tag->label(), tag);
        }
        m_loaded = true;
    }
    if (Tag *known = m_tags.value(label))
        return known;
    auto *tag = m_context->insertNew<Tag>();
    tag->setLabel(label);
    m_created.insert(tag);
    m_tags.insert(label, tag);
    return tag;
}

Tag *TagsByLabel::attach(Case *item, const QString &label)
{
    Tag *tag = tagWithLabel(label);
    tag->addToCases(item);
    return tag;
}

} // namespace ovalis
