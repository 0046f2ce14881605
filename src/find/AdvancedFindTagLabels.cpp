#include "find/AdvancedFindTagLabels.h"

#include <QCollatorSortKey>
#include <algorithm>

#include "store/ManagedObjectContext.h"
#include "store/SortDescriptor.h"
#include "store/Tag.h"
#include "util/TextFolding.h"

namespace ovalis {

QStringList AdvancedFindTagLabels::load(ManagedObjectContext &context)
{
    const QList<ManagedObject *> tags = context.arrayOfObjects(
        Tag::entityName(), Predicate::fromFormat(QStringLiteral("label != nil")),
        {{QStringLiteral("label"), true, SortDescriptor::Comparator::LocalizedCaseInsensitive}});
    QStringList labels;
    labels.reserve(tags.size());
    for (const ManagedObject *tag : tags)
        labels << static_cast<const Tag *>(tag)->label();
    return labels;
}

QString AdvancedFindTagLabels::completion(const QStringList &sortedLabels, const QString &typed)
{
    if (typed.isEmpty())
        return {};
    const QString prefix = foldForComparison(typed);
    for (const QString &label : sortedLabels)
        if (foldForComparison(label).startsWith(prefix))
            return label;
    return {};
}

} // namespace ovalis
