// A registry of its own for one test on the stand-in: points ZEV_REGISTRY_MACHINE and
// ZEV_REGISTRY_USER at two hive files in a temporary folder, and puts the previous environment
// back afterwards. On Windows the registry is the system's: a test removes what it writes
// (ScopedRegistryKey), and the programs that write to it never run at the same time (ctest's
// resource lock "registry"). Also small readers for checking what registration wrote.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Registry.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

#ifdef _WIN32
class TempRegistry {
  public:
    TempRegistry() = default;
    ~TempRegistry() {}  // nothing to put back; user-provided, so that holding one is no warning
};
#else
class TempRegistry {
  public:
    std::filesystem::path MachineHive() const { return dir_.Path() / "hives" / "machine.reg"; }
    std::filesystem::path UserHive() const { return dir_.Path() / "hives" / "user.reg"; }
    const TempDir& Dir() const { return dir_; }

  private:
    TempDir dir_;
    ScopedEnv machine_{"ZEV_REGISTRY_MACHINE", MachineHive().string()};
    ScopedEnv user_{"ZEV_REGISTRY_USER", UserHive().string()};
};
#endif

// `subKey` below `root` opened for reading; null when it does not exist.
inline UniqueRegistryKey OpenRegistryKey(HKEY root, const wchar_t* subKey) {
    HKEY raw = nullptr;
    return UniqueRegistryKey(
        RegOpenKeyExW(root, subKey, 0, KEY_READ, &raw) == ERROR_SUCCESS ? raw : nullptr);
}

// Whether `subKey` below `root` exists.
inline bool RegistryKeyExists(HKEY root, const wchar_t* subKey) {
    return OpenRegistryKey(root, subKey) != nullptr;
}

// The string value `name` (null: the default value) of `subKey` below `root`, without its
// terminator; nullopt when the key or value is missing or not a string.
inline std::optional<std::wstring> RegistryString(HKEY root, const wchar_t* subKey,
                                                  const wchar_t* name = nullptr) {
    const UniqueRegistryKey key = OpenRegistryKey(root, subKey);
    DWORD type = 0, size = 0;
    if (!key ||
        RegQueryValueExW(key.get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_SZ) {
        return std::nullopt;
    }
    std::wstring text(size / sizeof(wchar_t), L'\0');
    if (RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()),
                         &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    text.resize(size / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return text;
}

// Sets the string value `name` (null: the default value) of `subKey` below `root`, creating the
// key and its parents as needed; returns the first failing status, else ERROR_SUCCESS.
inline LSTATUS SetRegistryString(HKEY root, const wchar_t* subKey, const wchar_t* name,
                                 const std::wstring& value) {
    HKEY raw = nullptr;
    const LSTATUS status =
        RegCreateKeyExW(root, subKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &raw, nullptr);
    if (status != ERROR_SUCCESS) return status;
    UniqueRegistryKey key(raw);
    return RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

// The names of the subkeys of `subKey` below `root` in enumeration order; empty when the key
// cannot be opened.
inline std::vector<std::wstring> RegistrySubkeyNames(HKEY root, const wchar_t* subKey) {
    std::vector<std::wstring> names;
    const UniqueRegistryKey key = OpenRegistryKey(root, subKey);
    wchar_t name[kRegistryMaxKeyNameLength + 1];
    for (DWORD i = 0, length = std::size(name);
         key && RegEnumKeyExW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) ==
                    ERROR_SUCCESS;
         ++i, length = std::size(name)) {
        names.emplace_back(name, length);
    }
    return names;
}

// A key below `root` whose default value is `value` for the life of the object; then the key
// goes (it must have no subkeys of its own by then).
class ScopedRegistryKey {
  public:
    ScopedRegistryKey(HKEY root, std::wstring subKey, const std::wstring& value)
        : root_(root),
          subKey_(std::move(subKey)),
          status_(SetRegistryString(root_, subKey_.c_str(), nullptr, value)) {}
    ~ScopedRegistryKey() { RegDeleteKeyW(root_, subKey_.c_str()); }
    ScopedRegistryKey(const ScopedRegistryKey&) = delete;
    ScopedRegistryKey& operator=(const ScopedRegistryKey&) = delete;

    // What writing the value answered.
    LSTATUS Status() const { return status_; }

  private:
    HKEY root_;
    std::wstring subKey_;
    LSTATUS status_;
};
