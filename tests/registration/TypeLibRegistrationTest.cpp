// Type library registration from a description: the keys RegisterTypeLib would write, per
// machine and per user, and their removal.
#include <gtest/gtest.h>

#include "frame/registrar/Scripts.h"
#include "platform/TypeLibRegistration.h"
#include "tests/support/TempRegistry.h"

namespace {
constexpr wchar_t kModulePath[] = L"/opt/zev/lib/libzevflashfile5.so";
const std::wstring kLibraryKey = L"TypeLib\\{7D647A2A-F2CF-4518-9AC3-D0217098D2E5}";
const std::wstring kVersionKey = kLibraryKey + L"\\1.0";
const std::wstring kEventsKey = L"Interface\\{28591EB4-B1A9-429D-A95A-1DECEDCFC688}";

// The string `name` of `key` below HKEY_CLASSES_ROOT.
std::optional<std::wstring> Classes(const std::wstring& key, const wchar_t* name = nullptr) {
    return RegistryString(HKEY_CLASSES_ROOT, key.c_str(), name);
}

TEST(TypeLibRegistration, WritesTheLibraryAndEventInterfaceKeysAndRemovesOnlyThem) {
    for (const bool perUser : {true, false}) {
        SCOPED_TRACE(perUser ? "per user" : "machine-wide");
        TempRegistry registry;
        // Another version of the library stays.
        ASSERT_EQ(SetRegistryString(HKEY_CLASSES_ROOT, (kLibraryKey + L"\\2.0").c_str(), nullptr,
                                    L"other version"),
                  0);
        const TypeLibDescription& library = kZevFlashFile5TypeLib;
        ASSERT_EQ(perUser ? RegisterTypeLibDescriptionForUser(library, kModulePath, nullptr)
                          : RegisterTypeLibDescription(library, kModulePath, nullptr),
                  S_OK);
        const std::wstring inHive = L"Software\\Classes\\" + kVersionKey;
        EXPECT_EQ(RegistryString(perUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, inHive.c_str()),
                  L"zevflashfile5Lib");
        EXPECT_FALSE(
            RegistryKeyExists(perUser ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, inHive.c_str()));
        EXPECT_EQ(Classes(kVersionKey + L"\\FLAGS"), L"0");
        EXPECT_EQ(Classes(kVersionKey + L"\\0\\win64"), kModulePath);
        EXPECT_EQ(Classes(kVersionKey + L"\\HELPDIR"), L"/opt/zev/lib");
        EXPECT_EQ(Classes(kEventsKey), L"_IFlashFile5Events");
        for (const wchar_t* proxy : {L"\\ProxyStubClsid32", L"\\ProxyStubClsid"})
            EXPECT_EQ(Classes(kEventsKey + proxy), L"{00020420-0000-0000-C000-000000000046}");
        EXPECT_EQ(Classes(kEventsKey + L"\\TypeLib"), L"{7D647A2A-F2CF-4518-9AC3-D0217098D2E5}");
        EXPECT_EQ(Classes(kEventsKey + L"\\TypeLib", L"Version"), L"1.0");

        ASSERT_EQ(perUser ? UnRegisterTypeLibDescriptionForUser(library)
                          : UnRegisterTypeLibDescription(library),
                  S_OK);
        EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, kVersionKey.c_str()));
        EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, kEventsKey.c_str()));
        EXPECT_EQ(Classes(kLibraryKey + L"\\2.0"), L"other version");
    }
}
}  // namespace
