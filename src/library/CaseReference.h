#pragma once

#include <QList>
#include <QPointer>

namespace ovalis {

class Case;
class ManagedObjectContext;

// A case held by a list that outlives no context but is not told when one
// goes away (the case history, the randomiser). A context owns its objects
// until it is destroyed, deleted ones included, so the case can be read for
// as long as the context that held it when the reference was made exists.
class CaseReference
{
public:
    explicit CaseReference(Case *item);

    // The case, or nullptr once its context has been destroyed.
    Case *get() const;
    // Whether the case is still a record of its context: not deleted, and
    // not deleted and saved.
    bool isLive() const;

    // get() of each, in order.
    static QList<Case *> cases(const QList<CaseReference> &references);

private:
    Case *m_case; // Not owned: an object of m_context.
    QPointer<ManagedObjectContext> m_context;
};

} // namespace ovalis
