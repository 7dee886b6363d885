// Named mutexes across threads and processes (CreateMutexW, WaitForSingleObjectEx, ReleaseMutex,
// CloseHandle): the system's (platform/System.h).
#pragma once

#include "platform/System.h"
