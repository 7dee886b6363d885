#include "frame/TypeLibrary.h"

#include <new>

#include "frame/Interfaces.h"
#include "platform/ComPtr.h"

namespace {
constexpr LCID kLanguageNeutral = 0;

using RegisterForUser = HRESULT(WINAPI*)(ITypeLib*, OLECHAR*, OLECHAR*);
using UnregisterForUser = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);

// An oleaut32 export looked up at run time (the per-user calls came with later systems).
template <class Function>
Function Oleaut32Function(const char* name) noexcept {
    HMODULE oleaut32 = GetModuleHandleW(L"oleaut32.dll");
    if (oleaut32 == nullptr) return nullptr;
    // FARPROC is a generic function pointer; the cast through void* names the real signature.
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(oleaut32, name)));
}

// The module's library (resource TYPELIB 1), else the ".tlb" beside it; `path` names the one
// that loaded.
HRESULT LoadModuleTypeLib(std::wstring& path, ComPtr<ITypeLib>& library) {
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.Put());
    if (SUCCEEDED(hr)) return hr;
    const std::size_t dot = path.find_last_of(L".\\/");
    if (dot != std::wstring::npos && path[dot] == L'.') path.erase(dot);
    path += L".tlb";
    return LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.Put());
}
}  // namespace

HRESULT RegisterModuleTypeLib(const std::wstring& modulePath, bool perUser) noexcept {
    try {
        std::wstring path = modulePath;
        ComPtr<ITypeLib> library;
        const HRESULT hr = LoadModuleTypeLib(path, library);
        if (FAILED(hr)) return hr;
        if (!perUser) return RegisterTypeLib(library.Get(), path.data(), nullptr);
        const auto registerForUser = Oleaut32Function<RegisterForUser>("RegisterTypeLibForUser");
        if (registerForUser == nullptr) return TYPE_E_REGISTRYACCESS;
        return registerForUser(library.Get(), path.data(), nullptr);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT UnregisterModuleTypeLib(bool perUser) noexcept {
    if (!perUser) {
        return UnRegisterTypeLib(LIBID_zevflashfile5Lib, kTypeLibMajorVersion, kTypeLibMinorVersion,
                                 kLanguageNeutral, SYS_WIN64);
    }
    const auto unregisterForUser = Oleaut32Function<UnregisterForUser>("UnRegisterTypeLibForUser");
    if (unregisterForUser == nullptr) return TYPE_E_REGISTRYACCESS;
    return unregisterForUser(LIBID_zevflashfile5Lib, kTypeLibMajorVersion, kTypeLibMinorVersion,
                             kLanguageNeutral, SYS_WIN64);
}
