// Registration of mediakit.dll with the system: one class key per component, apartment-neutral
// ("Both"; its objects answer IMarshal with the free-threaded marshaler).
#include <new>
#include <string>

#include "mediakit/ClassList.h"
#include "mediakit/MediaKit.h"
#include "platform/ModulePath.h"
#include "platform/Registry.h"

namespace {
std::wstring ClassKey(const CLSID& clsid) {
    wchar_t text[39];
    StringFromGUID2(clsid, text, 39);
    return std::wstring(L"CLSID\\") + text;
}

LSTATUS SetString(HKEY root, const std::wstring& subKey, const wchar_t* name,
                  const std::wstring& value) {
    HKEY raw = nullptr;
    LSTATUS status =
        RegCreateKeyExW(root, subKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &raw, nullptr);
    if (status != ERROR_SUCCESS) return status;
    const UniqueRegistryKey key(raw);
    return RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

HRESULT FromStatus(LSTATUS status) {
    return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(status));
}
}  // namespace

HRESULT DllRegisterServer() {
    try {
        const std::wstring module = ModulePathOf(reinterpret_cast<const void*>(&DllRegisterServer));
        if (module.empty()) return E_UNEXPECTED;
        for (const mediakit::ClassEntry& entry : mediakit::Classes()) {
            const std::wstring key = ClassKey(entry.clsid);
            LSTATUS status =
                SetString(HKEY_CLASSES_ROOT, key, nullptr, std::wstring(L"mediakit ") + entry.name);
            const std::wstring server = key + L"\\InprocServer32";
            if (status == ERROR_SUCCESS)
                status = SetString(HKEY_CLASSES_ROOT, server, nullptr, module);
            if (status == ERROR_SUCCESS)
                status = SetString(HKEY_CLASSES_ROOT, server, L"ThreadingModel", L"Both");
            if (status != ERROR_SUCCESS) return FromStatus(status);
        }
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT DllUnregisterServer() {
    try {
        HRESULT result = S_OK;
        for (const mediakit::ClassEntry& entry : mediakit::Classes()) {
            const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, ClassKey(entry.clsid).c_str());
            if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND && SUCCEEDED(result))
                result = FromStatus(status);
        }
        return result;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
