// Object creation: the process's class table (CoRegisterClassObject) and CoCreateInstance.
#pragma once

#include "platform/posix/Unknown.h"

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_ALL = 0x17;

constexpr DWORD REGCLS_SINGLEUSE = 0;
constexpr DWORD REGCLS_MULTIPLEUSE = 1;

constexpr DWORD COINIT_MULTITHREADED = 0x0;
constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;
constexpr HRESULT RPC_E_CHANGED_MODE = MakeHResult(0x80010106u);

extern "C" {
// COM for the calling thread. There are no apartments here: the calls only count, as Windows
// does, so that hosts pair them as on Windows. S_OK on a thread's first call, S_FALSE on later
// ones with the same model, RPC_E_CHANGED_MODE (and no count) for the other model.
PLATFORM_API HRESULT CoInitializeEx(void* reserved, DWORD model);
// Undoes one successful CoInitializeEx of the calling thread.
PLATFORM_API void CoUninitialize();
// Finds the class object of `clsid`: first among the class objects registered in this process,
// then through the registry: the default value of HKEY_CLASSES_ROOT\CLSID\{clsid}\InprocServer32
// names the module, which is loaded (dlopen, RTLD_NOW | RTLD_LOCAL) and asked through its
// exported DllGetClassObject. CLSCTX_INPROC_SERVER must be in `context`. Results:
// REGDB_E_CLASSNOTREG without such a key or value (or another context), REGDB_E_READREGDB
// when the registry cannot be read, CO_E_DLLNOTFOUND when the module cannot be loaded,
// CO_E_ERRORINDLL when it has no DllGetClassObject; otherwise what DllGetClassObject answers.
// Modules stay loaded for the life of the process (there is no CoFreeUnusedLibraries); the
// threading model of the registration is not looked at (there are no apartments here).
PLATFORM_API HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* reserved, REFIID riid,
                                      void** ppv);
// Creates an object through its class object. *ppv is null on failure.
PLATFORM_API HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid,
                                      void** ppv);
// Registers a class object for this process; the table holds a reference until revoked.
PLATFORM_API HRESULT CoRegisterClassObject(REFCLSID clsid, IUnknown* classObject, DWORD context,
                                           DWORD flags, DWORD* cookie);
PLATFORM_API HRESULT CoRevokeClassObject(DWORD cookie);
// The ProgID of a class: the default value of HKEY_CLASSES_ROOT\CLSID\{clsid}\ProgID, in task
// memory that the caller frees with CoTaskMemFree. REGDB_E_CLASSNOTREG when there is none,
// E_INVALIDARG for a null `progId`, E_OUTOFMEMORY; *progId is null on failure.
PLATFORM_API HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progId);
// Task memory: what ProgIDFromCLSID and similar calls hand to their callers.
PLATFORM_API void* CoTaskMemAlloc(std::size_t bytes);
PLATFORM_API void CoTaskMemFree(void* block);
}
