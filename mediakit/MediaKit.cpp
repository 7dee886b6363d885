#include "mediakit/MediaKit.h"

#include <mutex>
#include <new>
#include <vector>

#include "mediakit/ClassList.h"

namespace {

// The cookies of the class objects that MediaKitRegisterClasses put into the process's table.
struct Registration {
    std::mutex lock;
    std::vector<DWORD> cookies;
};

Registration& Registered() {
    static Registration* registration = new Registration;  // outlives every static destructor
    return *registration;
}

void RevokeAll(std::vector<DWORD>& cookies) {
    for (const DWORD cookie : cookies) (void)CoRevokeClassObject(cookie);
    cookies.clear();
}

}  // namespace

HRESULT MediaKitRegisterClasses() {
    Registration& registration = Registered();
    std::lock_guard guard(registration.lock);
    if (!registration.cookies.empty()) return S_OK;
    try {
        registration.cookies.reserve(mediakit::Classes().size());
        for (const mediakit::ClassEntry& entry : mediakit::Classes()) {
            ComPtr<IClassFactory> factory;
            HRESULT hr = entry.makeFactory(factory);
            DWORD cookie = 0;
            if (SUCCEEDED(hr)) {
                hr = CoRegisterClassObject(entry.clsid, factory.Get(), CLSCTX_INPROC_SERVER,
                                           REGCLS_MULTIPLEUSE, &cookie);
            }
            if (FAILED(hr)) {
                RevokeAll(registration.cookies);
                return hr;
            }
            registration.cookies.push_back(cookie);  // capacity reserved above
        }
    } catch (const std::bad_alloc&) {
        RevokeAll(registration.cookies);
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT MediaKitRevokeClasses() {
    Registration& registration = Registered();
    std::lock_guard guard(registration.lock);
    RevokeAll(registration.cookies);
    return S_OK;
}

HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    for (const mediakit::ClassEntry& entry : mediakit::Classes()) {
        if (entry.clsid != clsid) continue;
        ComPtr<IClassFactory> factory;
        const HRESULT hr = entry.makeFactory(factory);
        if (FAILED(hr)) return hr;
        return factory->QueryInterface(riid, ppv);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT DllCanUnloadNow() {
    return mediakit::Module().LockCount() == 0 ? S_OK : S_FALSE;
}
