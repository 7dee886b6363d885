#include "frame/ProxyStub.h"

// No apartments on the stand-in: every object is called directly, nothing is marshalled.

HRESULT ProxyStubClassObject(REFCLSID /*clsid*/, REFIID /*riid*/, void** ppv) noexcept {
    if (ppv != nullptr) *ppv = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
}

bool ProxyStubCanUnload() noexcept {
    return true;
}

HRESULT UpdateProxyStubRegistry(RegistrarMode /*mode*/, const std::wstring& /*modulePath*/,
                                bool /*perUser*/) noexcept {
    return S_OK;
}
