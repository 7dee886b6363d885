#include "platform/Com.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/Registry.h"
#include "platform/posix/RegistryHive.h"
#include "platform/TextConvert.h"

namespace {
struct RegisteredClass {
    CLSID clsid;
    ComPtr<IUnknown> classObject;
    DWORD cookie;
};

// The process's class table. Entries are found newest first, so a later registration of the
// same class hides an earlier one until it is revoked.
struct ClassTable {
    std::mutex lock;
    std::vector<RegisteredClass> entries;
    DWORD nextCookie = 1;
};

ClassTable& Table() {
    static ClassTable* table = new ClassTable;  // never destroyed: objects may outlive main
    return *table;
}

ComPtr<IUnknown> FindRegistered(REFCLSID clsid) {
    ClassTable& table = Table();
    std::lock_guard guard(table.lock);
    for (auto it = table.entries.rbegin(); it != table.entries.rend(); ++it) {
        if (it->clsid == clsid) return it->classObject;
    }
    return nullptr;
}

// Modules loaded for their class objects, by path. They are never unloaded: an object or class
// object of a module may be alive anywhere in the process, and nothing here tracks that.
struct LoadedModules {
    std::mutex lock;
    std::map<std::string, void*> handles;
};

LoadedModules& Modules() {
    static LoadedModules* modules = new LoadedModules;  // never destroyed, like the modules
    return *modules;
}

void* LoadModule(const std::string& path) {
    LoadedModules& modules = Modules();
    {
        std::lock_guard guard(modules.lock);
        auto it = modules.handles.find(path);
        if (it != modules.handles.end()) return it->second;
    }
    // Loaded without the lock: the module's initialisers may create objects themselves.
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return nullptr;
    std::lock_guard guard(modules.lock);
    // A second load of the same path returns the same handle; one entry keeps it.
    modules.handles.emplace(path, handle);
    return handle;
}

// HKEY_CLASSES_ROOT\CLSID\{clsid}\<leaf>: its default value as an HRESULT-level result.
HRESULT ReadClassValue(REFCLSID clsid, const wchar_t* leaf, std::wstring& value) {
    wchar_t text[39];
    StringFromGUID2(clsid, text, 39);
    const std::wstring subKey = std::wstring(L"CLSID\\") + text + L"\\" + leaf;
    const LONG status =
        registry_detail::QueryStringValue(HKEY_CLASSES_ROOT, subKey.c_str(), nullptr, value);
    if (status == ERROR_SUCCESS) return S_OK;
    if (status == ERROR_NOT_ENOUGH_MEMORY) return E_OUTOFMEMORY;
    if (status == ERROR_FILE_NOT_FOUND || status == ERROR_INVALID_DATA) return REGDB_E_CLASSNOTREG;
    return REGDB_E_READREGDB;
}

using DllGetClassObjectFunction = HRESULT (*)(REFCLSID, REFIID, void**);

HRESULT GetRegisteredClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    std::wstring modulePath;
    HRESULT hr = ReadClassValue(clsid, L"InprocServer32", modulePath);
    if (FAILED(hr)) return hr;
    // An empty path would make dlopen hand back the program itself.
    if (modulePath.empty()) return CO_E_DLLNOTFOUND;
    void* module = LoadModule(WideToUtf8(modulePath));
    if (module == nullptr) return CO_E_DLLNOTFOUND;
    auto entry = reinterpret_cast<DllGetClassObjectFunction>(::dlsym(module, "DllGetClassObject"));
    if (entry == nullptr) return CO_E_ERRORINDLL;
    hr = entry(clsid, riid, ppv);
    if (FAILED(hr)) *ppv = nullptr;
    return hr;
}
}  // namespace

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* /*reserved*/, REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if ((context & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)) == 0) return REGDB_E_CLASSNOTREG;
    if (ComPtr<IUnknown> registered = FindRegistered(clsid)) return registered->QueryInterface(riid, ppv);
    try {
        return GetRegisteredClassObject(clsid, riid, ppv);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progId) {
    if (progId == nullptr) return E_INVALIDARG;
    *progId = nullptr;
    try {
        std::wstring text;
        const HRESULT hr = ReadClassValue(clsid, L"ProgID", text);
        if (FAILED(hr)) return hr;
        auto* copy = static_cast<LPOLESTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
        if (copy == nullptr) return E_OUTOFMEMORY;
        std::memcpy(copy, text.c_str(), (text.size() + 1) * sizeof(OLECHAR));
        *progId = copy;
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    ComPtr<IClassFactory> factory;
    HRESULT hr = CoGetClassObject(clsid, context, nullptr, IID_IClassFactory, factory.PutVoid());
    if (FAILED(hr)) return hr;
    hr = factory->CreateInstance(outer, riid, ppv);
    if (FAILED(hr)) *ppv = nullptr;
    return hr;
}

HRESULT CoRegisterClassObject(REFCLSID clsid, IUnknown* classObject, DWORD /*context*/, DWORD /*flags*/,
                              DWORD* cookie) {
    if (cookie == nullptr || classObject == nullptr) return E_INVALIDARG;
    *cookie = 0;
    ClassTable& table = Table();
    try {
        std::lock_guard guard(table.lock);
        table.entries.push_back({clsid, ComPtr<IUnknown>(classObject), table.nextCookie});
        *cookie = table.nextCookie++;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CoRevokeClassObject(DWORD cookie) {
    ComPtr<IUnknown> released;  // released after the table's lock is let go
    ClassTable& table = Table();
    std::lock_guard guard(table.lock);
    for (auto it = table.entries.begin(); it != table.entries.end(); ++it) {
        if (it->cookie == cookie) {
            released = std::move(it->classObject);
            table.entries.erase(it);
            return S_OK;
        }
    }
    return E_INVALIDARG;
}

void* CoTaskMemAlloc(std::size_t bytes) { return std::malloc(bytes == 0 ? 1 : bytes); }

void CoTaskMemFree(void* block) { std::free(block); }

namespace {
thread_local unsigned t_comInitialised = 0;
thread_local DWORD t_comModel = 0;
}  // namespace

HRESULT CoInitializeEx(void* /*reserved*/, DWORD model) {
    if (t_comInitialised > 0 && t_comModel != model) return RPC_E_CHANGED_MODE;
    t_comModel = model;
    return t_comInitialised++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() {
    if (t_comInitialised > 0) --t_comInitialised;
}
