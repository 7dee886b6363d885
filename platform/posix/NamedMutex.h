// Named mutexes across threads and processes. A name maps to a lock file in a per-user lock
// folder ($XDG_RUNTIME_DIR, else /tmp, then "zev-locks-<uid>", which must be a folder of the
// user's own and is made private), held with flock, so that the lock dies with its process.
// Within a process the mutex belongs to one thread at a time and the owning thread may wait on
// it again (recursion), as on Windows.
//
// Differences from Windows:
//  - WAIT_ABANDONED is never returned: the lock of a process that died is simply free, and a
//    thread that ends while owning the mutex keeps it owned until its process ends.
//  - A process made by fork owns nothing of its parent's: its handles (inherited or new) refer to
//    the name afresh, and its copies of the parent's lock files are closed at the fork.
//  - An unnamed mutex (null name) is not supported.
#pragma once

#include "platform/posix/Types.h"

constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_ABANDONED = 0x80;
constexpr DWORD WAIT_TIMEOUT = 0x102;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

extern "C" {
// Creates or opens the mutex called `name`. With `initialOwner` the calling thread takes
// ownership when that is possible without waiting; otherwise the handle is returned unowned
// (Windows gives ownership only to the creator of a new mutex). Null when the name is null,
// empty, ".", "..", holds a '/' or is longer than 240 UTF-8 bytes, or when the lock folder
// cannot be made or is not safe.
PLATFORM_API HANDLE CreateMutexW(void* securityAttributes, BOOL initialOwner, const wchar_t* name);
// WAIT_OBJECT_0 once the calling thread owns the mutex (again, for its owner); WAIT_TIMEOUT when
// `milliseconds` pass first (INFINITE waits for ever, 0 only tries); WAIT_FAILED for a null
// handle or a lock file that cannot be opened. `alertable` is ignored.
PLATFORM_API DWORD WaitForSingleObjectEx(HANDLE handle, DWORD milliseconds, BOOL alertable);
// Gives up one level of ownership; FALSE when the calling thread does not own it.
PLATFORM_API BOOL ReleaseMutex(HANDLE handle);
// Closes a handle made by CreateMutexW (the only kind of handle here). Closing the last handle
// of a name in the process gives up any ownership of it.
PLATFORM_API BOOL CloseHandle(HANDLE handle);
}
