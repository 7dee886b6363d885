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

// A short FLV file made by ffmpeg: Sorenson H.263 video at 25 frames per second and MP3 audio;
// nullopt when ffmpeg is not available.
std::optional<std::filesystem::path> SampleFile();
