// A module with one class and the entry points COM looks for (DllGetClassObject and
// DllCanUnloadNow), built on ComObject like the component's own classes.
#include "tests/registration/ProbeModule.h"

#include "platform/ComObject.h"

namespace {
ComModule g_module;

class CRegistryProbe final : public ComObject<CRegistryProbe>, public IRegistryProbe {
  public:
    COM_DELEGATING_IUNKNOWN
    explicit CRegistryProbe(ComObjectArgs args) : ComObject(args) {}
    HRESULT InternalQueryInterface(REFIID riid, void** ppv) {
        return QueryInterfaceTable<IRegistryProbe>(this, riid, ppv);
    }
    LONG STDMETHODCALLTYPE LiveObjects() override { return g_module.LockCount(); }
};
}  // namespace

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (clsid != CLSID_RegistryProbe) return CLASS_E_CLASSNOTAVAILABLE;
    auto* factory = new (std::nothrow) ClassFactory<CRegistryProbe>(&g_module);
    if (factory == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

STDAPI DllCanUnloadNow() {
    return g_module.LockCount() == 0 ? S_OK : S_FALSE;
}
