// Named mutexes across threads and processes. A name maps to a lock file in a per-user lock
// folder ($XDG_RUNTIME_DIR, else the system temporary folder, then "zev-locks-<uid>"), held
// with flock, so that the lock dies with its process. Within a process the mutex belongs to
// one thread at a time and the owning thread may wait on it again (recursion), as on Windows.
#pragma once

#include "platform/Types.h"

constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_ABANDONED = 0x80;
constexpr DWORD WAIT_TIMEOUT = 0x102;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

extern "C" {
// Creates or opens the mutex called `name` (not owned unless `initialOwner`). Null when the name
// is null, empty or cannot be a lock file name (it holds a path separator), or on failure.
PLATFORM_API HANDLE CreateMutexW(void* securityAttributes, BOOL initialOwner, const wchar_t* name);
// WAIT_OBJECT_0 once the calling thread owns the mutex; WAIT_TIMEOUT; WAIT_FAILED for a bad
// handle. `milliseconds` INFINITE waits for ever.
PLATFORM_API DWORD WaitForSingleObjectEx(HANDLE handle, DWORD milliseconds, BOOL alertable);
// Gives up one level of ownership; FALSE when the calling thread does not own it.
PLATFORM_API BOOL ReleaseMutex(HANDLE handle);
// Closes a handle made by CreateMutexW.
PLATFORM_API BOOL CloseHandle(HANDLE handle);
}
