#include "library/CaseTagTokens.h"

#include <QSet>
#include <algorithm>

#include "store/Case.h"
#include "store/ManagedObjectContext.h"
#include "store/Tag.h"

namespace ovalis {

QStringList CaseTagTokens::completions(Case *currentCase, const QString &substring, const QStringList &tokens)
{
    if (substring.size() < minimumCompletionLength || !currentCase || !currentCase->managedObjectContext())
        return {};
    ManagedObjectContext *context = currentCase->managedObjectContext();

    struct Candidate {
        QString label; // null when the tag has none
        qsizetype caseCount;
    };
    QList<Candidate> candidates;
    for (ManagedObject *object :
         context->arrayOfObjects(Tag::entityName(), Predicate::fromFormat(QStringLiteral("label BEGINSWITH[cd] %@"), {substring}))) {
        const auto *tag = static_cast<const Tag *>(object);
        candidates.append({tag->label(), tag->cases().size()});
    }
    // By label, then by use: the second sort keeps the label order among
    // tags used equally often.
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate &a, const Candidate &b) { return a.label < b.label; });
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate &a, const Candidate &b) { return a.caseCount > b.caseCount; });

    const QSet<QString> present(tokens.cbegin(), tokens.cend());
    QStringList labels;
    for (const Candidate &candidate : std::as_const(candidates))
        if (!candidate.label.isNull() && !present.contains(candidate.label))
            labels.append(candidate.label);
    return labels;
}

Tag *CaseTagTokens::firstTagWithLabel(ManagedObjectContext *context, const QString &label)
{
    if (!context)
        return nullptr;
    const QList<ManagedObject *> tags =
        context->arrayOfObjects(Tag::entityName(), Predicate::fromFormat(QStringLiteral("label == %@"), {label}));
    return tags.isEmpty() ? nullptr : static_cast<Tag *>(tags.first());
}

void CaseTagTokens::synchroniseTags(Case *item, const QStringList &tokens)
{
    ManagedObjectContext *context = item ? item->managedObjectContext() : nullptr;
    if (!context || item->isDeleted())
        return;
    QSet<QString> current;
    for (const Tag *tag : item->tags())
        if (!tag->label().isNull())
            current.insert(tag->label());
    const QSet<QString> wanted(tokens.cbegin(), tokens.cend());

    // The case leaves its own tags of a dropped label: when two tags share
    // the label, the first one in the store need not be the one it carries.
    const QSet<QString> removed = current - wanted;
    for (Tag *tag : item->tags())
        if (removed.contains(tag->label()))
            tag->removeFromCases(item);
    // Sorted, so that new tags are made in a repeatable order.
    QStringList added = (wanted - current).values();
    added.sort();
    for (const QString &label : std::as_const(added)) {
        Tag *tag = firstTagWithLabel(context, label);
        if (!tag) {
            tag = context->insertNew<Tag>();
            tag->setLabel(label);
        }
        tag->addToCases(item);
    }
}

bool CaseTagTokens::activateTag(ManagedObjectContext *context, const QString &label)
{
    Tag *tag = firstTagWithLabel(context, label);
    if (!tag)
        return false;
    tag->setActive(true);
    return true;
}

} // namespace ovalis
