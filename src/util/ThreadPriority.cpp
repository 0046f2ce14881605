#include "util/ThreadPriority.h"

#include <sys/resource.h>
#include <unistd.h>

namespace ovalis {

void lowerCurrentThreadPriority(int niceness)
{
    // On Linux a thread is a task of its own, with a niceness of its own.
    ::setpriority(PRIO_PROCESS, ::gettid(), niceness);
}

} // namespace ovalis
