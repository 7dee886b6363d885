// The module (shared library or DLL) that holds an address: its full path, which registration
// writes for other processes.
#pragma once

#include <string>

#include "platform/Platform.h"

// The absolute path of the module that contains `address`; empty when it cannot be found.
PLATFORM_API std::wstring ModulePathOf(const void* address) noexcept;
