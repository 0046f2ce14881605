#include "util/UndoRegistrationPause.h"

#include "util/UndoManager.h"

namespace ovalis {

UndoRegistrationPause::UndoRegistrationPause(UndoManager *undoManager)
    : m_undoManager(undoManager)
{
    if (m_undoManager)
        m_undoManager->disableUndoRegistration();
}

UndoRegistrationPause::~UndoRegistrationPause()
{
    if (m_undoManager)
        m_undoManager->enableUndoRegistration();
}

} // namespace ovalis
