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

const std::pair<std::wstring, const wchar_t*> kRegisteredClasses[] = {
    {L"CLSID\\{4782B4A0-9258-40BD-8739-54432C6407A2}", L"FlashFile5 Class"},
    {L"CLSID\\{5E470577-C2B2-4451-9A88-10E1493C8126}", L"FlashAudioStream5 Class"},
    {L"CLSID\\{2D955AA8-8E94-4A94-A669-C493B0730C20}", L"FlashVideoStream5 Class"},
};
constexpr wchar_t kLibId[] = L"{7D647A2A-F2CF-4518-9AC3-D0217098D2E5}";
const std::wstring kTypeLibKey = L"TypeLib\\{7D647A2A-F2CF-4518-9AC3-D0217098D2E5}";
const std::wstring kEventsKey = L"Interface\\{28591EB4-B1A9-429D-A95A-1DECEDCFC688}";
// A class of other software under the shared CLSID key.
constexpr wchar_t kForeignClassKey[] = L"CLSID\\{99999999-8888-7777-6666-555555555555}";

// Everything registration writes, exactly as the scripts say, below one hive's Software\Classes.
void ExpectRegisteredIn(HKEY hive) {
    const UniqueRegistryKey classes = OpenRegistryKey(hive, L"Software\\Classes");
    ASSERT_TRUE(classes);
    const auto value = [&](const std::wstring& key, const wchar_t* name = nullptr) {
        return RegistryString(classes.get(), key.c_str(), name);
    };
    const std::wstring module = ComponentPath();
    for (const auto& [key, title] : kRegisteredClasses) {
        EXPECT_EQ(value(key), title);
        EXPECT_EQ(RegistrySubkeyNames(classes.get(), key.c_str()),
                  (std::vector<std::wstring>{L"InprocServer32", L"TypeLib", L"Version"}));
        EXPECT_EQ(value(key + L"\\InprocServer32"), module);
        EXPECT_EQ(value(key + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
        EXPECT_EQ(value(key + L"\\TypeLib"), kLibId);
        EXPECT_EQ(value(key + L"\\Version"), L"1.0");
    }
    EXPECT_EQ(value(kTypeLibKey + L"\\1.0"), L"zevflashfile5 1.0 Type Library");
    EXPECT_EQ(value(kTypeLibKey + L"\\1.0\\FLAGS"), L"0");
    EXPECT_EQ(value(kTypeLibKey + L"\\1.0\\0\\win64"), module);
    EXPECT_EQ(value(kTypeLibKey + L"\\1.0\\HELPDIR"), fs::path(module).parent_path().wstring());
    EXPECT_EQ(value(kEventsKey), L"_IFlashFile5Events");
    EXPECT_EQ(value(kEventsKey + L"\\TypeLib"), kLibId);
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

// A FlashFile5 object made through the registry opens the sample file and reads its first video
// frame (as ffmpeg decodes it) and a block of audio; its stream objects come from the same
// loaded module. With no ffmpeg, only the creation is checked.
void ExpectCreatedThroughTheRegistryAndReading() {
    ComPtr<IMediaSource> source;
    ASSERT_EQ(CreateInstance(CLSID_FlashFile5, source), S_OK);
    const std::optional<fs::path> file = SampleFile();
    if (!file) return;
    ASSERT_EQ(source->SendCommandEx(1, OpenParams(*file).Get(), nullptr), S_OK);
    ComPtr<IUnknown> data;
    ASSERT_EQ(source->ReadVideo(0, 0, data.Put()), S_OK);
    const std::optional<ReadFrame> frame = FrameOf(data.Get());
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->time, 0.0);
    EXPECT_EQ(frame->md5, PeerFrames(*file).at(0).md5);
    ASSERT_EQ(source->ReadAudio(0, 0, 100.0, data.Put()), S_OK);
    const std::optional<PcmPacket> block = PcmPacketOf(data.Get());
    ASSERT_TRUE(block);
    EXPECT_FALSE(block->data.empty());
    EXPECT_NEAR(block->duration, 100.0, 1.0);
    // The video stream object outlives the source and still holds the module's lock.
    ComPtr<IUnknown> videoStream;
    ASSERT_EQ(source->get_videoStream(0, 0, videoStream.Put()), S_OK);
    source.Reset();
    EXPECT_EQ(Component().canUnloadNow(), S_FALSE);
    videoStream.Reset();
    EXPECT_EQ(Component().canUnloadNow(), S_OK);
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
