// Object creation through the registry (the probe module registered by the registrar) and
// ProgIDFromCLSID.
#include <gtest/gtest.h>

#include <fstream>

#include "frame/registrar/Registrar.h"
#include "platform/Com.h"
#include "platform/TextConvert.h"
#include "tests/registration/ProbeModule.h"
#include "tests/support/TempRegistry.h"

namespace {
const std::wstring kProbeModule = Utf8ToWide(PROBE_MODULE_PATH);
constexpr wchar_t kProbeServerKey[] =
    L"CLSID\\{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}\\InprocServer32";

// The probe class's registration, in the form of the component's scripts.
HRESULT RunProbeScript(RegistrarMode mode, bool perUser, const std::wstring& module) {
    return RegistrarRun(
        L"HKCR { NoRemove CLSID { ForceRemove {0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}"
        L" = s 'RegistryProbe Class' { InprocServer32 = s '%MODULE%' {"
        L" val ThreadingModel = s 'Apartment' } } } }",
        RegistrarModuleReplacements(module), mode, perUser);
}

// CoCreateInstance of the probe class, which must leave the out pointer null when it fails.
HRESULT CreateProbeFails() {
    void* object = reinterpret_cast<void*>(0x1);
    const HRESULT hr = CoCreateInstance(CLSID_RegistryProbe, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_OF(IRegistryProbe), &object);
    EXPECT_EQ(object, nullptr) << hr;
    return hr;
}

class ComRegistryTest : public testing::Test {
  protected:
    TempRegistry registry_;
};

// Created through the registry until unregistered (an object made before stays usable); then
// each way of failing has its result and leaves the out pointer null.
TEST_F(ComRegistryTest, CreatesObjectsUntilUnregisteredAndEachWayOfFailingHasItsResult) {
    EXPECT_EQ(CreateProbeFails(), REGDB_E_CLASSNOTREG);  // no key at all
    for (const bool perUser : {true, false}) {
        SCOPED_TRACE(perUser ? "per user" : "machine-wide");
        ASSERT_EQ(RunProbeScript(RegistrarMode::Register, perUser, kProbeModule), S_OK);
        ComPtr<IRegistryProbe> probe;
        ASSERT_EQ(CreateInstance(CLSID_RegistryProbe, probe), S_OK);
        ASSERT_EQ(RunProbeScript(RegistrarMode::Unregister, perUser, kProbeModule), S_OK);
        EXPECT_EQ(CreateProbeFails(), REGDB_E_CLASSNOTREG);
        EXPECT_EQ(probe->LiveObjects(), 1);
    }
    // InprocServer32 without a module path.
    ASSERT_EQ(SetRegistryString(HKEY_CLASSES_ROOT, kProbeServerKey, L"ThreadingModel", L"Both"), 0);
    EXPECT_EQ(CreateProbeFails(), REGDB_E_CLASSNOTREG);
    const std::wstring notALibrary = registry_.Dir().Wide("text.so");
    std::ofstream(registry_.Dir().Path() / "text.so") << "not a library";
    for (const auto& [module, expected] : std::initializer_list<std::pair<std::wstring, HRESULT>>{
             {L"", CO_E_DLLNOTFOUND},
             {L"/no/such/module.so", CO_E_DLLNOTFOUND},
             {notALibrary, CO_E_DLLNOTFOUND},
             {Utf8ToWide(PLATFORM_LIBRARY_PATH), CO_E_ERRORINDLL},  // no DllGetClassObject
         }) {
        ASSERT_EQ(SetRegistryString(HKEY_CLASSES_ROOT, kProbeServerKey, nullptr, module), 0);
        EXPECT_EQ(CreateProbeFails(), expected) << testing::PrintToString(module);
    }
    std::ofstream(registry_.MachineHive()) << "damaged";
    EXPECT_EQ(CreateProbeFails(), REGDB_E_READREGDB);
}

// ProgIDFromCLSID reads the ProgID key, and leaves a null out pointer when there is none.
TEST_F(ComRegistryTest, ProgIDFromCLSIDReadsTheProgIDKey) {
    LPOLESTR progId = reinterpret_cast<LPOLESTR>(0x1);
    EXPECT_EQ(ProgIDFromCLSID(CLSID_RegistryProbe, &progId), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(progId, nullptr);
    ASSERT_EQ(SetRegistryString(HKEY_CLASSES_ROOT,
                                L"CLSID\\{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}\\ProgID", nullptr,
                                L"Zev.Probe.1"),
              0);
    ASSERT_EQ(ProgIDFromCLSID(CLSID_RegistryProbe, &progId), S_OK);
    EXPECT_EQ(std::wstring(progId), L"Zev.Probe.1");
    CoTaskMemFree(progId);
}
}  // namespace
