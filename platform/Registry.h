// The registry API (RegCreateKeyExW, RegOpenKeyExW, RegSetValueExW …): the system's
// (platform/System.h); and the owner of one open key.
#pragma once

#include <memory>
#include <type_traits>

#include "platform/System.h"

// The registry's limits, as on Windows: a key name (one path element) holds at most 255 characters,
// a value name at most 16383, and keys nest at most 512 levels below a hive's root.
constexpr DWORD kRegistryMaxKeyNameLength = 255;
constexpr DWORD kRegistryMaxValueNameLength = 16383;
constexpr DWORD kRegistryMaxDepth = 512;

// Owner of one open key handle: closes it when it goes (predefined keys are left alone).
struct RegistryKeyCloser {
    void operator()(HKEY key) const noexcept { RegCloseKey(key); }
};
using UniqueRegistryKey = std::unique_ptr<std::remove_pointer_t<HKEY>, RegistryKeyCloser>;
