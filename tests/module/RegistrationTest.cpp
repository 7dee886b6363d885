// Registration of the loaded component, machine-wide and per user: the keys and values written
// and removed, objects created through the registry that open and read a file, and failures.
// Scenarios that may set the per-user flag (which lasts for the rest of a process) each run in
// a child process of their own.
#include <fstream>

#include "platform/Com.h"
#include "platform/Locale.h"
#include "platform/TextConvert.h"
#include "platform/posix/TypeLibRegistration.h"
#include "tests/module/ComponentLibrary.h"

namespace {
namespace fs = std::filesystem;

// Everything registration writes, exactly as the scripts say, below one hive's Software\Classes.
void ExpectRegisteredIn(HKEY hive) {
    const UniqueRegistryKey classes = OpenRegistryKey(hive, L"Software\\Classes");
    ASSERT_TRUE(classes);
    ExpectClassKeys(classes.get());
    ExpectTypeLibKeys(classes.get(), L"0");
}

// Nothing of the registration is left in either hive, and CoCreateInstance no longer finds the
// class; the shared CLSID key and other software's classes below it stay.
void ExpectUnregistered() {
    for (const auto& [key, title] : kRegisteredClasses) {
        EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, key.c_str())) << WideToUtf8(title);
    }
    EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, kTypeLibKey.c_str()));
    EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, kEventsKey.c_str()));
    EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT, kForeignClassKey));
    ComPtr<IMediaSource> none;
    EXPECT_EQ(CreateInstance(CLSID_FlashFile5, none), REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(none);
}

// Registration leaves the caller's thread locale as it found it (checked after each call).
class RegistrationTest : public ComponentTest {
  protected:
    void SetUp() override {
        ComponentTest::SetUp();
        ASSERT_EQ(SetRegistryString(HKEY_CLASSES_ROOT, kForeignClassKey, nullptr, L"Other"),
                  ERROR_SUCCESS);
        SetThreadLocale(kCallerLocale);
    }
    void TearDown() override { SetThreadLocale(saved_); }
    static HRESULT Checked(HRESULT hr) {
        EXPECT_EQ(GetThreadLocale(), kCallerLocale) << "the caller's locale was not restored";
        return hr;
    }
    static constexpr LCID kCallerLocale = 0x0407;
    const LCID saved_ = GetThreadLocale();
};

TEST_F(RegistrationTest, DllRegisterServerRegistersMachineWideUntilDllUnregisterServer) {
    ASSERT_EQ(Checked(Component().registerServer()), S_OK);
    ExpectRegisteredIn(HKEY_LOCAL_MACHINE);
    EXPECT_FALSE(fs::exists(registry.UserHive()));
    ExpectCreatedThroughTheRegistryAndReading();
    ASSERT_EQ(Checked(Component().unregisterServer()), S_OK);
    ExpectUnregistered();
    // With nothing left, the type library's unregistration fails, as it does on Windows.
    EXPECT_EQ(Checked(Component().unregisterServer()), TYPE_E_REGISTRYACCESS);
}

TEST_F(RegistrationTest, DllInstallWithoutUserRegistersMachineWide) {
    RunInChildProcess([&] {
        for (const wchar_t* commandLine :
             {static_cast<const wchar_t*>(nullptr), L"users", L"use", L"", L"machine"}) {
            SCOPED_TRACE(commandLine ? WideToUtf8(commandLine) : "null");
            ASSERT_EQ(Checked(Component().install(TRUE, commandLine)), S_OK);
            ExpectRegisteredIn(HKEY_LOCAL_MACHINE);
            EXPECT_FALSE(fs::exists(registry.UserHive()));
            ASSERT_EQ(Checked(Component().install(FALSE, commandLine)), S_OK);
            ExpectUnregistered();
        }
    });
}

TEST_F(RegistrationTest, DllInstallForTheUserRegistersUnderTheUsersClasses) {
    const std::string machineHive = FileBytes(registry.MachineHive());
    RunInChildProcess([&] {
        ASSERT_EQ(Checked(Component().install(TRUE, L"user")), S_OK);
        ExpectRegisteredIn(HKEY_CURRENT_USER);
        ExpectCreatedThroughTheRegistryAndReading();
        ASSERT_EQ(Checked(Component().install(FALSE, L"user")), S_OK);
        ExpectUnregistered();
        // The flag stays for the rest of the process: DllRegisterServer now registers per user.
        ASSERT_EQ(Component().registerServer(), S_OK);
        ExpectRegisteredIn(HKEY_CURRENT_USER);
        ASSERT_EQ(Component().unregisterServer(), S_OK);
        ExpectUnregistered();
    });
    // Nothing of it reached the machine hive (which holds only the other software's class).
    EXPECT_EQ(FileBytes(registry.MachineHive()), machineHive);
    // The command ignores case.
    RunInChildProcess([&] {
        ASSERT_EQ(Component().install(TRUE, L"uSeR"), S_OK);
        ExpectRegisteredIn(HKEY_CURRENT_USER);
        EXPECT_EQ(FileBytes(registry.MachineHive()), machineHive);
    });
}

TEST_F(RegistrationTest, FailuresAreReturnedAndTheDamagedHiveLeftAsItWas) {
    std::ofstream(registry.MachineHive()) << "damaged";
    const HRESULT unreadable = HRESULT_FROM_WIN32(ERROR_BADDB);
    EXPECT_EQ(Checked(Component().registerServer()), unreadable);
    EXPECT_EQ(Checked(Component().install(TRUE, nullptr)), unreadable);
    EXPECT_EQ(Checked(Component().unregisterServer()), unreadable);
    EXPECT_EQ(FileBytes(registry.MachineHive()), "damaged");
}

}  // namespace
