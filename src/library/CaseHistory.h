#pragma once

#include <QList>

namespace ovalis {

class Case;

// The cases whose media the user opened most recently, oldest first, each
// at most once; the History menu lists them. Lives for one run and is not
// saved. Used on the main thread.
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

    int count() const { return m_stack.size(); }
    // Position 0 is the oldest entry; nullptr outside the history.
    Case *at(int position) const { return m_stack.value(position, nullptr); }
    const QList<Case *> &cases() const { return m_stack; }

private:
    QList<Case *> m_stack; // Not owned: records of the main context.
};

} // namespace ovalis
