// The registrar on small scripts for the script language, malformed ones too, and on one of the
// module's scripts (the module's own tests check every script's keys through DllInstall).
#include <gtest/gtest.h>

#include <fstream>

#include "frame/registrar/Registrar.h"
#include "frame/registrar/Scripts.h"
#include "tests/support/TempRegistry.h"

namespace {
constexpr wchar_t kModulePath[] = L"/opt/zev/lib/libzevflashfile5.so";
const std::wstring kClassKey = L"CLSID\\{4782B4A0-9258-40BD-8739-54432C6407A2}";

HRESULT RunScript(std::wstring_view script, RegistrarMode mode, bool perUser = false,
                  std::wstring_view modulePath = kModulePath) {
    return RegistrarRun(script, RegistrarModuleReplacements(modulePath), mode, perUser);
}

class RegistrarTest : public testing::Test {
  protected:
    TempRegistry registry_;
};

// ForceRemove replaces a stale registration; paths with a quote and a percent sign arrive
// unchanged; unregistering removes only what the script wrote (another's subkey keeps a plain
// key alive; the values of a NoRemove key go, others' stay).
TEST_F(RegistrarTest, ForceRemoveQuotingAndUnregisterRemovesOnlyWhatTheScriptWrote) {
    const std::wstring server = kClassKey + L"\\InprocServer32";
    ASSERT_EQ(SetRegistryString(HKEY_CLASSES_ROOT, (kClassKey + L"\\Stale").c_str(), L"Old", L""),
              0);
    const std::wstring path = L"/home/o'brien/100%/lib.so";
    const wchar_t* file = FindRegistryScript(IDR_FLASHFILE5);
    ASSERT_EQ(RunScript(file, RegistrarMode::Register, false, path), S_OK);
    EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, server.c_str()), path);
    EXPECT_EQ(RegistrySubkeyNames(HKEY_CLASSES_ROOT, kClassKey.c_str()),
              (std::vector<std::wstring>{L"InprocServer32", L"TypeLib", L"Version"}));
    for (int twice = 0; twice < 2; ++twice)  // unregistering twice is no error
        ASSERT_EQ(RunScript(file, RegistrarMode::Unregister), S_OK);
    EXPECT_EQ(RegistrySubkeyNames(HKEY_CLASSES_ROOT, L"CLSID"), std::vector<std::wstring>{});
    ASSERT_EQ(SetRegistryString(HKEY_CLASSES_ROOT, L"Shared", L"Theirs", L"keep"), 0);
    const wchar_t* script =
        L"HKCR { NoRemove Shared { val 'My name' = s 'it''s' } App = s '%Module_Raw%' {"
        L" Sub = s 'x' } }";
    ASSERT_EQ(RunScript(script, RegistrarMode::Register), S_OK);
    EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, L"Shared", L"My name"), L"it's");
    EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, L"App"), kModulePath);
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
