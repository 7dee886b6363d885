// The component library as the tests reach it: loaded once with dlopen or LoadLibraryW (and never
// unloaded, as COM keeps the modules it loads), its five entry points, and what the tests share
// around it.
#pragma once

#include <gtest/gtest.h>

#include <functional>

#include "frame/Interfaces.h"
#include "tests/support/ComponentTestSupport.h"
#include "tests/support/TempRegistry.h"

struct ComponentLibrary {
    HRESULT (*getClassObject)(REFCLSID clsid, REFIID riid, void** ppv) = nullptr;
    HRESULT (*canUnloadNow)() = nullptr;
    HRESULT (*registerServer)() = nullptr;
    HRESULT (*unregisterServer)() = nullptr;
    HRESULT (*install)(BOOL install, LPCWSTR commandLine) = nullptr;
    void* module = nullptr;  // the loaded module's handle
};

// The loaded library's path, as registration writes it.
std::wstring ComponentPath();
// The names the library exports (ordinal-only exports as "#ordinal"); empty when they cannot be
// listed (no nm on the stand-in).
std::vector<std::string> ExportedNames();
// The entry points; the first call loads the library and fails the test when it cannot.
const ComponentLibrary& Component();
// The class object of `clsid` straight from DllGetClassObject.
ComPtr<IClassFactory> ComponentClassObject(REFCLSID clsid);

// Runs `scenario` in a child process and expects it to pass there. DllInstall's per-user flag
// lasts for the rest of a process, so each scenario that may set it runs on its own; failures in
// the child are printed by the child. On the stand-in the child is a fork; on Windows it is this
// program again, running only the current test up to this scenario (FLV_CHILD_SCENARIO says
// which of the test's scenarios), which it runs and then exits.
void RunInChildProcess(const std::function<void()>& scenario);

// Each test gets its own registry hives, application-data folder and named-mutex folder; the
// host framework's classes are registered in the process.
class ComponentTest : public ::testing::Test {
  protected:
    void SetUp() override;

    TempRegistry registry;
    CacheFolders folders;
};

// What registration writes, shared by the stand-in's and the system's registration tests: the
// three classes (key and title), the type library and the event interface.
inline const std::pair<std::wstring, const wchar_t*> kRegisteredClasses[] = {
    {L"CLSID\\{4782B4A0-9258-40BD-8739-54432C6407A2}", L"FlashFile5 Class"},
    {L"CLSID\\{5E470577-C2B2-4451-9A88-10E1493C8126}", L"FlashAudioStream5 Class"},
    {L"CLSID\\{2D955AA8-8E94-4A94-A669-C493B0730C20}", L"FlashVideoStream5 Class"},
};
inline constexpr wchar_t kLibId[] = L"{7D647A2A-F2CF-4518-9AC3-D0217098D2E5}";
inline const std::wstring kTypeLibKey = L"TypeLib\\{7D647A2A-F2CF-4518-9AC3-D0217098D2E5}";
inline const std::wstring kEventsKey = L"Interface\\{28591EB4-B1A9-429D-A95A-1DECEDCFC688}";
// A class of other software under the shared CLSID key.
inline constexpr wchar_t kForeignClassKey[] = L"CLSID\\{99999999-8888-7777-6666-555555555555}";

// The three class keys below `classes` (a hive's Software\Classes), exactly as the scripts
// write them.
void ExpectClassKeys(HKEY classes);
// The type library's keys and the event interface's below `classes`, the library's flags given
// in decimal.
void ExpectTypeLibKeys(HKEY classes, const std::wstring& flags);
// A FlashFile5 object made through the registry opens the sample file and reads its first video
// frame (as ffmpeg decodes it) and a block of audio; its stream objects come from the same
// loaded module. With no ffmpeg, only the creation is checked.
void ExpectCreatedThroughTheRegistryAndReading();

// A short FLV file made by ffmpeg: Sorenson H.263 video at 25 frames per second and MP3 audio;
// nullopt when ffmpeg is not available.
std::optional<std::filesystem::path> SampleFile();
