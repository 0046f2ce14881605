#pragma once

#include <QList>

#include "library/CaseReference.h"

namespace ovalis {

class Case;

// The cases whose media the user opened most recently, oldest first, each
// at most once; the History menu lists them. Lives for one run and is not
// saved. Used on the main thread.
//
// A case deleted from the library stays an entry until the next push or
// removeDeletedCases(), but at() no longer answers it.
class CaseHistory
{
public:
    static constexpr int limit = 10;

    // The application's history, made on first use.
    static CaseHistory &shared();

    // Makes item the newest entry: an earlier entry of it is removed, and
    // the oldest ones go so that at most `limit` remain.
    void push(Case *item);
    void clear();
    // Drops the entries whose case has been deleted or whose library is gone.
    void removeDeletedCases();

    int count() const { return m_stack.size(); }
    // Position 0 is the oldest entry; nullptr outside the history and for a
    // case deleted since it was pushed.
    Case *at(int position) const;
    // Every entry, oldest first; nullptr for one whose library is gone.
    QList<Case *> cases() const;

private:
    QList<CaseReference> m_stack;
};

} // namespace ovalis
