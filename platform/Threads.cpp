#include "platform/Threads.h"

#include <malloc.h>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

namespace platform {

int CurrentThreadId() { return static_cast<int>(::gettid()); }

bool SetThreadPriority(int threadId, int priority) {
    // Each step of the server's scale is five nice levels.
    const int nice = priority <= -1 ? 5 : priority == 0 ? 0 : priority == 1 ? -5 : -10;
    return ::setpriority(PRIO_PROCESS, static_cast<id_t>(threadId), nice) == 0;
}

void SetCurrentThreadName(const char* name) { ::pthread_setname_np(::pthread_self(), name); }

void ReleaseFreeMemory() { ::malloc_trim(0); }

}  // namespace platform
