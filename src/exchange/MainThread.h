#pragma once

#include <functional>

namespace ovalis {

// Runs work on the main thread, later.
void runOnMainThread(std::function<void()> work);

} // namespace ovalis
