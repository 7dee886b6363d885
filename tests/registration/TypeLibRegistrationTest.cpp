// Type library registration from a description: the keys RegisterTypeLib would write (the
// module's own registration tests check them machine-wide and per user through DllInstall);
// here, per user, that nothing reaches the machine hive and that removal leaves other versions.
#include <gtest/gtest.h>

#include "frame/TypeLibrary.h"
#include "tests/support/TempRegistry.h"

namespace {
TEST(TypeLibRegistration, PerUserWritesOnlyTheUsersHiveAndRemovesOnlyItsVersion) {
    const std::wstring library = L"TypeLib\\{7D647A2A-F2CF-4518-9AC3-D0217098D2E5}";
    const std::wstring version = library + L"\\1.0";
    const std::wstring events = L"Interface\\{28591EB4-B1A9-429D-A95A-1DECEDCFC688}";
    TempRegistry registry;
    ASSERT_EQ(SetRegistryString(HKEY_CLASSES_ROOT, (library + L"\\2.0").c_str(), nullptr, L"2"), 0);
    ASSERT_EQ(RegisterModuleTypeLib(L"/opt/m.so", true), S_OK);
    const std::wstring inHive = L"Software\\Classes\\" + version;
    EXPECT_EQ(RegistryString(HKEY_CURRENT_USER, inHive.c_str()), L"zevflashfile5 1.0 Type Library");
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, inHive.c_str()));
    for (const wchar_t* proxy : {L"\\ProxyStubClsid32", L"\\ProxyStubClsid"}) {
        EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, (events + proxy).c_str()),
                  L"{00020420-0000-0000-C000-000000000046}");
    }
    ASSERT_EQ(UnregisterModuleTypeLib(true), S_OK);
    EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, version.c_str()));
    EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, events.c_str()));
    EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, (library + L"\\2.0").c_str()), L"2");
}
}  // namespace
