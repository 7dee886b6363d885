#include "frame/Module.h"

#include <atomic>
#include <new>
#include <string>
#include <vector>

#include "frame/ComponentModule.h"
#include "frame/Interfaces.h"
#include "frame/ProxyStub.h"
#include "frame/TypeLibrary.h"
#include "frame/registrar/Registrar.h"
#include "frame/registrar/Scripts.h"
#include "platform/ComObject.h"
#include "platform/CriticalSection.h"
#include "platform/Locale.h"
#include "platform/ModulePath.h"
#include "source/FlashFile5.h"
#include "streams/AudioStream.h"
#include "streams/VideoStream.h"

namespace {

class ModuleState {
  public:
    ModuleState() noexcept : path_(ModulePathOf(this)) { initialised_ = true; }
    ~ModuleState();
    ModuleState(const ModuleState&) = delete;
    ModuleState& operator=(const ModuleState&) = delete;

    // False until the constructor has run (the storage of a global starts zeroed).
    bool Initialised() const noexcept { return initialised_; }
    CriticalSection& Lock() noexcept { return lock_; }
    const std::wstring& Path() const noexcept { return path_; }
    bool PerUser() const noexcept { return perUser_.load(std::memory_order_acquire); }
    void SetPerUser() noexcept { perUser_.store(true, std::memory_order_release); }

  private:
    bool initialised_ = false;
    CriticalSection lock_;
    std::atomic<bool> perUser_{false};
    std::wstring path_;
};

ModuleState g_module;

// Runs registry script `scriptId` with the module's replacements (and APPID for the module
// script), under HKCU\Software\Classes while the per-user flag is set.
HRESULT RunScript(int scriptId, RegistrarMode mode, bool withAppId) noexcept {
    const wchar_t* script = FindRegistryScript(scriptId);
    if (script == nullptr || g_module.Path().empty()) return E_UNEXPECTED;
    try {
        std::vector<RegistrarReplacement> replacements =
            RegistrarModuleReplacements(g_module.Path());
        if (withAppId) replacements.push_back({L"APPID", kModuleAppId});
        return RegistrarRun(script, replacements, mode, g_module.PerUser());
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

// A class's registration routine: runs its script.
template <int ScriptId>
HRESULT UpdateClassRegistry(RegistrarMode mode) noexcept {
    return RunScript(ScriptId, mode, false);
}

// Makes the class object of `Class` and answers `riid` on it.
template <class Class>
HRESULT CreateClassObject(REFIID riid, void** ppv) noexcept {
    ComPtr<IClassFactory> factory;
    factory.Attach(new (std::nothrow) ClassFactory<Class>(&ComponentModule()));
    if (!factory) return E_OUTOFMEMORY;
    return factory->QueryInterface(riid, ppv);
}

struct ClassEntry {
    CLSID clsid;
    HRESULT (*updateRegistry)(RegistrarMode mode) noexcept;
    HRESULT (*createClassObject)(REFIID riid, void** ppv) noexcept;
    // The class object: null until first asked for, then one reference kept until the module
    // unloads. Read without the lock, so that only its creation is serialised.
    std::atomic<IUnknown*> classObject{nullptr};
};

ClassEntry g_classes[] = {
    {CLSID_FlashFile5, &UpdateClassRegistry<IDR_FLASHFILE5>, &CreateClassObject<CFlashFile5>},
    {CLSID_FlashAudioStream5, &UpdateClassRegistry<IDR_FLASHAUDIOSTREAM5>,
     &CreateClassObject<CFlashAudioStream5>},
    {CLSID_FlashVideoStream5, &UpdateClassRegistry<IDR_FLASHVIDEOSTREAM5>,
     &CreateClassObject<CFlashVideoStream5>},
};

ModuleState::~ModuleState() {
    // Whatever runs after the unload's destructors finds the module no longer set up.
    initialised_ = false;
    for (ClassEntry& entry : g_classes) {
        if (IUnknown* object = entry.classObject.exchange(nullptr)) object->Release();
    }
}

// The class object of `entry`, made under the module's critical section on first use.
IUnknown* ClassObjectOf(ClassEntry& entry, HRESULT& hr) noexcept {
    IUnknown* object = entry.classObject.load(std::memory_order_acquire);
    if (object != nullptr) return object;
    CriticalSectionLock guard(g_module.Lock());
    object = entry.classObject.load(std::memory_order_acquire);
    if (object == nullptr) {
        hr = entry.createClassObject(IID_IUnknown, reinterpret_cast<void**>(&object));
        if (FAILED(hr)) return nullptr;
        entry.classObject.store(object, std::memory_order_release);
    }
    return object;
}

// The thread locale while registration runs: LANG_SYSTEM_DEFAULT, and the caller's again after.
class SystemLocaleScope {
  public:
    SystemLocaleScope() noexcept : saved_(GetThreadLocale()) {
        SetThreadLocale(LANG_SYSTEM_DEFAULT);
    }
    ~SystemLocaleScope() { SetThreadLocale(saved_); }
    SystemLocaleScope(const SystemLocaleScope&) = delete;
    SystemLocaleScope& operator=(const SystemLocaleScope&) = delete;

  private:
    LCID saved_;
};

HRESULT UpdateTypeLibRegistry(RegistrarMode mode) noexcept {
    if (mode == RegistrarMode::Unregister) return UnregisterModuleTypeLib(g_module.PerUser());
    if (g_module.Path().empty()) return E_UNEXPECTED;
    return RegisterModuleTypeLib(g_module.Path(), g_module.PerUser());
}

HRESULT RegisterModule() noexcept {
    SystemLocaleScope locale;
    HRESULT hr = RunScript(IDR_ZEVFLASHFILE5, RegistrarMode::Register, true);
    if (FAILED(hr)) return hr;
    for (ClassEntry& entry : g_classes) {
        // No component categories: "Implemented Categories" and "Required Categories" stay
        // as they are.
        hr = entry.updateRegistry(RegistrarMode::Register);
        if (FAILED(hr)) return hr;
    }
    hr = UpdateTypeLibRegistry(RegistrarMode::Register);
    if (FAILED(hr)) return hr;
    return UpdateProxyStubRegistry(RegistrarMode::Register, g_module.Path(), g_module.PerUser());
}

HRESULT UnregisterModule() noexcept {
    SystemLocaleScope locale;
    HRESULT hr = S_OK;
    for (ClassEntry& entry : g_classes) {
        hr = entry.updateRegistry(RegistrarMode::Unregister);
        if (FAILED(hr)) return hr;
    }
    hr = UpdateTypeLibRegistry(RegistrarMode::Unregister);
    if (FAILED(hr)) return hr;
    hr = RunScript(IDR_ZEVFLASHFILE5, RegistrarMode::Unregister, true);
    if (FAILED(hr)) return hr;
    return UpdateProxyStubRegistry(RegistrarMode::Unregister, g_module.Path(), g_module.PerUser());
}

// "user" compared over five characters, ASCII letters without regard to case: the terminator
// takes part, so a longer text never matches, and a shorter one stops at its terminator.
bool IsPerUserCommand(LPCWSTR commandLine) noexcept {
    constexpr wchar_t kUser[] = L"user";
    for (int i = 0; i < 5; ++i) {
        wchar_t c = commandLine[i];
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
        if (c != kUser[i]) return false;
    }
    return true;
}

}  // namespace

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (!g_module.Initialised()) return E_UNEXPECTED;
    HRESULT hr = S_OK;
    for (ClassEntry& entry : g_classes) {
        if (entry.clsid != clsid) continue;
        if (IUnknown* object = ClassObjectOf(entry, hr)) hr = object->QueryInterface(riid, ppv);
        break;
    }
    if (*ppv == nullptr && SUCCEEDED(hr)) hr = ProxyStubClassObject(clsid, riid, ppv);
    return hr;
}

STDAPI DllCanUnloadNow() {
    return ComponentModule().LockCount() == 0 && ProxyStubCanUnload() ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer() {
    return RegisterModule();
}

STDAPI DllUnregisterServer() {
    return UnregisterModule();
}

STDAPI DllInstall(BOOL install, LPCWSTR commandLine) {
    if (commandLine != nullptr && IsPerUserCommand(commandLine)) g_module.SetPerUser();
    if (!install) return UnregisterModule();
    const HRESULT hr = RegisterModule();
    if (FAILED(hr)) (void)UnregisterModule();
    return hr;
}
