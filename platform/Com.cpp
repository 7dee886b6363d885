#include "platform/Com.h"

#include <cstdlib>
#include <mutex>
#include <new>
#include <vector>

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
}  // namespace

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* /*reserved*/, REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if ((context & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)) == 0) return REGDB_E_CLASSNOTREG;
    if (ComPtr<IUnknown> registered = FindRegistered(clsid)) return registered->QueryInterface(riid, ppv);
    return REGDB_E_CLASSNOTREG;
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
