#include "exchange/CaseRelations.h"

#include <algorithm>

#include "store/Case.h"
#include "store/FetchRequest.h"
#include "store/ManagedObjectContext.h"
#include "store/Media.h"
#include "store/Tag.h"

namespace ovalis {

CaseRelations CaseRelations::gather(ManagedObjectContext *context)
{
    CaseRelations relations;
    for (ManagedObject *object : context->arrayOfObjects(Tag::entityName())) {
        const auto *tag = static_cast<const Tag *>(object);
        const QString label = tag->label();
        for (const Case *item : tag->cases())
            relations.labels[item].append(label);
    }
    FetchRequest request{Media::entityName()};
    request.unordered = true;
    for (ManagedObject *object : context->executeFetch(request)) {
        auto *media = static_cast<Media *>(object);
        if (const Case *item = media->itsCase())
            relations.media[item].append(media);
    }
    for (QList<Media *> &list : relations.media)
        std::stable_sort(list.begin(), list.end(),
                         [](const Media *a, const Media *b) { return a->orderIndex() < b->orderIndex(); });
    return relations;
}

EncodedCase CaseRelations::encoded(const Case *item) const
{
    return EncodedCase::fromCase(item, labels.value(item), media.value(item));
}

} // namespace ovalis
