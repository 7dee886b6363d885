#include "platform/posix/TypeLibRegistration.h"

#include <cwchar>
#include <new>
#include <string>

#include "platform/Folders.h"
#include "platform/Registry.h"
#include "platform/posix/RegistryHive.h"

using registry_detail::QueryStringValue;
using registry_detail::SetStringValue;

namespace {
constexpr wchar_t kProxyStubDispatch[] = L"{00020420-0000-0000-C000-000000000046}";
constexpr wchar_t kProxyStubAutomation[] = L"{00020424-0000-0000-C000-000000000046}";

std::wstring GuidText(REFGUID guid) {
    wchar_t text[39];
    StringFromGUID2(guid, text, 39);
    return text;
}

std::wstring Hex(unsigned value) {
    wchar_t text[16];
    std::swprintf(text, 16, L"%x", value);
    return text;
}

std::wstring VersionText(const TypeLibDescription& library) {
    return Hex(library.majorVersion) + L"." + Hex(library.minorVersion);
}

std::wstring LibraryKey(const TypeLibDescription& library) {
    return L"TypeLib\\" + GuidText(library.libid);
}

std::wstring InterfaceKey(const TypeLibInterface& entry) {
    return L"Interface\\" + GuidText(entry.iid);
}

// The key below which classes are registered: HKEY_CLASSES_ROOT, or the user's
// Software\Classes (created when `create`).
LONG OpenClassesRoot(bool perUser, bool create, UniqueRegistryKey& root) {
    if (!perUser) {
        root.reset(HKEY_CLASSES_ROOT);
        return ERROR_SUCCESS;
    }
    HKEY raw = nullptr;
    const LONG status =
        create ? RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0,
                                 KEY_ALL_ACCESS, nullptr, &raw, nullptr)
               : RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, KEY_ALL_ACCESS, &raw);
    root.reset(raw);
    return status;
}

// Creates `path` below `parent` and sets its default value to `value`.
LONG WriteKey(HKEY parent, const std::wstring& path, const std::wstring& value,
              UniqueRegistryKey* keep = nullptr) {
    HKEY raw = nullptr;
    LONG status = RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &raw, nullptr);
    if (status != ERROR_SUCCESS) return status;
    UniqueRegistryKey key(raw);
    status = SetStringValue(key.get(), nullptr, value);
    if (keep != nullptr) *keep = std::move(key);
    return status;
}

std::wstring FolderOf(const wchar_t* path) {
    const std::wstring full(path);
    const std::size_t separator = full.rfind(kPathSeparator);
    return separator == std::wstring::npos ? std::wstring() : full.substr(0, separator);
}

LONG WriteLibrary(HKEY root, const TypeLibDescription& library, LPCOLESTR modulePath,
                  LPCOLESTR helpDir) {
    const std::wstring version = VersionText(library);
    const std::wstring libid = GuidText(library.libid);
    UniqueRegistryKey versionKey;
    const wchar_t* title = library.helpString != nullptr ? library.helpString : library.name;
    LONG status = WriteKey(root, LibraryKey(library) + L"\\" + version, title, &versionKey);
    if (status == ERROR_SUCCESS)
        status = WriteKey(versionKey.get(), L"FLAGS", std::to_wstring(library.flags));
    if (status == ERROR_SUCCESS) {
        status = WriteKey(versionKey.get(), Hex(library.lcid) + L"\\win64", modulePath);
    }
    if (status == ERROR_SUCCESS) {
        status = WriteKey(versionKey.get(), L"HELPDIR",
                          helpDir != nullptr ? std::wstring(helpDir) : FolderOf(modulePath));
    }
    for (std::size_t i = 0; status == ERROR_SUCCESS && i < library.interfaceCount; ++i) {
        const TypeLibInterface& entry = library.interfaces[i];
        const wchar_t* proxyStub = entry.kind == TypeLibInterfaceKind::Dispatch
                                       ? kProxyStubDispatch
                                       : kProxyStubAutomation;
        UniqueRegistryKey interfaceKey;
        UniqueRegistryKey typeLibKey;
        status = WriteKey(root, InterfaceKey(entry), entry.name != nullptr ? entry.name : L"",
                          &interfaceKey);
        if (status == ERROR_SUCCESS)
            status = WriteKey(interfaceKey.get(), L"ProxyStubClsid", proxyStub);
        if (status == ERROR_SUCCESS)
            status = WriteKey(interfaceKey.get(), L"ProxyStubClsid32", proxyStub);
        if (status == ERROR_SUCCESS)
            status = WriteKey(interfaceKey.get(), L"TypeLib", libid, &typeLibKey);
        if (status == ERROR_SUCCESS) status = SetStringValue(typeLibKey.get(), L"Version", version);
    }
    return status;
}

// Whether Interface\{IID}\TypeLib names `libid`.
bool InterfaceBelongsTo(HKEY root, const TypeLibInterface& entry, REFGUID libid) {
    std::wstring named;
    const std::wstring path = InterfaceKey(entry) + L"\\TypeLib";
    if (QueryStringValue(root, path.c_str(), nullptr, named) != ERROR_SUCCESS) return false;
    GUID parsed{};
    return SUCCEEDED(CLSIDFromString(named.c_str(), &parsed)) && parsed == libid;
}

HRESULT Register(const TypeLibDescription& library, LPCOLESTR modulePath, LPCOLESTR helpDir,
                 bool perUser) noexcept {
    if (modulePath == nullptr || library.name == nullptr) return E_INVALIDARG;
    if (library.interfaceCount > 0 && library.interfaces == nullptr) return E_INVALIDARG;
    try {
        UniqueRegistryKey root;
        LONG status = OpenClassesRoot(perUser, true, root);
        if (status == ERROR_SUCCESS)
            status = WriteLibrary(root.get(), library, modulePath, helpDir);
        if (status == ERROR_NOT_ENOUGH_MEMORY) return E_OUTOFMEMORY;
        return status == ERROR_SUCCESS ? S_OK : TYPE_E_REGISTRYACCESS;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT Unregister(const TypeLibDescription& library, bool perUser) noexcept {
    if (library.interfaceCount > 0 && library.interfaces == nullptr) return E_INVALIDARG;
    try {
        UniqueRegistryKey root;
        if (OpenClassesRoot(perUser, false, root) != ERROR_SUCCESS) return TYPE_E_REGISTRYACCESS;
        bool failed = false;
        for (std::size_t i = 0; i < library.interfaceCount; ++i) {
            const TypeLibInterface& entry = library.interfaces[i];
            if (!InterfaceBelongsTo(root.get(), entry, library.libid)) continue;
            const LONG status = RegDeleteTreeW(root.get(), InterfaceKey(entry).c_str());
            failed = failed || (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND);
        }
        const std::wstring libraryKey = LibraryKey(library);
        const std::wstring versionKey = libraryKey + L"\\" + VersionText(library);
        if (RegDeleteTreeW(root.get(), versionKey.c_str()) != ERROR_SUCCESS) failed = true;
        // The library's key goes with its last version; with other versions left it stays
        // (RegDeleteKeyW refuses a key that has subkeys).
        const LONG status = RegDeleteKeyW(root.get(), libraryKey.c_str());
        failed = failed || (status != ERROR_SUCCESS && status != ERROR_ACCESS_DENIED &&
                            status != ERROR_FILE_NOT_FOUND);
        return failed ? TYPE_E_REGISTRYACCESS : S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
}  // namespace

HRESULT RegisterTypeLibDescription(const TypeLibDescription& library, LPCOLESTR modulePath,
                                   LPCOLESTR helpDir) {
    return Register(library, modulePath, helpDir, false);
}

HRESULT RegisterTypeLibDescriptionForUser(const TypeLibDescription& library, LPCOLESTR modulePath,
                                          LPCOLESTR helpDir) {
    return Register(library, modulePath, helpDir, true);
}

HRESULT UnRegisterTypeLibDescription(const TypeLibDescription& library) {
    return Unregister(library, false);
}

HRESULT UnRegisterTypeLibDescriptionForUser(const TypeLibDescription& library) {
    return Unregister(library, true);
}
