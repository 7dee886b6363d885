#include "tests/module/ComponentLibrary.h"

#ifdef _WIN32
#include "platform/ModulePath.h"
#else
#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>

#include "mediakit/MediaKit.h"
#include "platform/TextConvert.h"

namespace {
#ifdef _WIN32
void* OpenLibrary() {
    void* handle = LoadLibraryW(Utf8ToWide(COMPONENT_LIBRARY_PATH).c_str());
    if (handle == nullptr) {
        ADD_FAILURE() << "LoadLibraryW " << COMPONENT_LIBRARY_PATH << ": error " << GetLastError();
    }
    return handle;
}
void* Symbol(void* handle, const char* name) {
    // FARPROC is a generic function pointer: the caller casts it to the real signature.
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}
#else
void* OpenLibrary() {
    void* handle = ::dlopen(COMPONENT_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr)
        ADD_FAILURE() << "dlopen " << COMPONENT_LIBRARY_PATH << ": " << ::dlerror();
    return handle;
}
void* Symbol(void* handle, const char* name) {
    return ::dlsym(handle, name);
}
#endif

template <class Function>
void Resolve(void* handle, const char* name, Function& function) {
    function = reinterpret_cast<Function>(Symbol(handle, name));
    EXPECT_NE(function, nullptr) << "the component does not export " << name;
}

ComponentLibrary Load() {
    ComponentLibrary library;
    void* handle = OpenLibrary();
    if (handle == nullptr) return library;
    library.module = handle;
    Resolve(handle, "DllGetClassObject", library.getClassObject);
    Resolve(handle, "DllCanUnloadNow", library.canUnloadNow);
    Resolve(handle, "DllRegisterServer", library.registerServer);
    Resolve(handle, "DllUnregisterServer", library.unregisterServer);
    Resolve(handle, "DllInstall", library.install);
    return library;
}
}  // namespace

std::wstring ComponentPath() {
#ifdef _WIN32
    return ModulePathOf(reinterpret_cast<const void*>(Component().install));
#else
    return Utf8ToWide(COMPONENT_LIBRARY_PATH);
#endif
}

std::vector<std::string> ExportedNames() {
    std::vector<std::string> names;
#ifdef _WIN32
    // The export directory of the loaded image, as the loader reads it.
    const auto* base = static_cast<const BYTE*>(Component().module);
    if (base == nullptr) return names;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory =
        headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (directory.Size == 0) return names;
    const auto* exports =
        reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
    const auto* nameAddresses = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        names.emplace_back(reinterpret_cast<const char*>(base + nameAddresses[i]));
    for (DWORD i = exports->NumberOfNames; i < exports->NumberOfFunctions; ++i)
        names.push_back(std::string(1, '#').append(std::to_string(exports->Base + i)));
#else
    std::string listing;
    if (RunCommand("command -v nm >/dev/null 2>&1") != 0 ||
        RunCommand("nm -D --defined-only " + Quote(COMPONENT_LIBRARY_PATH), &listing) != 0) {
        return names;
    }
    for (const std::string& line : Lines(listing))
        names.push_back(line.substr(line.rfind(' ') + 1));
#endif
    return names;
}

const ComponentLibrary& Component() {
    static const ComponentLibrary library = Load();
    if (library.install == nullptr) ADD_FAILURE() << "the component library is not loaded";
    return library;
}

ComPtr<IClassFactory> ComponentClassObject(REFCLSID clsid) {
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(Component().getClassObject(clsid, IID_IClassFactory, factory.PutVoid()), S_OK);
    return factory;
}

#ifdef _WIN32
void RunInChildProcess(const std::function<void()>& scenario) {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name = std::string(test->test_suite_name()) + "." + test->name();
    // Which of the current test's scenarios this is.
    static std::string counting;
    static int calls = 0;
    if (counting != name) {
        counting = name;
        calls = 0;
    }
    const int index = calls++;
    if (const char* chosen = std::getenv("FLV_CHILD_SCENARIO")) {
        if (std::atoi(chosen) != index) return;
        scenario();
        std::fflush(nullptr);
        ExitProcess(::testing::Test::HasFailure() ? 1 : 0);
    }
    wchar_t self[MAX_PATH];
    ASSERT_NE(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    std::wstring commandLine = L"\"";
    commandLine += self;
    commandLine += L"\" --gtest_brief=1 --gtest_filter=";
    commandLine += Utf8ToWide(name);
    const ScopedEnv child("FLV_CHILD_SCENARIO", std::to_string(index));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::fflush(nullptr);
    ASSERT_TRUE(CreateProcessW(self, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                               nullptr, &startup, &process));
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 1;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(status, 0u) << "the scenario failed in its child process";
}
#else
void RunInChildProcess(const std::function<void()>& scenario) {
    std::fflush(nullptr);
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        scenario();
        std::fflush(nullptr);
        ::_exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the scenario failed in its child process (status " << status << ")";
}
#endif

void ExpectClassKeys(HKEY classes) {
    const auto value = [&](const std::wstring& key, const wchar_t* name = nullptr) {
        return RegistryString(classes, key.c_str(), name);
    };
    for (const auto& [key, title] : kRegisteredClasses) {
        EXPECT_EQ(value(key), title);
        EXPECT_EQ(RegistrySubkeyNames(classes, key.c_str()),
                  (std::vector<std::wstring>{L"InprocServer32", L"TypeLib", L"Version"}));
        EXPECT_EQ(value(key + L"\\InprocServer32"), ComponentPath());
        EXPECT_EQ(value(key + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
        EXPECT_EQ(value(key + L"\\TypeLib"), kLibId);
        EXPECT_EQ(value(key + L"\\Version"), L"1.0");
    }
}

void ExpectTypeLibKeys(HKEY classes, const std::wstring& flags) {
    const auto value = [&](const std::wstring& key) {
        return RegistryString(classes, key.c_str());
    };
    const std::wstring module = ComponentPath();
    EXPECT_EQ(value(kTypeLibKey + L"\\1.0"), L"zevflashfile5 1.0 Type Library");
    EXPECT_EQ(value(kTypeLibKey + L"\\1.0\\FLAGS"), flags);
    EXPECT_EQ(value(kTypeLibKey + L"\\1.0\\0\\win64"), module);
    EXPECT_EQ(value(kTypeLibKey + L"\\1.0\\HELPDIR"),
              std::filesystem::path(module).parent_path().wstring());
    EXPECT_EQ(value(kEventsKey), L"_IFlashFile5Events");
    EXPECT_EQ(value(kEventsKey + L"\\TypeLib"), kLibId);
}

void ExpectCreatedThroughTheRegistryAndReading() {
    ComPtr<IMediaSource> source;
    ASSERT_EQ(CreateInstance(CLSID_FlashFile5, source), S_OK);
    const std::optional<std::filesystem::path> file = SampleFile();
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

void ComponentTest::SetUp() {
    static const HRESULT registered = MediaKitRegisterClasses();
    ASSERT_EQ(registered, S_OK);
    ASSERT_NE(Component().install, nullptr);
}

std::optional<std::filesystem::path> SampleFile() {
    if (!FfmpegAvailable()) return std::nullopt;
    return GeneratedSample("module_flv1_mp3.flv",
                           "-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi "
                           "-i sine=frequency=440:sample_rate=44100 -t 1 -c:v flv1 -g 10 "
                           "-c:a libmp3lame -ac 2");
}
