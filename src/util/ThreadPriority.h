#pragma once

namespace ovalis {

// How far background threads stand back: at niceness 10 a thread gets about
// a tenth of a processor that the window's thread also wants, and all of an
// idle one.
constexpr int backgroundNiceness = 10;

// Lowers the calling thread (not its process) to the given niceness, so that
// it yields the processors to the window whenever the window has work.
void lowerCurrentThreadPriority(int niceness = backgroundNiceness);

} // namespace ovalis
