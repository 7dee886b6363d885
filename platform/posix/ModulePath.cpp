#include "platform/ModulePath.h"

#include <dlfcn.h>

#include <filesystem>

#include "platform/TextConvert.h"

std::wstring ModulePathOf(const void* address) noexcept {
    Dl_info info{};
    if (::dladdr(address, &info) == 0 || info.dli_fname == nullptr) return {};
    try {
        // The loader keeps the name it was given, which may be relative.
        std::filesystem::path path(info.dli_fname);
        if (path.is_relative()) path = std::filesystem::absolute(path);
        return Utf8ToWide(path.string());
    } catch (...) {  // allocation or file-system failure: the caller reports an empty path
        return {};
    }
}
