// Object creation through the registry (the probe module registered by the registrar),
// ProgIDFromCLSID, and the thread locale.
#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "frame/registrar/Registrar.h"
#include "frame/registrar/Scripts.h"
#include "platform/Com.h"
#include "platform/ComObject.h"
#include "platform/Locale.h"
#include "platform/TextConvert.h"
#include "tests/registration/ProbeModule.h"
#include "tests/support/TempRegistry.h"

namespace {
constexpr LONG Result(DWORD error) {
    return static_cast<LONG>(error);
}

constexpr wchar_t kProbeKey[] = L"CLSID\\{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}";

// The probe class's registration, in the form the component's scripts use.
constexpr wchar_t kProbeScript[] =
    L"HKCR\n"
    L"{\n"
    L"\tNoRemove CLSID\n"
    L"\t{\n"
    L"\t\tForceRemove {0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0} = s 'RegistryProbe Class'\n"
    L"\t\t{\n"
    L"\t\t\tInprocServer32 = s '%MODULE%'\n"
    L"\t\t\t{\n"
    L"\t\t\t\tval ThreadingModel = s 'Apartment'\n"
    L"\t\t\t}\n"
    L"\t\t}\n"
    L"\t}\n"
    L"}\n";

HRESULT RunProbeScript(RegistrarMode mode, bool perUser, const std::wstring& modulePath) {
    return RegistrarRun(kProbeScript, RegistrarModuleReplacements(modulePath), mode, perUser);
}

const std::wstring kProbeModule = Utf8ToWide(PROBE_MODULE_PATH);

class ComRegistryTest : public testing::Test {
  protected:
    TempRegistry registry_;
};

TEST_F(ComRegistryTest, CreatesObjectsFromARegisteredModuleUntilItIsUnregistered) {
    ASSERT_EQ(RunProbeScript(RegistrarMode::Register, false, kProbeModule), S_OK);
    ComPtr<IRegistryProbe> probe;
    ASSERT_EQ(CreateInstance(CLSID_RegistryProbe, probe), S_OK);
    EXPECT_EQ(probe->LiveObjects(), 1);
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(CLSID_RegistryProbe, CLSCTX_INPROC_SERVER, nullptr,
                               IID_IClassFactory, factory.PutVoid()),
              S_OK);
    ComPtr<IRegistryProbe> second;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_OF(IRegistryProbe), second.PutVoid()), S_OK);
    EXPECT_EQ(probe->LiveObjects(), 2);

    ASSERT_EQ(RunProbeScript(RegistrarMode::Unregister, false, kProbeModule), S_OK);
    EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, kProbeKey));
    ComPtr<IRegistryProbe> none;
    EXPECT_EQ(CreateInstance(CLSID_RegistryProbe, none), REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(none);
    // Objects made before stay usable: the module is never unloaded.
    EXPECT_EQ(second->LiveObjects(), 2);
}

TEST_F(ComRegistryTest, PerUserRegistrationsAreFound) {
    ASSERT_EQ(RunProbeScript(RegistrarMode::Register, true, kProbeModule), S_OK);
    ComPtr<IRegistryProbe> probe;
    EXPECT_EQ(CreateInstance(CLSID_RegistryProbe, probe), S_OK);
    EXPECT_FALSE(std::filesystem::exists(registry_.MachineHive()));
}

TEST_F(ComRegistryTest, ClassObjectsRegisteredInTheProcessComeFirst) {
    // A class of the process under the probe's CLSID; the registry names a missing module.
    class CLocal final : public ComObject<CLocal>, public IRegistryProbe {
      public:
        COM_DELEGATING_IUNKNOWN
        explicit CLocal(ComObjectArgs args) : ComObject(args) {}
        HRESULT InternalQueryInterface(REFIID riid, void** ppv) {
            return QueryInterfaceTable<IRegistryProbe>(this, riid, ppv);
        }
        LONG STDMETHODCALLTYPE LiveObjects() override { return -1; }
    };
    ASSERT_EQ(RunProbeScript(RegistrarMode::Register, false, L"/missing/module.so"), S_OK);
    ComPtr<IClassFactory> local;
    local.Attach(new ClassFactory<CLocal>(nullptr));
    DWORD cookie = 0;
    ASSERT_EQ(CoRegisterClassObject(CLSID_RegistryProbe, local.Get(), CLSCTX_INPROC_SERVER,
                                    REGCLS_MULTIPLEUSE, &cookie),
              S_OK);
    ComPtr<IRegistryProbe> probe;
    ASSERT_EQ(CreateInstance(CLSID_RegistryProbe, probe), S_OK);
    EXPECT_EQ(probe->LiveObjects(), -1);
    ASSERT_EQ(CoRevokeClassObject(cookie), S_OK);
    EXPECT_EQ(CreateInstance(CLSID_RegistryProbe, probe), CO_E_DLLNOTFOUND);
}

TEST_F(ComRegistryTest, EachWayOfFailingHasItsResult) {
    const auto create = [] {
        void* object = reinterpret_cast<void*>(0x1);
        const HRESULT hr = CoCreateInstance(CLSID_RegistryProbe, nullptr, CLSCTX_INPROC_SERVER,
                                            IID_OF(IRegistryProbe), &object);
        EXPECT_EQ(object, nullptr);
        return hr;
    };
    const auto setServer = [](const std::wstring* path) {
        HKEY raw = nullptr;
        const std::wstring key = std::wstring(kProbeKey) + L"\\InprocServer32";
        ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &raw, nullptr),
                  Result(ERROR_SUCCESS));
        UniqueRegistryKey server(raw);
        if (path == nullptr) {
            ASSERT_EQ(RegDeleteValueW(server.get(), nullptr), Result(ERROR_SUCCESS));
            return;
        }
        ASSERT_EQ(RegSetValueExW(server.get(), nullptr, 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(path->c_str()),
                                 static_cast<DWORD>((path->size() + 1) * sizeof(wchar_t))),
                  Result(ERROR_SUCCESS));
    };
    EXPECT_EQ(create(), REGDB_E_CLASSNOTREG);  // no key at all
    const std::wstring empty;
    setServer(&empty);
    EXPECT_EQ(create(), CO_E_DLLNOTFOUND);
    setServer(nullptr);
    EXPECT_EQ(create(), REGDB_E_CLASSNOTREG);  // InprocServer32 without a module path
    const std::wstring missing = L"/no/such/module.so";
    setServer(&missing);
    EXPECT_EQ(create(), CO_E_DLLNOTFOUND);
    const std::wstring notALibrary = registry_.Dir().Wide("text.so");
    std::ofstream(registry_.Dir().Path() / "text.so") << "not a library";
    setServer(&notALibrary);
    EXPECT_EQ(create(), CO_E_DLLNOTFOUND);
    const std::wstring withoutEntry = Utf8ToWide(PLATFORM_LIBRARY_PATH);
    setServer(&withoutEntry);
    EXPECT_EQ(create(), CO_E_ERRORINDLL);
    // The probe module does not serve a class registered under another CLSID.
    const CLSID other = MakeGuid("99999999-8888-7777-6666-555555555555");
    ASSERT_EQ(
        RegistrarRun(L"HKCR { CLSID { {99999999-8888-7777-6666-555555555555} { "
                     L"InprocServer32 = s '%MODULE%' } } }",
                     RegistrarModuleReplacements(kProbeModule), RegistrarMode::Register, false),
        S_OK);
    void* object = nullptr;
    EXPECT_EQ(CoCreateInstance(other, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(CoCreateInstance(other, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, &object),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(CoCreateInstance(other, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, nullptr),
              E_POINTER);
    // A registry that cannot be read.
    std::ofstream(registry_.MachineHive()) << "damaged";
    EXPECT_EQ(create(), REGDB_E_READREGDB);
}

TEST_F(ComRegistryTest, ProgIDFromCLSIDReadsTheProgIDKey) {
    LPOLESTR progId = reinterpret_cast<LPOLESTR>(0x1);
    EXPECT_EQ(ProgIDFromCLSID(CLSID_RegistryProbe, &progId), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(progId, nullptr);
    EXPECT_EQ(ProgIDFromCLSID(CLSID_RegistryProbe, nullptr), E_INVALIDARG);
    // The component's own scripts register no ProgID.
    ASSERT_EQ(
        RegistrarRun(FindRegistryScript(IDR_FLASHFILE5), RegistrarModuleReplacements(kProbeModule),
                     RegistrarMode::Register, false),
        S_OK);
    EXPECT_EQ(ProgIDFromCLSID(MakeGuid("4782B4A0-9258-40BD-8739-54432C6407A2"), &progId),
              REGDB_E_CLASSNOTREG);
    ASSERT_EQ(RegistrarRun(L"HKCR { CLSID { {0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0} { "
                           L"ProgID = s 'Zev.Probe.1' } } }",
                           {}, RegistrarMode::Register, false),
              S_OK);
    ASSERT_EQ(ProgIDFromCLSID(CLSID_RegistryProbe, &progId), S_OK);
    EXPECT_EQ(std::wstring(progId), L"Zev.Probe.1");
    CoTaskMemFree(progId);
}

TEST(ThreadLocale, IsPerThreadAndRefusesZero) {
    const LCID saved = GetThreadLocale();
    EXPECT_EQ(saved, kDefaultThreadLocale);
    ASSERT_TRUE(SetThreadLocale(LANG_SYSTEM_DEFAULT));
    EXPECT_EQ(GetThreadLocale(), 0x0800u);
    LCID seenByOther = 0;
    std::thread([&] { seenByOther = GetThreadLocale(); }).join();
    EXPECT_EQ(seenByOther, kDefaultThreadLocale);
    EXPECT_FALSE(SetThreadLocale(0));
    EXPECT_EQ(GetThreadLocale(), 0x0800u);
    ASSERT_TRUE(SetThreadLocale(saved));
}
}  // namespace
