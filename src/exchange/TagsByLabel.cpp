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
    if (Tag *known = m_tags.value(label))
        return known;
    const QList<ManagedObject *> found = m_context->arrayOfObjects(
        Tag::entityName(), Predicate::fromFormat(QStringLiteral("label == %@"), {label}), {}, 1);
    auto *tag = found.isEmpty() ? nullptr : static_cast<Tag *>(found.first());
    if (!tag) {
        tag = m_context->insertNew<Tag>();
        tag->setLabel(label);
        m_created.insert(tag);
    }
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
