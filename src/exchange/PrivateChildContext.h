#pragma once

#include <functional>
#include <memory>

namespace ovalis {

class ManagedObjectContext;

// A private-queue child of parent for one long run. The context is deleted
// on the main thread, never on its own worker thread, whichever holder lets
// go of it last, so a block running on it may keep it alive.
std::shared_ptr<ManagedObjectContext> makePrivateChildContext(ManagedObjectContext *parent);

// Runs work on the main thread, later.
void runOnMainThread(std::function<void()> work);

} // namespace ovalis
