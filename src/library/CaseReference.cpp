#include "library/CaseReference.h"

#include "store/Case.h"
#include "store/ManagedObjectContext.h"

namespace ovalis {

CaseReference::CaseReference(Case *item)
    : m_case(item)
    , m_context(item ? item->managedObjectContext() : nullptr)
{
}

Case *CaseReference::get() const
{
    return m_context ? m_case : nullptr;
}

bool CaseReference::isLive() const
{
    const Case *item = get();
    return item && !item->isDeleted() && item->managedObjectContext() == m_context;
}

QList<Case *> CaseReference::cases(const QList<CaseReference> &references)
{
    QList<Case *> result;
    result.reserve(references.size());
    for (const CaseReference &reference : references)
        result.append(reference.get());
    return result;
}

} // namespace ovalis
