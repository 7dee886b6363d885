// Registration of the loaded component, machine-wide and per user: the keys and values written
// and removed, objects created through the registry that open and read a file, and failures.
// Scenarios that may set the per-user flag (which lasts for the rest of a process) each run in
// a child process of their own.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/Bstr.h"
#include "platform/Com.h"
#include "platform/Locale.h"
#include "platform/TextConvert.h"
#include "platform/TypeLibRegistration.h"
#include "tests/module/ComponentLibrary.h"
#include "tests/support/FfmpegTools.h"

namespace {
namespace fs = std::filesystem;

constexpr LONG kSuccess = static_cast<LONG>(ERROR_SUCCESS);

struct RegisteredClass {
    const wchar_t* key;
    const wchar_t* title;
};
const RegisteredClass kRegisteredClasses[] = {
    {L"CLSID\\{4782B4A0-9258-40BD-8739-54432C6407A2}", L"FlashFile5 Class"},
    {L"CLSID\\{5E470577-C2B2-4451-9A88-10E1493C8126}", L"FlashAudioStream5 Class"},
    {L"CLSID\\{2D955AA8-8E94-4A94-A669-C493B0730C20}", L"FlashVideoStream5 Class"},
};
constexpr wchar_t kLibId[] = L"{7D647A2A-F2CF-4518-9AC3-D0217098D2E5}";
constexpr wchar_t kTypeLibKey[] = L"TypeLib\\{7D647A2A-F2CF-4518-9AC3-D0217098D2E5}";
constexpr wchar_t kEventsKey[] = L"Interface\\{28591EB4-B1A9-429D-A95A-1DECEDCFC688}";
// A class of other software under the shared CLSID key.
constexpr wchar_t kForeignClassKey[] = L"CLSID\\{99999999-8888-7777-6666-555555555555}";

std::wstring Below(const std::wstring& key, const wchar_t* path) {
    return key + L"\\" + path;
}

// The subkey names of `key` below `root`.
std::vector<std::wstring> Subkeys(HKEY root, const std::wstring& key) {
    std::vector<std::wstring> names;
    HKEY raw = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &raw) != kSuccess) return names;
    UniqueRegistryKey opened(raw);
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(opened.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            kSuccess) {
            break;
        }
        names.emplace_back(name, length);
    }
    return names;
}

// The Software\Classes key of a hive (HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER).
UniqueRegistryKey ClassesOf(HKEY hive) {
    HKEY raw = nullptr;
    EXPECT_EQ(RegOpenKeyExW(hive, L"Software\\Classes", 0, KEY_READ, &raw), kSuccess);
    return UniqueRegistryKey(raw);
}

// Everything registration writes, below one hive's Software\Classes.
void ExpectRegisteredIn(HKEY hive) {
    const UniqueRegistryKey classes = ClassesOf(hive);
    ASSERT_TRUE(classes);
    const std::wstring module = ComponentPath();
    for (const RegisteredClass& entry : kRegisteredClasses) {
        SCOPED_TRACE(WideToUtf8(entry.title));
        const std::wstring server = Below(entry.key, L"InprocServer32");
        EXPECT_EQ(RegistryString(classes.get(), entry.key), entry.title);
        EXPECT_EQ(Subkeys(classes.get(), entry.key),
                  (std::vector<std::wstring>{L"InprocServer32", L"TypeLib", L"Version"}));
        EXPECT_EQ(RegistryString(classes.get(), server.c_str()), module);
        EXPECT_EQ(RegistryString(classes.get(), server.c_str(), L"ThreadingModel"), L"Apartment");
        EXPECT_EQ(RegistryString(classes.get(), Below(entry.key, L"TypeLib").c_str()), kLibId);
        EXPECT_EQ(RegistryString(classes.get(), Below(entry.key, L"Version").c_str()), L"1.0");
    }
    const std::wstring version = Below(kTypeLibKey, L"1.0");
    EXPECT_EQ(RegistryString(classes.get(), version.c_str()), L"zevflashfile5Lib");
    EXPECT_EQ(RegistryString(classes.get(), Below(version, L"FLAGS").c_str()), L"0");
    EXPECT_EQ(RegistryString(classes.get(), Below(version, L"0\\win64").c_str()), module);
    EXPECT_EQ(RegistryString(classes.get(), Below(version, L"HELPDIR").c_str()),
              fs::path(module).parent_path().wstring());
    EXPECT_EQ(RegistryString(classes.get(), kEventsKey), L"_IFlashFile5Events");
    EXPECT_EQ(RegistryString(classes.get(), Below(kEventsKey, L"TypeLib").c_str()), kLibId);
}

// Nothing of the registration is left in either hive; the shared CLSID key and other
// software's classes below it stay.
void ExpectUnregistered() {
    for (const RegisteredClass& entry : kRegisteredClasses) {
        EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, entry.key)) << WideToUtf8(entry.key);
    }
    EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, kTypeLibKey));
    EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, kEventsKey));
    EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT, kForeignClassKey));
    ComPtr<IMediaSource> none;
    EXPECT_EQ(CreateInstance(CLSID_FlashFile5, none), REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(none);
}

void AddForeignClass() {
    HKEY raw = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, kForeignClassKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &raw, nullptr),
              kSuccess);
    RegCloseKey(raw);
}

// A FlashFile5 object made through the registry opens the sample file and reads its first video
// frame (as ffmpeg decodes it) and a block of audio; its stream objects come from the same
// loaded module. With no ffmpeg, only the creation is checked.
void ExpectCreatedThroughTheRegistryAndReading() {
    ComPtr<IMediaSource> source;
    ASSERT_EQ(CreateInstance(CLSID_FlashFile5, source), S_OK);
    const std::optional<fs::path> file = SampleFile();
    if (!file) return;
    ComPtr<IMediaParams> params;
    ASSERT_EQ(CreateInstance(CLSID_MediaParams, params), S_OK);
    ASSERT_EQ(params->SetLong(Bstr(L"OperationMode").Get(), 0, 1), S_OK);
    ASSERT_EQ(params->SetString(Bstr(L"FileName").Get(), 0, Bstr(file->wstring()).Get()), S_OK);
    ASSERT_EQ(source->SendCommandEx(1, params.Get(), nullptr), S_OK);

    ComPtr<IUnknown> data;
    ASSERT_EQ(source->ReadVideo(0, 0, data.Put()), S_OK);
    const ComPtr<IMediaPacket> frame = data.As<IMediaPacket>();
    ASSERT_TRUE(frame);
    double time = -1.0;
    LONG size = 0;
    BYTE* bytes = nullptr;
    EXPECT_EQ(frame->GetTime(&time), S_OK);
    EXPECT_EQ(frame->GetSize(&size), S_OK);
    EXPECT_EQ(frame->GetData(&bytes), S_OK);
    EXPECT_EQ(time, 0.0);
    const std::vector<FrameHash> peer = VideoFrameHashes(*file);
    ASSERT_FALSE(peer.empty());
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(Md5Hex(bytes, static_cast<std::size_t>(size)), peer[0].md5);

    ASSERT_EQ(source->ReadAudio(0, 0, 100.0, data.Put()), S_OK);
    const ComPtr<IMediaPacket> block = data.As<IMediaPacket>();
    ASSERT_TRUE(block);
    double duration = 0.0;
    EXPECT_EQ(block->GetSize(&size), S_OK);
    EXPECT_EQ(block->GetDuration(&duration), S_OK);
    EXPECT_GT(size, 0);
    EXPECT_NEAR(duration, 100.0, 1.0);

    // The video stream object outlives the source and still holds the module's lock.
    ComPtr<IUnknown> videoStream;
    ASSERT_EQ(source->get_videoStream(0, 0, videoStream.Put()), S_OK);
    source.Reset();
    EXPECT_TRUE(videoStream.As<IFlashVideoStream5>());
    EXPECT_EQ(Component().canUnloadNow(), S_FALSE);
    videoStream.Reset();
    EXPECT_EQ(Component().canUnloadNow(), S_OK);
}

// Registration leaves the caller's thread locale as it found it.
class LocaleCheck {
  public:
    LocaleCheck() : saved_(GetThreadLocale()) { SetThreadLocale(kCallerLocale); }
    ~LocaleCheck() { SetThreadLocale(saved_); }
    static void ExpectCallersLocale() { EXPECT_EQ(GetThreadLocale(), kCallerLocale); }

  private:
    static constexpr LCID kCallerLocale = 0x0407;
    LCID saved_;
};

class RegistrationTest : public ComponentTest {};

TEST_F(RegistrationTest, DllRegisterServerRegistersMachineWideUntilDllUnregisterServer) {
    AddForeignClass();
    LocaleCheck locale;
    ASSERT_EQ(Component().registerServer(), S_OK);
    LocaleCheck::ExpectCallersLocale();
    ExpectRegisteredIn(HKEY_LOCAL_MACHINE);
    EXPECT_FALSE(fs::exists(registry.UserHive()));
    ExpectCreatedThroughTheRegistryAndReading();

    ASSERT_EQ(Component().unregisterServer(), S_OK);
    LocaleCheck::ExpectCallersLocale();
    ExpectUnregistered();
    // With nothing left, the type library's unregistration fails, as it does on Windows.
    EXPECT_EQ(Component().unregisterServer(), TYPE_E_REGISTRYACCESS);
    LocaleCheck::ExpectCallersLocale();
}

TEST_F(RegistrationTest, DllInstallWithoutUserRegistersMachineWide) {
    AddForeignClass();
    RunInChildProcess([&] {
        for (const wchar_t* commandLine :
             {static_cast<const wchar_t*>(nullptr), L"users", L"use", L"", L"machine"}) {
            SCOPED_TRACE(commandLine ? WideToUtf8(commandLine) : "null");
            ASSERT_EQ(Component().install(TRUE, commandLine), S_OK);
            ExpectRegisteredIn(HKEY_LOCAL_MACHINE);
            EXPECT_FALSE(fs::exists(registry.UserHive()));
            ASSERT_EQ(Component().install(FALSE, commandLine), S_OK);
            ExpectUnregistered();
        }
        // The per-user flag was never set: plain registration is machine-wide too.
        ASSERT_EQ(Component().registerServer(), S_OK);
        EXPECT_FALSE(fs::exists(registry.UserHive()));
        ExpectCreatedThroughTheRegistryAndReading();
    });
}

TEST_F(RegistrationTest, DllInstallForTheUserRegistersUnderTheUsersClasses) {
    AddForeignClass();
    const std::string machineHive = [&] {
        std::ifstream in(registry.MachineHive(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }();
    RunInChildProcess([&] {
        LocaleCheck locale;
        ASSERT_EQ(Component().install(TRUE, L"user"), S_OK);
        LocaleCheck::ExpectCallersLocale();
        ExpectRegisteredIn(HKEY_CURRENT_USER);
        ExpectCreatedThroughTheRegistryAndReading();

        ASSERT_EQ(Component().install(FALSE, L"user"), S_OK);
        LocaleCheck::ExpectCallersLocale();
        ExpectUnregistered();

        // The flag stays for the rest of the process: DllRegisterServer now registers per user.
        ASSERT_EQ(Component().registerServer(), S_OK);
        ExpectRegisteredIn(HKEY_CURRENT_USER);
        ASSERT_EQ(Component().unregisterServer(), S_OK);
        ExpectUnregistered();
    });
    // Nothing of it reached the machine hive (which holds only the other software's class).
    std::ifstream in(registry.MachineHive(), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), machineHive);
}

TEST_F(RegistrationTest, TheUserCommandIgnoresCase) {
    RunInChildProcess([&] {
        ASSERT_EQ(Component().install(TRUE, L"USER"), S_OK);
        ExpectRegisteredIn(HKEY_CURRENT_USER);
        EXPECT_FALSE(fs::exists(registry.MachineHive()));
    });
    RunInChildProcess([&] {
        ASSERT_EQ(Component().install(TRUE, L"uSeR"), S_OK);
        ExpectRegisteredIn(HKEY_CURRENT_USER);
        EXPECT_FALSE(fs::exists(registry.MachineHive()));
    });
}

TEST_F(RegistrationTest, FailuresAreReturnedAndTheLocaleRestored) {
    fs::create_directories(registry.MachineHive().parent_path());
    std::ofstream(registry.MachineHive()) << "damaged";
    LocaleCheck locale;
    const HRESULT unreadable = HRESULT_FROM_WIN32(ERROR_BADDB);
    EXPECT_EQ(Component().registerServer(), unreadable);
    LocaleCheck::ExpectCallersLocale();
    EXPECT_EQ(Component().install(TRUE, nullptr), unreadable);
    LocaleCheck::ExpectCallersLocale();
    EXPECT_EQ(Component().unregisterServer(), unreadable);
    LocaleCheck::ExpectCallersLocale();
    // The damaged hive is left as it was.
    std::ifstream in(registry.MachineHive());
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "damaged");
}

}  // namespace
