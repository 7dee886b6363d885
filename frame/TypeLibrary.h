// Registration of the module's type library zevflashfile5Lib (version 1.0, language neutral).
// On Windows the library is the module's resource TYPELIB 1, compiled by widl from
// frame/zevflashfile5.idl, and registered with RegisterTypeLib (RegisterTypeLibForUser, looked
// up in oleaut32 at run time, per user); on the stand-in it is described in code and its keys
// are written from that description (frame/posix/TypeLibrary.cpp).
#pragma once

#include <string>

#include "platform/Types.h"

// Registers the library of the module at `modulePath`; per user under
// HKEY_CURRENT_USER\Software\Classes. On Windows, when the module's resource cannot be loaded,
// the same path with the extension ".tlb" is tried.
HRESULT RegisterModuleTypeLib(const std::wstring& modulePath, bool perUser) noexcept;
// Removes the registration; unregistering a library that is not registered is a failure
// (TYPE_E_REGISTRYACCESS), as on Windows.
HRESULT UnregisterModuleTypeLib(bool perUser) noexcept;
