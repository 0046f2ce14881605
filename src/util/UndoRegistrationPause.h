#pragma once

namespace ovalis {

class UndoManager;

// Disables undo registration on an undo manager (when there is one) for
// its lifetime.
class UndoRegistrationPause
{
public:
    explicit UndoRegistrationPause(UndoManager *undoManager);
    ~UndoRegistrationPause();
    UndoRegistrationPause(const UndoRegistrationPause &) = delete;
    UndoRegistrationPause &operator=(const UndoRegistrationPause &) = delete;

private:
    UndoManager *m_undoManager; // Not owned.
};

} // namespace ovalis
