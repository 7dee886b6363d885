// The registrar on the module's own scripts (exact keys and values written and removed) and on
// small scripts for the rest of the language, including malformed ones.
#include <gtest/gtest.h>

#include <fstream>

#include "frame/registrar/Registrar.h"
#include "frame/registrar/Scripts.h"
#include "tests/support/TempRegistry.h"

namespace {
constexpr LONG Result(DWORD error) {
    return static_cast<LONG>(error);
}

constexpr wchar_t kModulePath[] = L"/opt/zev/lib/libzevflashfile5.so";
constexpr wchar_t kLibId[] = L"{7D647A2A-F2CF-4518-9AC3-D0217098D2E5}";

struct ClassScript {
    int id;
    const wchar_t* clsid;
    const wchar_t* title;
};
constexpr ClassScript kClassScripts[] = {
    {IDR_FLASHFILE5, L"{4782B4A0-9258-40BD-8739-54432C6407A2}", L"FlashFile5 Class"},
    {IDR_FLASHAUDIOSTREAM5, L"{5E470577-C2B2-4451-9A88-10E1493C8126}", L"FlashAudioStream5 Class"},
    {IDR_FLASHVIDEOSTREAM5, L"{2D955AA8-8E94-4A94-A669-C493B0730C20}", L"FlashVideoStream5 Class"},
};

std::wstring ClassKey(const ClassScript& script) {
    return std::wstring(L"CLSID\\") + script.clsid;
}

std::vector<std::wstring> SubkeyNames(HKEY root, const std::wstring& path) {
    HKEY raw = nullptr;
    std::vector<std::wstring> names;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &raw) != ERROR_SUCCESS) return names;
    UniqueRegistryKey key(raw);
    wchar_t name[256];
    DWORD length = 256;
    for (DWORD i = 0; RegEnumKeyExW(key.get(), i, name, &length, nullptr, nullptr, nullptr,
                                    nullptr) == ERROR_SUCCESS;
         ++i, length = 256) {
        names.emplace_back(name, length);
    }
    return names;
}

UniqueRegistryKey Create(HKEY root, const wchar_t* path) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              Result(ERROR_SUCCESS));
    return UniqueRegistryKey(key);
}

LONG SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

class RegistrarTest : public testing::Test {
  protected:
    static HRESULT RunScript(int id, RegistrarMode mode, bool perUser = false,
                             const wchar_t* modulePath = kModulePath) {
        return RegistrarRun(FindRegistryScript(id), RegistrarModuleReplacements(modulePath), mode,
                            perUser);
    }
    static HRESULT Run(const wchar_t* script, RegistrarMode mode, bool perUser = false) {
        return RegistrarRun(script, RegistrarModuleReplacements(kModulePath), mode, perUser);
    }
    // Registers (or unregisters) the module script and the three class scripts.
    static void RunAll(RegistrarMode mode, bool perUser = false) {
        std::vector<RegistrarReplacement> replacements = RegistrarModuleReplacements(kModulePath);
        replacements.push_back({L"APPID", kModuleAppId});
        ASSERT_EQ(RegistrarRun(FindRegistryScript(IDR_ZEVFLASHFILE5), replacements, mode, perUser),
                  S_OK);
        for (const ClassScript& script : kClassScripts) {
            ASSERT_EQ(RunScript(script.id, mode, perUser), S_OK);
        }
    }

    // The keys and values one class script writes, below `root`.
    static void ExpectClassRegistered(HKEY root, const ClassScript& script,
                                      const std::wstring& modulePath = kModulePath) {
        const std::wstring key = ClassKey(script);
        EXPECT_EQ(RegistryString(root, key.c_str()), script.title);
        EXPECT_EQ(RegistryString(root, (key + L"\\InprocServer32").c_str()), modulePath);
        EXPECT_EQ(RegistryString(root, (key + L"\\InprocServer32").c_str(), L"ThreadingModel"),
                  L"Apartment");
        EXPECT_EQ(RegistryString(root, (key + L"\\TypeLib").c_str()), kLibId);
        EXPECT_EQ(RegistryString(root, (key + L"\\Version").c_str()), L"1.0");
        EXPECT_EQ(SubkeyNames(root, key),
                  (std::vector<std::wstring>{L"InprocServer32", L"TypeLib", L"Version"}));
    }

    TempRegistry registry_;
};

TEST_F(RegistrarTest, RegisterWritesEachClassMachineWide) {
    RunAll(RegistrarMode::Register);
    for (const ClassScript& script : kClassScripts) {
        ExpectClassRegistered(HKEY_CLASSES_ROOT, script);
        HKEY machineClasses = nullptr;
        ASSERT_EQ(
            RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes", 0, KEY_READ, &machineClasses),
            Result(ERROR_SUCCESS));
        UniqueRegistryKey owned(machineClasses);
        ExpectClassRegistered(machineClasses, script);
        EXPECT_FALSE(
            RegistryKeyExists(HKEY_CLASSES_ROOT, (ClassKey(script) + L"\\ProgID").c_str()));
    }
    EXPECT_EQ(SubkeyNames(HKEY_CLASSES_ROOT, L""), std::vector<std::wstring>{L"CLSID"});
    EXPECT_FALSE(std::filesystem::exists(registry_.UserHive()));
}

TEST_F(RegistrarTest, UnregisterRemovesTheClassesAndKeepsTheSharedCLSIDKey) {
    Create(HKEY_CLASSES_ROOT, L"CLSID\\{11111111-2222-3333-4444-555555555555}");  // someone else
    RunAll(RegistrarMode::Register);
    RunAll(RegistrarMode::Unregister);
    EXPECT_EQ(SubkeyNames(HKEY_CLASSES_ROOT, L"CLSID"),
              std::vector<std::wstring>{L"{11111111-2222-3333-4444-555555555555}"});
    // Unregistering what is not registered is not an error, and creates nothing.
    RunAll(RegistrarMode::Unregister);
    EXPECT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, L"CLSID"), Result(ERROR_SUCCESS));
    RunAll(RegistrarMode::Unregister);
    EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, L"CLSID"));
}

TEST_F(RegistrarTest, NoRemoveCLSIDSurvivesEvenWhenEmpty) {
    RunAll(RegistrarMode::Register);
    RunAll(RegistrarMode::Unregister);
    EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT, L"CLSID"));
    EXPECT_EQ(SubkeyNames(HKEY_CLASSES_ROOT, L"CLSID"), std::vector<std::wstring>{});
}

TEST_F(RegistrarTest, ForceRemoveClearsWhatAnEarlierRegistrationLeft) {
    const ClassScript& file = kClassScripts[0];
    {
        UniqueRegistryKey stale =
            Create(HKEY_CLASSES_ROOT, (ClassKey(file) + L"\\Stale\\Deep").c_str());
        UniqueRegistryKey classKey = Create(HKEY_CLASSES_ROOT, ClassKey(file).c_str());
        ASSERT_EQ(SetString(classKey.get(), L"Old", L"value"), Result(ERROR_SUCCESS));
        UniqueRegistryKey server =
            Create(HKEY_CLASSES_ROOT, (ClassKey(file) + L"\\InprocServer32").c_str());
        ASSERT_EQ(SetString(server.get(), nullptr, L"/old/path.so"), Result(ERROR_SUCCESS));
    }
    ASSERT_EQ(RunScript(file.id, RegistrarMode::Register), S_OK);
    ExpectClassRegistered(HKEY_CLASSES_ROOT, file);
    EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, ClassKey(file).c_str(), L"Old"), std::nullopt);
}

TEST_F(RegistrarTest, PerUserModeWritesUnderTheUsersClasses) {
    RunAll(RegistrarMode::Register, true);
    for (const ClassScript& script : kClassScripts) {
        HKEY userClasses = nullptr;
        ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, KEY_READ, &userClasses),
                  Result(ERROR_SUCCESS));
        UniqueRegistryKey owned(userClasses);
        ExpectClassRegistered(userClasses, script);
        ExpectClassRegistered(HKEY_CLASSES_ROOT, script);  // seen through the merged view
    }
    EXPECT_FALSE(std::filesystem::exists(registry_.MachineHive()));
    RunAll(RegistrarMode::Unregister, true);
    EXPECT_EQ(SubkeyNames(HKEY_CURRENT_USER, L"Software\\Classes\\CLSID"),
              std::vector<std::wstring>{});
    EXPECT_TRUE(RegistryKeyExists(HKEY_CURRENT_USER, L"Software\\Classes"));
    EXPECT_FALSE(std::filesystem::exists(registry_.MachineHive()));
}

TEST_F(RegistrarTest, ModulePathsWithQuotesAndPercentSignsArriveUnchanged) {
    const std::wstring path = L"/home/o'brien/100%/lib.so";
    ASSERT_EQ(RunScript(IDR_FLASHFILE5, RegistrarMode::Register, false, path.c_str()), S_OK);
    ExpectClassRegistered(HKEY_CLASSES_ROOT, kClassScripts[0], path);
    ASSERT_EQ(RegistrarRun(L"HKCR { Raw = s '%Module_Raw%' }",
                           RegistrarModuleReplacements(L"/plain/path.so"), RegistrarMode::Register,
                           false),
              S_OK);
    EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, L"Raw"), L"/plain/path.so");
}

TEST_F(RegistrarTest, PlainKeysStayWhileOtherSubkeysRemain) {
    const wchar_t* script = L"HKCR { App = s 'mine' { Sub = s 'x' } Lone { Leaf } }";
    ASSERT_EQ(Run(script, RegistrarMode::Register), S_OK);
    Create(HKEY_CLASSES_ROOT, L"App\\Foreign");
    ASSERT_EQ(Run(script, RegistrarMode::Unregister), S_OK);
    EXPECT_EQ(SubkeyNames(HKEY_CLASSES_ROOT, L"App"), std::vector<std::wstring>{L"Foreign"});
    EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, L"Lone"));
}

TEST_F(RegistrarTest, UnregisterRemovesNamedValuesOfKeptKeys) {
    {
        UniqueRegistryKey shared = Create(HKEY_CLASSES_ROOT, L"Shared");
        ASSERT_EQ(SetString(shared.get(), L"Theirs", L"keep"), Result(ERROR_SUCCESS));
    }
    const wchar_t* script = L"HKCR { NoRemove Shared { val Mine = s 'x' } }";
    ASSERT_EQ(Run(script, RegistrarMode::Register), S_OK);
    EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, L"Shared", L"Mine"), L"x");
    ASSERT_EQ(Run(script, RegistrarMode::Unregister), S_OK);
    EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, L"Shared", L"Mine"), std::nullopt);
    EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, L"Shared", L"Theirs"), L"keep");
}

TEST_F(RegistrarTest, ValueTypesDeleteKeysAndKeywordsWithoutCase) {
    Create(HKEY_CLASSES_ROOT, L"Obsolete\\Child");
    ASSERT_EQ(Run(L"hkey_classes_root {\n"
                  L"  noremove Types {\n"
                  L"    val Decimal = d '42'\n"
                  L"    val Hex = D 0xFFFFFFFF\n"
                  L"    val Basic = d &H10\n"
                  L"    val Bytes = b '0aFF'\n"
                  L"    val Expand = e '%%HOME%%\\x'\n"
                  L"    val 'Quoted name' = s 'it''s'\n"
                  L"    'NoRemove' = s 'a key named like a keyword'\n"
                  L"  }\n"
                  L"  delete Obsolete\n"
                  L"}\n",
                  RegistrarMode::Register),
              S_OK);
    HKEY raw = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, L"Types", 0, KEY_READ, &raw), Result(ERROR_SUCCESS));
    UniqueRegistryKey types(raw);
    const auto value = [&](const wchar_t* name, DWORD expectedType) {
        DWORD type = 0;
        BYTE data[64] = {};
        DWORD size = sizeof(data);
        EXPECT_EQ(RegQueryValueExW(types.get(), name, nullptr, &type, data, &size),
                  Result(ERROR_SUCCESS));
        EXPECT_EQ(type, expectedType) << testing::PrintToString(std::wstring(name));
        return std::string(reinterpret_cast<const char*>(data), size);
    };
    EXPECT_EQ(value(L"Decimal", REG_DWORD), std::string("\x2A\0\0\0", 4));
    EXPECT_EQ(value(L"Hex", REG_DWORD), std::string("\xFF\xFF\xFF\xFF", 4));
    EXPECT_EQ(value(L"Basic", REG_DWORD), std::string("\x10\0\0\0", 4));
    EXPECT_EQ(value(L"Bytes", REG_BINARY), std::string("\x0A\xFF", 2));
    const std::string expand = value(L"Expand", REG_EXPAND_SZ);
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(expand.data())), L"%HOME%\\x");
    EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, L"Types", L"Quoted name"), L"it's");
    EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, L"Types\\NoRemove"), L"a key named like a keyword");
    EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, L"Obsolete"));
}

TEST_F(RegistrarTest, ModuleScriptAndEmptyScriptsWriteNothing) {
    std::vector<RegistrarReplacement> replacements = RegistrarModuleReplacements(kModulePath);
    replacements.push_back({L"APPID", kModuleAppId});
    EXPECT_EQ(RegistrarRun(FindRegistryScript(IDR_ZEVFLASHFILE5), replacements,
                           RegistrarMode::Register, false),
              S_OK);
    EXPECT_EQ(Run(L"", RegistrarMode::Register), S_OK);
    EXPECT_EQ(Run(L" \r\n\t", RegistrarMode::Unregister), S_OK);
    EXPECT_EQ(SubkeyNames(HKEY_CLASSES_ROOT, L""), std::vector<std::wstring>{});
    EXPECT_EQ(FindRegistryScript(102), nullptr);
}

TEST_F(RegistrarTest, MalformedScriptsFailBeforeWritingAnything) {
    std::wstring tooDeep = L"HKCR {";
    for (int i = 0; i < 70; ++i) tooDeep += L" K {";
    for (int i = 0; i < 71; ++i) tooDeep += L" }";
    const std::vector<std::wstring> scripts = {
        L"HKXX { }",                         // unknown root
        L"HKCR Key",                         // no block after the root
        L"HKCR { Key {",                     // blocks left open
        L"HKCR { } }",                       // a brace too many
        L"HKCR { Key = s 'unterminated }",   // string without its closing quote
        L"HKCR { Key = }",                   // '=' without a value
        L"HKCR { Key = s }",                 // type without data
        L"HKCR { Key = m 'multi' }",         // unsupported type
        L"HKCR { Key = sz 'x' }",            // type is one letter
        L"HKCR { val = d '1' }",             // val without a name
        L"HKCR { val X s 'y' }",             // val without '='
        L"HKCR { val X = d 'x12' }",         // not a number
        L"HKCR { val X = d '4294967296' }",  // more than 32 bits
        L"HKCR { val X = b 'abc' }",         // odd number of hex digits
        L"HKCR { val X = b 'zz' }",          // not hex
        L"HKCR { Delete Key = s 'x' }",      // Delete takes no value
        L"HKCR { Delete Key { } }",          // nor a body
        L"HKCR { 'A\\B' }",                  // a key name is one name
        L"HKCR { '' }",                      // empty key name
        L"HKCR { { } }",                     // '{' is not a name
        L"HKCR { NoRemove }",                // keyword without a name
        L"HKCR { Good = s 'x' } HKXX { }",   // valid start, invalid end
        L"HKCR { Key = s '%NOPE%' }",        // unknown replacement
        L"HKCR { Key = s '100%' }",          // lone percent sign
        tooDeep,                             // nested too deep
    };
    for (const std::wstring& script : scripts) {
        EXPECT_EQ(Run(script.c_str(), RegistrarMode::Register), DISP_E_EXCEPTION)
            << testing::PrintToString(script);
        EXPECT_EQ(Run(script.c_str(), RegistrarMode::Unregister), DISP_E_EXCEPTION)
            << testing::PrintToString(script);
    }
    EXPECT_FALSE(std::filesystem::exists(registry_.MachineHive()));
    EXPECT_FALSE(std::filesystem::exists(registry_.UserHive()));
}

TEST_F(RegistrarTest, RegistryFailuresAreReturned) {
    std::filesystem::create_directories(registry_.MachineHive().parent_path());
    std::ofstream(registry_.MachineHive()) << "damaged";
    EXPECT_EQ(RunScript(IDR_FLASHFILE5, RegistrarMode::Register), HRESULT_FROM_WIN32(ERROR_BADDB));
    EXPECT_EQ(RunScript(IDR_FLASHFILE5, RegistrarMode::Unregister),
              HRESULT_FROM_WIN32(ERROR_BADDB));
    // Per user, the damaged machine hive is not involved.
    EXPECT_EQ(RunScript(IDR_FLASHFILE5, RegistrarMode::Register, true), S_OK);
}
}  // namespace
