#include "library/CaseHistory.h"

namespace ovalis {

CaseHistory &CaseHistory::shared()
{
    static CaseHistory history;
    return history;
}

void CaseHistory::push(Case *item)
{
    removeDeletedCases();
    m_stack.removeIf([item](const CaseReference &entry) { return entry.get() == item; });
    if (m_stack.size() >= limit - 1)
        m_stack = m_stack.mid(m_stack.size() - (limit - 1));
    m_stack.append(CaseReference(item));
}

void CaseHistory::clear()
{
    m_stack.clear();
}

void CaseHistory::removeDeletedCases()
{
    m_stack.removeIf([](const CaseReference &entry) { return !entry.isLive(); });
}

Case *CaseHistory::at(int position) const
{
    if (position < 0 || position >= m_stack.size() || !m_stack[position].isLive())
        return nullptr;
    return m_stack[position].get();
}

QList<Case *> CaseHistory::cases() const
{
    return CaseReference::cases(m_stack);
}

} // namespace ovalis
