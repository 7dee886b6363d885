// Type library registration from a description: the keys RegisterTypeLib would write, per
// machine and per user, and their removal.
#include <gtest/gtest.h>

#include "frame/registrar/Scripts.h"
#include "platform/TypeLibRegistration.h"
#include "tests/support/TempRegistry.h"

namespace {
constexpr LONG Result(DWORD error) {
    return static_cast<LONG>(error);
}

constexpr wchar_t kModulePath[] = L"/opt/zev/lib/libzevflashfile5.so";
constexpr wchar_t kLibraryKey[] = L"TypeLib\\{7D647A2A-F2CF-4518-9AC3-D0217098D2E5}";
constexpr wchar_t kVersionKey[] = L"TypeLib\\{7D647A2A-F2CF-4518-9AC3-D0217098D2E5}\\1.0";
constexpr wchar_t kEventsKey[] = L"Interface\\{28591EB4-B1A9-429D-A95A-1DECEDCFC688}";

std::wstring Below(const wchar_t* key, const wchar_t* path) {
    return std::wstring(key) + L"\\" + path;
}

void ExpectRegistered(HKEY root) {
    EXPECT_EQ(RegistryString(root, kVersionKey), L"zevflashfile5Lib");
    EXPECT_EQ(RegistryString(root, Below(kVersionKey, L"FLAGS").c_str()), L"0");
    EXPECT_EQ(RegistryString(root, Below(kVersionKey, L"0\\win64").c_str()), kModulePath);
    EXPECT_EQ(RegistryString(root, Below(kVersionKey, L"HELPDIR").c_str()), L"/opt/zev/lib");
    EXPECT_EQ(RegistryString(root, kEventsKey), L"_IFlashFile5Events");
    EXPECT_EQ(RegistryString(root, Below(kEventsKey, L"ProxyStubClsid32").c_str()),
              L"{00020420-0000-0000-C000-000000000046}");
    EXPECT_EQ(RegistryString(root, Below(kEventsKey, L"ProxyStubClsid").c_str()),
              L"{00020420-0000-0000-C000-000000000046}");
    EXPECT_EQ(RegistryString(root, Below(kEventsKey, L"TypeLib").c_str()),
              L"{7D647A2A-F2CF-4518-9AC3-D0217098D2E5}");
    EXPECT_EQ(RegistryString(root, Below(kEventsKey, L"TypeLib").c_str(), L"Version"), L"1.0");
}

UniqueRegistryKey OpenUserClasses() {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, KEY_READ, &key),
              Result(ERROR_SUCCESS));
    return UniqueRegistryKey(key);
}

class TypeLibRegistrationTest : public testing::Test {
  protected:
    TempRegistry registry_;
};

TEST_F(TypeLibRegistrationTest, MachineRegistrationWritesTheLibraryAndEventInterface) {
    ASSERT_EQ(RegisterTypeLibDescription(kZevFlashFile5TypeLib, kModulePath, nullptr), S_OK);
    ExpectRegistered(HKEY_CLASSES_ROOT);
    EXPECT_FALSE(std::filesystem::exists(registry_.UserHive()));
    // Registering again over an existing registration succeeds.
    EXPECT_EQ(RegisterTypeLibDescription(kZevFlashFile5TypeLib, kModulePath, nullptr), S_OK);
}

TEST_F(TypeLibRegistrationTest, PerUserRegistrationWritesUnderTheUsersClasses) {
    ASSERT_EQ(RegisterTypeLibDescriptionForUser(kZevFlashFile5TypeLib, kModulePath, nullptr), S_OK);
    ExpectRegistered(OpenUserClasses().get());
    EXPECT_FALSE(std::filesystem::exists(registry_.MachineHive()));
    ASSERT_EQ(UnRegisterTypeLibDescriptionForUser(kZevFlashFile5TypeLib), S_OK);
    EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, kLibraryKey));
    EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, kEventsKey));
    EXPECT_EQ(UnRegisterTypeLibDescriptionForUser(kZevFlashFile5TypeLib), TYPE_E_REGISTRYACCESS);
}

TEST_F(TypeLibRegistrationTest, UnregisterRemovesEverythingItWrote) {
    ASSERT_EQ(RegisterTypeLibDescription(kZevFlashFile5TypeLib, kModulePath, nullptr), S_OK);
    ASSERT_EQ(UnRegisterTypeLibDescription(kZevFlashFile5TypeLib), S_OK);
    EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, kLibraryKey));
    EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, kEventsKey));
    EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT, L"TypeLib"));
    EXPECT_EQ(UnRegisterTypeLibDescription(kZevFlashFile5TypeLib), TYPE_E_REGISTRYACCESS);
}

TEST_F(TypeLibRegistrationTest, OtherVersionsAndOtherLibrariesInterfacesStay) {
    HKEY raw = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, Below(kLibraryKey, L"2.0").c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &raw, nullptr),
              Result(ERROR_SUCCESS));
    RegCloseKey(raw);
    ASSERT_EQ(RegisterTypeLibDescription(kZevFlashFile5TypeLib, kModulePath, nullptr), S_OK);
    // Another library has since claimed the event interface.
    const std::wstring other = L"{00000000-1111-2222-3333-444444444444}";
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, Below(kEventsKey, L"TypeLib").c_str(), 0, nullptr,
                              0, KEY_ALL_ACCESS, nullptr, &raw, nullptr),
              Result(ERROR_SUCCESS));
    UniqueRegistryKey typeLib(raw);
    ASSERT_EQ(RegSetValueExW(typeLib.get(), nullptr, 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(other.c_str()),
                             static_cast<DWORD>((other.size() + 1) * sizeof(wchar_t))),
              Result(ERROR_SUCCESS));

    ASSERT_EQ(UnRegisterTypeLibDescription(kZevFlashFile5TypeLib), S_OK);
    EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, kVersionKey));
    EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT, Below(kLibraryKey, L"2.0").c_str()));
    EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, Below(kEventsKey, L"TypeLib").c_str()), other);
}

TEST_F(TypeLibRegistrationTest, VersionsAreHexadecimalAndHelpTextTitlesTheLibrary) {
    const TypeLibInterface interfaces[] = {
        {MakeGuid("01234567-89AB-CDEF-0123-456789ABCDEF"), L"IAutomation",
         TypeLibInterfaceKind::Automation},
    };
    const TypeLibDescription library = {MakeGuid("FEDCBA98-7654-3210-FEDC-BA9876543210"),
                                        10,
                                        11,
                                        0x409,
                                        L"OtherLib",
                                        L"Other Type Library",
                                        8,
                                        interfaces,
                                        1};
    ASSERT_EQ(RegisterTypeLibDescription(library, L"module.so", L"/help"), S_OK);
    const wchar_t* version = L"TypeLib\\{FEDCBA98-7654-3210-FEDC-BA9876543210}\\a.b";
    EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, version), L"Other Type Library");
    EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, Below(version, L"409\\win64").c_str()),
              L"module.so");
    EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, Below(version, L"FLAGS").c_str()), L"8");
    EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, Below(version, L"HELPDIR").c_str()), L"/help");
    const wchar_t* interfaceKey = L"Interface\\{01234567-89AB-CDEF-0123-456789ABCDEF}";
    EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, Below(interfaceKey, L"ProxyStubClsid32").c_str()),
              L"{00020424-0000-0000-C000-000000000046}");
    EXPECT_EQ(
        RegistryString(HKEY_CLASSES_ROOT, Below(interfaceKey, L"TypeLib").c_str(), L"Version"),
        L"a.b");
    EXPECT_EQ(RegisterTypeLibDescription(library, nullptr, nullptr), E_INVALIDARG);
}
}  // namespace
