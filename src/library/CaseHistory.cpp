#include "library/CaseHistory.h"

namespace ovalis {

CaseHistory &CaseHistory::shared()
{
    static CaseHistory history;
    return history;
}

void CaseHistory::push(Case *item)
{
    m_stack.removeOne(item);
    if (m_stack.size() >= limit - 1)
        m_stack = m_stack.mid(m_stack.size() - (limit - 1));
    m_stack.append(item);
}

void CaseHistory::clear()
{
    m_stack.clear();
}

} // namespace ovalis
