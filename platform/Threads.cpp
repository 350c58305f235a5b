#include "platform/Threads.h"

#include <malloc.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace platform {

int CurrentThreadId() { return static_cast<int>(::gettid()); }

bool SetThreadPriority(int threadId, int priority) {
    // Each step of the server's scale is five nice levels.
    const int nice = priority <= -1 ? 5 : priority == 0 ? 0 : priority == 1 ? -5 : -10;
    return ::setpriority(PRIO_PROCESS, static_cast<id_t>(threadId), nice) == 0;
}

void SetCurrentThreadName(const char* name) { ::pthread_setname_np(::pthread_self(), name); }

namespace {

// The libraries a serving server does not run: the registry's database
// engine works at start-up and on a reload only.
constexpr const char* kIdleLibraries[] = {"libsqlite3"};

// Lets the system take back the pages of those libraries that this process
// holds (they are read again from the file the next time they run).
void ReleaseIdleLibraryPages() {
    std::FILE* maps = std::fopen("/proc/self/maps", "re");
    if (!maps) return;
    char line[512];
    while (std::fgets(line, sizeof line, maps)) {
        unsigned long start = 0, end = 0;
        char permissions[8] = {};
        if (std::sscanf(line, "%lx-%lx %7s", &start, &end, permissions) != 3) continue;
        // Pages the process wrote to are its own data, not the library's.
        if (permissions[1] == 'w') continue;
        for (const char* library : kIdleLibraries) {
            if (!std::strstr(line, library)) continue;
            ::madvise(reinterpret_cast<void*>(start), end - start, MADV_PAGEOUT);
        }
    }
    std::fclose(maps);
}

}  // namespace

void ReleaseFreeMemory() {
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // (A sanitizer's allocator keeps memory of its own: the C library's
    // trim would walk heaps that allocator shares no lock with.)
    ::malloc_trim(0);
#endif
    ReleaseIdleLibraryPages();
}

}  // namespace platform
