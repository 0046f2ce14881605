#pragma once

#include <memory>

namespace ovalis {

class CoreDataStack;
class ManagedObjectContext;

// A private-queue child of the main context for long work that outlives the
// call starting it: the work and the callers share it, and it is deleted on
// the main thread, never on its own worker thread, whichever side lets go
// of it last.
class SharedBackgroundContext
{
public:
    // nullptr when the stack has no main context.
    static std::shared_ptr<ManagedObjectContext> make(CoreDataStack &stack);
};

} // namespace ovalis
