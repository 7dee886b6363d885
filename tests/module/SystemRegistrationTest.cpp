// Registration of the loaded component with the system's registry (Windows): machine-wide,
// DllRegisterServer writes exactly the class keys, the type library through RegisterTypeLib and
// the proxy/stub keys of the custom interfaces; objects created through the registry open and
// read a file; DllUnregisterServer removes all of it and leaves other software's classes alone.
// Per user (DllInstall "user", in a child process: the flag lasts for the rest of a process) the
// same keys land below HKEY_CURRENT_USER\Software\Classes. They are read there: Wine 8 does not
// merge the user's classes into HKEY_CLASSES_ROOT, so creation is tested through the
// machine-wide registration. The machine-wide registration that the test run started with is
// written again afterwards.
#include "platform/Com.h"
#include "platform/TextConvert.h"
#include "tests/module/ComponentLibrary.h"

namespace {

// The proxy/stub class (by the MIDL convention, the IID of the first interface it marshals) and
// the interfaces it marshals.
constexpr wchar_t kProxyStubClsid[] = L"{6EAE28E0-424E-4642-A408-BC118DE35F45}";
const std::pair<std::wstring, const wchar_t*> kMarshalledInterfaces[] = {
    {L"Interface\\{6EAE28E0-424E-4642-A408-BC118DE35F45}", L"IMediaSource"},
    {L"Interface\\{62AC1BD0-8E78-4663-8514-4DE92AEC9268}", L"IMediaFileTemplate"},
    {L"Interface\\{49D73883-2969-41A6-B6B3-01EF8A02F463}", L"IMediaStream"},
    {L"Interface\\{985477CD-0C1C-4176-A095-A78A80AC18E8}", L"IFlashFile5"},
    {L"Interface\\{29E64B4B-F8CD-4050-A28C-85F95ACF9EB5}", L"IFlashVideoStream5"},
    {L"Interface\\{6F43246F-CA1D-44B5-9691-B44CA800BC8A}", L"IFlashAudioStream5"},
};

// What the system's RegisterTypeLib writes for the module's library: its help string as the
// title and its LIBFLAGS in decimal.
std::pair<std::wstring, std::wstring> TypeLibTitleAndFlags() {
    ComPtr<ITypeLib> library;
    EXPECT_EQ(LoadTypeLibEx(ComponentPath().c_str(), REGKIND_NONE, library.Put()), S_OK);
    if (!library) return {};
    Bstr title;
    EXPECT_EQ(library->GetDocumentation(-1, nullptr, title.Put(), nullptr, nullptr), S_OK);
    TLIBATTR* attributes = nullptr;
    EXPECT_EQ(library->GetLibAttr(&attributes), S_OK);
    const std::wstring flags = std::to_wstring(attributes ? attributes->wLibFlags : 0);
    library->ReleaseTLibAttr(attributes);
    return {std::wstring(title.View()), flags};
}

// Everything registration writes below one hive's Software\Classes: the class keys exactly as
// the scripts say, the type library and the proxy/stub keys.
void ExpectRegisteredIn(HKEY hive) {
    const UniqueRegistryKey classes = OpenRegistryKey(hive, L"Software\\Classes");
    ASSERT_TRUE(classes);
    const auto value = [&](const std::wstring& key, const wchar_t* name = nullptr) {
        return RegistryString(classes.get(), key.c_str(), name);
    };
    ExpectClassKeys(classes.get());
    for (const auto& [key, name] : kMarshalledInterfaces) {
        EXPECT_EQ(value(key), name);
        EXPECT_EQ(value(key + L"\\ProxyStubClsid32"), kProxyStubClsid);
        EXPECT_TRUE(value(key + L"\\NumMethods")) << WideToUtf8(name);
    }
    EXPECT_EQ(value(L"Interface\\{49D73883-2969-41A6-B6B3-01EF8A02F463}\\NumMethods"),
              L"16");  // IMediaStream: IUnknown's 3 and its own 13
    const std::wstring proxyStub = std::wstring(L"CLSID\\") + kProxyStubClsid;
    EXPECT_EQ(value(proxyStub), L"PSFactoryBuffer");
    EXPECT_EQ(value(proxyStub + L"\\InprocServer32"), ComponentPath());
    EXPECT_EQ(value(proxyStub + L"\\InprocServer32", L"ThreadingModel"), L"Both");
}

void ExpectTypeLibRegisteredIn(HKEY hive) {
    const UniqueRegistryKey classes = OpenRegistryKey(hive, L"Software\\Classes");
    ASSERT_TRUE(classes);
    const auto [title, flags] = TypeLibTitleAndFlags();
    EXPECT_EQ(title, L"zevflashfile5 1.0 Type Library");
    ExpectTypeLibKeys(classes.get(), flags);
}

// Nothing of the registration is left below `hive`'s Software\Classes; the shared CLSID key and
// other software's classes below it stay.
void ExpectUnregisteredIn(HKEY hive) {
    const UniqueRegistryKey classes = OpenRegistryKey(hive, L"Software\\Classes");
    ASSERT_TRUE(classes);
    for (const auto& [key, title] : kRegisteredClasses)
        EXPECT_FALSE(RegistryKeyExists(classes.get(), key.c_str())) << WideToUtf8(title);
    for (const auto& [key, name] : kMarshalledInterfaces)
        EXPECT_FALSE(RegistryKeyExists(classes.get(), key.c_str())) << WideToUtf8(name);
    EXPECT_FALSE(
        RegistryKeyExists(classes.get(), (std::wstring(L"CLSID\\") + kProxyStubClsid).c_str()));
    EXPECT_FALSE(RegistryKeyExists(classes.get(), kTypeLibKey.c_str()));
    EXPECT_FALSE(RegistryKeyExists(classes.get(), kEventsKey.c_str()));
    EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT, kForeignClassKey));
}

class SystemRegistrationTest : public ComponentTest {
  protected:
    void TearDown() override { EXPECT_EQ(Component().registerServer(), S_OK); }

    const ScopedRegistryKey foreign_{HKEY_CLASSES_ROOT, kForeignClassKey, L"Other"};
};

TEST_F(SystemRegistrationTest, MachineWideUntilDllUnregisterServer) {
    ASSERT_EQ(foreign_.Status(), ERROR_SUCCESS);
    ASSERT_EQ(Component().registerServer(), S_OK);
    ExpectRegisteredIn(HKEY_LOCAL_MACHINE);
    ExpectTypeLibRegisteredIn(HKEY_LOCAL_MACHINE);
    ExpectCreatedThroughTheRegistryAndReading();
    ASSERT_EQ(Component().unregisterServer(), S_OK);
    ExpectUnregisteredIn(HKEY_LOCAL_MACHINE);
    ComPtr<IMediaSource> none;
    EXPECT_EQ(CreateInstance(CLSID_FlashFile5, none), REGDB_E_CLASSNOTREG);
}

TEST_F(SystemRegistrationTest, PerUserBelowTheUsersClasses) {
    RunInChildProcess([] {
        ASSERT_EQ(Component().install(TRUE, L"User"), S_OK);
        ExpectRegisteredIn(HKEY_CURRENT_USER);
        // RegisterTypeLibForUser: Wine 8 registers the library machine-wide.
        ExpectTypeLibRegisteredIn(
            RegistryKeyExists(HKEY_CURRENT_USER, (L"Software\\Classes\\" + kTypeLibKey).c_str())
                ? HKEY_CURRENT_USER
                : HKEY_LOCAL_MACHINE);
        ASSERT_EQ(Component().install(FALSE, L"user"), S_OK);
        ExpectUnregisteredIn(HKEY_CURRENT_USER);
    });
}

}  // namespace
