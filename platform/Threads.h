#pragma once
// Thread identity and scheduling priority, and the memory threads leave.

namespace platform {

// The calling thread's system id.
int CurrentThreadId();

// Relative thread priorities as the server names them: -1 below normal,
// 0 normal, +1 above normal, +2 highest. On this system a priority is a
// nice value of the thread; raising it above normal needs privileges, so
// this is best effort: false when the system refused.
bool SetThreadPriority(int threadId, int priority);

// A short name shown by ps and debuggers (at most 15 characters kept).
void SetCurrentThreadName(const char* name);

// Gives the memory that threads have freed back to the system (the
// allocator keeps it for reuse otherwise), and the pages of libraries that
// only start-up and reloads run: for a server that has gone quiet.
void ReleaseFreeMemory();

}  // namespace platform
