#include "platform/ModulePath.h"

#include "platform/System.h"

std::wstring ModulePathOf(const void* address) noexcept {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            static_cast<LPCWSTR>(address), &module)) {
        return {};
    }
    try {
        // GetModuleFileNameW cuts the name to the buffer: grow until it fits (the long-path
        // limit is 32,767 characters).
        std::wstring path(MAX_PATH, L'\0');
        for (;;) {
            const DWORD length =
                GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
            if (length == 0) return {};
            if (length < path.size()) {
                path.resize(length);
                return path;
            }
            if (path.size() >= 32768) return {};
            path.resize(path.size() * 2);
        }
    } catch (...) {  // allocation failure: the caller reports an empty path
        return {};
    }
}
