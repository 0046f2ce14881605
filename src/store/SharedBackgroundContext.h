#pragma once

#include <memory>

namespace ovalis {

class ManagedObjectContext;

// A private-queue context for long work (a child, or a background writer)
// that outlives the call starting it: the work and the callers share it, and
// it is deleted on the main thread, never on its own worker thread, whichever
// side lets go of it last.
class SharedBackgroundContext
{
public:
    // A child of parent; nullptr when parent is null.
    static std::shared_ptr<ManagedObjectContext> childOf(ManagedObjectContext *parent);
    // A background writer over target's store: its saves are written on its
    // own thread and then merged into target (see
    // ManagedObjectContext::setMergesSavesInto). It reads the store, not
    // target's unsaved state: save target first when that matters.
    static std::shared_ptr<ManagedObjectContext> writerFor(ManagedObjectContext *target);
};

} // namespace ovalis
