// flvhost on the stand-in: POSIX signals and dlopen, libpng.
#include <dlfcn.h>
#include <png.h>
#include <signal.h>
#include <unistd.h>

#include <csetjmp>

#include "mediakit/MediaKit.h"
#include "platform/Registry.h"
#include "platform/TextConvert.h"
#include "tools/flvhost/Host.h"
#include "tools/flvhost/System.h"

namespace flvhost {

void PrepareProcess() {
    (void)CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
}

HRESULT StartFramework() {
    return MediaKitRegisterClasses();
}

std::string RegistryLocation(bool user) {
    return WideToUtf8(RegistryHiveFile(user ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE));
}

const char kComponentModuleName[] = "libzevflashfile5.so";

std::vector<std::filesystem::path> ComponentModuleCandidates() {
    std::error_code error;
    const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    const std::filesystem::path folder = error ? std::filesystem::path(".") : program.parent_path();
    // Where an installation puts it (the build names that folder relative to flvhost's own),
    // ../lib (a build tree), then flvhost's own folder.
    return {
#ifdef FLVHOST_INSTALLED_MODULE_FOLDER
        folder / FLVHOST_INSTALLED_MODULE_FOLDER / kComponentModuleName,
#endif
        folder / ".." / "lib" / kComponentModuleName, folder / kComponentModuleName};
}

DllInstallFunction LoadDllInstall(const std::string& path) {
    // The module stays loaded until the process ends, as COM leaves it.
    void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* reason = ::dlerror();
        throw HostError(kExitNotRegistered,
                        path + " does not load: " + (reason != nullptr ? reason : "unknown"));
    }
    auto* dllInstall = reinterpret_cast<DllInstallFunction>(::dlsym(library, "DllInstall"));
    if (dllInstall == nullptr) throw HostError(kExitNotRegistered, path + " exports no DllInstall");
    return dllInstall;
}

void InstallInterruptHandler(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    (void)sigaction(SIGINT, &action, nullptr);
}

bool StandardErrorIsTerminal() {
    return ::isatty(2) != 0;
}

void ExitNow(int code) {
    _exit(code);
}

// libpng reports errors by longjmp, so nothing here has a destructor.
bool WritePng(std::FILE* out, std::uint32_t width, std::uint32_t height,
              const std::uint8_t* const* rows) {
    constexpr int kBitDepth = 8;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr) return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
        return false;
    }
    png_init_io(png, out);
    png_set_IHDR(png, info, width, height, kBitDepth, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    // libpng takes the rows as writable pointers but only reads them.
    png_write_image(png, const_cast<png_bytepp>(rows));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace flvhost
