#include "mediakit/MediaKit.h"

HRESULT MediaKitRegisterClasses() { return S_OK; }
HRESULT MediaKitRevokeClasses() { return S_OK; }
HRESULT DllGetClassObject(REFCLSID, REFIID, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
}
HRESULT DllCanUnloadNow() { return S_OK; }
