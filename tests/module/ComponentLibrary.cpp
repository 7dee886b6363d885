#include "tests/module/ComponentLibrary.h"

#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "mediakit/MediaKit.h"
#include "platform/TextConvert.h"

namespace {
template <class Function>
void Resolve(void* handle, const char* name, Function& function) {
    function = reinterpret_cast<Function>(::dlsym(handle, name));
    EXPECT_NE(function, nullptr) << "the component does not export " << name;
}

ComponentLibrary Load() {
    ComponentLibrary library;
    void* handle = ::dlopen(COMPONENT_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        ADD_FAILURE() << "dlopen " << COMPONENT_LIBRARY_PATH << ": " << ::dlerror();
        return library;
    }
    Resolve(handle, "DllGetClassObject", library.getClassObject);
    Resolve(handle, "DllCanUnloadNow", library.canUnloadNow);
    Resolve(handle, "DllRegisterServer", library.registerServer);
    Resolve(handle, "DllUnregisterServer", library.unregisterServer);
    Resolve(handle, "DllInstall", library.install);
    return library;
}
}  // namespace

std::wstring ComponentPath() {
    return Utf8ToWide(COMPONENT_LIBRARY_PATH);
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
