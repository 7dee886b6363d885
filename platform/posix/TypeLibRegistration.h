// Type library registration from a description compiled into the module.
//
// On Windows a module carries a binary type library (resource TYPELIB 1, or a ".tlb" beside
// it) and RegisterTypeLib reads the keys to write from it. Here there is no binary type
// library: the module describes its library in code (identity, version, names and the
// interfaces whose Interface keys registration writes), and these functions write and remove
// the same keys that RegisterTypeLib and UnRegisterTypeLib write and remove:
//
//   TypeLib\{LIBID}\<major>.<minor>            = help string, else the library's name
//   TypeLib\{LIBID}\<major>.<minor>\FLAGS      = the library flags, in decimal ("0")
//   TypeLib\{LIBID}\<major>.<minor>\<lcid>\win64 = the module's path
//   TypeLib\{LIBID}\<major>.<minor>\HELPDIR    = the help folder, else the module's folder
//   Interface\{IID}                            = the interface's name
//   Interface\{IID}\ProxyStubClsid, \ProxyStubClsid32
//                                  = {00020420-0000-0000-C000-000000000046} for a dispinterface,
//                                    {00020424-0000-0000-C000-000000000046} for an automation one
//   Interface\{IID}\TypeLib                    = {LIBID}, value "Version" = "<major>.<minor>"
//
// Version numbers and the lcid are written in hexadecimal, as Windows does ("1.0", "0").
// Machine-wide registration writes through HKEY_CLASSES_ROOT; per-user registration under
// HKEY_CURRENT_USER\Software\Classes.
#pragma once

#include <cstddef>

#include "platform/posix/Guid.h"

constexpr HRESULT TYPE_E_REGISTRYACCESS = MakeHResult(0x8002801Cu);

enum class TypeLibInterfaceKind {
    Dispatch,    // a dispinterface
    Automation,  // an oleautomation or dual interface
};

struct TypeLibInterface {
    IID iid;
    const wchar_t* name;
    TypeLibInterfaceKind kind;
};

struct TypeLibDescription {
    GUID libid;
    WORD majorVersion;
    WORD minorVersion;
    LCID lcid;
    const wchar_t* name;
    const wchar_t* helpString;  // may be null
    WORD flags;                 // LIBFLAGS
    // The interfaces that registration gives Interface keys: the dispinterfaces and the
    // oleautomation or dual interfaces (plain IUnknown-based interfaces get none).
    const TypeLibInterface* interfaces;
    std::size_t interfaceCount;
};

// Writes the keys above for the library of the module at `modulePath`; `helpDir` may be null.
// E_INVALIDARG without a module path or library name, TYPE_E_REGISTRYACCESS when a key cannot
// be written (what was written stays), E_OUTOFMEMORY.
PLATFORM_API HRESULT RegisterTypeLibDescription(const TypeLibDescription& library,
                                                LPCOLESTR modulePath, LPCOLESTR helpDir);
PLATFORM_API HRESULT RegisterTypeLibDescriptionForUser(const TypeLibDescription& library,
                                                       LPCOLESTR modulePath, LPCOLESTR helpDir);
// Removes the version's key, the library's key when no other version is left, and each
// Interface\{IID} key whose TypeLib names this library. TYPE_E_REGISTRYACCESS when the
// version was not registered (the Interface keys are removed all the same) or a key cannot be
// removed.
PLATFORM_API HRESULT UnRegisterTypeLibDescription(const TypeLibDescription& library);
PLATFORM_API HRESULT UnRegisterTypeLibDescriptionForUser(const TypeLibDescription& library);
