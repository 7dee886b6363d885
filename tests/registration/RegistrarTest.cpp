// The registrar on the module's own scripts (exact keys and values written and removed, per
// machine and per user) and on small scripts for the rest of the language, malformed ones too.
#include <gtest/gtest.h>

#include <fstream>

#include "frame/registrar/Registrar.h"
#include "frame/registrar/Scripts.h"
#include "tests/support/TempRegistry.h"

namespace {
constexpr wchar_t kModulePath[] = L"/opt/zev/lib/libzevflashfile5.so";
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

HRESULT RunScript(std::wstring_view script, RegistrarMode mode, bool perUser = false,
                  std::wstring_view modulePath = kModulePath) {
    return RegistrarRun(script, RegistrarModuleReplacements(modulePath), mode, perUser);
}

// Runs the module script and the three class scripts as the module's registration does.
void RunAll(RegistrarMode mode, bool perUser) {
    std::vector<RegistrarReplacement> replacements = RegistrarModuleReplacements(kModulePath);
    replacements.push_back({L"APPID", kModuleAppId});
    ASSERT_EQ(RegistrarRun(FindRegistryScript(IDR_ZEVFLASHFILE5), replacements, mode, perUser),
              S_OK);
    for (const ClassScript& script : kClassScripts)
        ASSERT_EQ(RunScript(FindRegistryScript(script.id), mode, perUser), S_OK);
}

// Exactly the keys and values one class script writes, below `root`'s key `classes`.
void ExpectClassRegistered(HKEY root, const std::wstring& classes, const ClassScript& script,
                           const std::wstring& modulePath = kModulePath) {
    const std::wstring key = classes + L"CLSID\\" + script.clsid;
    const std::wstring server = key + L"\\InprocServer32";
    EXPECT_EQ(RegistryString(root, key.c_str()), script.title);
    EXPECT_EQ(RegistryString(root, server.c_str()), modulePath);
    EXPECT_EQ(RegistryString(root, server.c_str(), L"ThreadingModel"), L"Apartment");
    EXPECT_EQ(RegistryString(root, (key + L"\\TypeLib").c_str()),
              L"{7D647A2A-F2CF-4518-9AC3-D0217098D2E5}");
    EXPECT_EQ(RegistryString(root, (key + L"\\Version").c_str()), L"1.0");
    EXPECT_EQ(RegistrySubkeyNames(root, key.c_str()),  // and no ProgID
              (std::vector<std::wstring>{L"InprocServer32", L"TypeLib", L"Version"}));
}

class RegistrarTest : public testing::Test {
  protected:
    TempRegistry registry_;
};

TEST_F(RegistrarTest, ModuleScriptsRegisterAndUnregisterPerUserAndMachineWide) {
    // Another class of the user's, which unregistering must leave alone.
    const std::wstring foreign = L"{11111111-2222-3333-4444-555555555555}";
    ASSERT_EQ(SetRegistryString(HKEY_CURRENT_USER,
                                (L"Software\\Classes\\CLSID\\" + foreign).c_str(), nullptr, L"x"),
              0);
    for (const bool perUser : {true, false}) {
        SCOPED_TRACE(perUser ? "per user" : "machine-wide");
        RunAll(RegistrarMode::Register, perUser);
        const HKEY hive = perUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
        for (const ClassScript& script : kClassScripts) {
            ExpectClassRegistered(hive, L"Software\\Classes\\", script);
            ExpectClassRegistered(HKEY_CLASSES_ROOT, L"", script);
        }
        EXPECT_EQ(RegistrySubkeyNames(HKEY_CLASSES_ROOT, L""), std::vector<std::wstring>{L"CLSID"});
        RunAll(RegistrarMode::Unregister, perUser);
        RunAll(RegistrarMode::Unregister, perUser);  // unregistering twice is no error
        // NoRemove CLSID stays, with whatever else it holds.
        EXPECT_TRUE(RegistryKeyExists(hive, L"Software\\Classes\\CLSID"));
        EXPECT_EQ(RegistrySubkeyNames(HKEY_CLASSES_ROOT, L"CLSID"),
                  std::vector<std::wstring>{foreign});
        // The per-user pass ran first and never touched the machine hive.
        EXPECT_EQ(std::filesystem::exists(registry_.MachineHive()), !perUser);
    }
}

TEST_F(RegistrarTest, ForceRemoveReplacesAStaleRegistrationAndPathsArriveUnchanged) {
    const std::wstring key = std::wstring(L"CLSID\\") + kClassScripts[0].clsid;
    ASSERT_EQ(SetRegistryString(HKEY_CLASSES_ROOT, (key + L"\\Stale\\Deep").c_str(), nullptr, L""),
              0);
    ASSERT_EQ(SetRegistryString(HKEY_CLASSES_ROOT, key.c_str(), L"Old", L"value"), 0);
    const std::wstring path = L"/home/o'brien/100%/lib.so";  // quote and percent sign
    ASSERT_EQ(RunScript(FindRegistryScript(IDR_FLASHFILE5), RegistrarMode::Register, false, path),
              S_OK);
    ExpectClassRegistered(HKEY_CLASSES_ROOT, L"", kClassScripts[0], path);  // no Stale key left
    EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, key.c_str(), L"Old"), std::nullopt);
    ASSERT_EQ(RunScript(L"HKCR { Raw = s '%Module_Raw%' }", RegistrarMode::Register), S_OK);
    EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, L"Raw"), kModulePath);
}

TEST_F(RegistrarTest, UnregisterRemovesOnlyWhatTheScriptWrote) {
    ASSERT_EQ(SetRegistryString(HKEY_CLASSES_ROOT, L"Shared", L"Theirs", L"keep"), 0);
    const wchar_t* script =
        L"HKCR { NoRemove Shared { val 'My name' = s 'it''s' } App = s 'mine' { Sub = s 'x' } }";
    ASSERT_EQ(RunScript(script, RegistrarMode::Register), S_OK);
    EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, L"Shared", L"My name"), L"it's");
    EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, L"App\\Sub"), L"x");
    // Another's subkey keeps a plain key alive; the values of a kept key go, others' stay.
    ASSERT_EQ(SetRegistryString(HKEY_CLASSES_ROOT, L"App\\Foreign", nullptr, L""), 0);
    ASSERT_EQ(RunScript(script, RegistrarMode::Unregister), S_OK);
    EXPECT_EQ(RegistrySubkeyNames(HKEY_CLASSES_ROOT, L"App"),
              std::vector<std::wstring>{L"Foreign"});
    EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, L"Shared", L"My name"), std::nullopt);
    EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, L"Shared", L"Theirs"), L"keep");
}

TEST_F(RegistrarTest, FailuresWriteNothingAndRegistryErrorsAreReturned) {
    std::wstring tooDeep = L"HKCR {";
    for (int i = 0; i < 70; ++i) tooDeep += L" K {";
    for (int i = 0; i < 71; ++i) tooDeep += L" }";
    const std::wstring scripts[] = {
        L"HKXX { }",                         // unknown root
        L"HKCR { Key {",                     // blocks left open
        L"HKCR { Key = s 'unterminated }",   // string without its closing quote
        L"HKCR { val X = d '4294967296' }",  // more than 32 bits
        L"HKCR { 'A\\B' }",                  // a key name is one name
        L"HKCR { Good = s 'x' } HKXX { }",   // valid start, invalid end
        L"HKCR { Key = s '%NOPE%' }",        // unknown replacement
        tooDeep,                             // nested too deep
    };
    for (const std::wstring& script : scripts) {
        for (RegistrarMode mode : {RegistrarMode::Register, RegistrarMode::Unregister})
            EXPECT_EQ(RunScript(script, mode), DISP_E_EXCEPTION) << testing::PrintToString(script);
    }
    EXPECT_FALSE(std::filesystem::exists(registry_.MachineHive()));
    // A damaged machine hive fails machine-wide runs but not per-user ones.
    std::filesystem::create_directories(registry_.MachineHive().parent_path());
    std::ofstream(registry_.MachineHive()) << "damaged";
    const wchar_t* file = FindRegistryScript(IDR_FLASHFILE5);
    EXPECT_EQ(RunScript(file, RegistrarMode::Register), HRESULT_FROM_WIN32(ERROR_BADDB));
    EXPECT_EQ(RunScript(file, RegistrarMode::Register, true), S_OK);
}
}  // namespace
