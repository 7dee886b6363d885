// Inside the registry: one hive as a tree of keys, its file format, and loading and saving it
// under the writers' lock. Only Registry.cpp and its tests of the file format use this.
//
// Hive file (all integers little-endian):
//   offset  size  field
//   0       8     magic "ZEVHIVE\0"
//   8       4     format version (1)
//   12      4     payload size n in bytes
//   16      n     payload: the root key record
//   16 + n  4     FNV-1a (32-bit) of the payload
// Key record:   u32 name size, name (UTF-8; empty for the root only),
//               u32 value count, value records, u32 subkey count, key records.
// Value record: u32 name size, name (UTF-8), u32 type, u32 data size, data.
// Every size and count is checked against the bytes left before it is used; nesting is
// limited to kRegistryMaxDepth; names are checked (no '\', length limits, no duplicates under
// case-insensitive comparison). Anything else is a damaged hive.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Registry.h"
#include "platform/posix/Registry.h"

namespace registry_detail {

// Case-insensitive ordering of key and value names (ASCII and Latin-1 letters fold).
struct NameLess {
    using is_transparent = void;
    bool operator()(std::wstring_view left, std::wstring_view right) const noexcept;
};
bool NamesEqual(std::wstring_view left, std::wstring_view right) noexcept;

struct Value {
    DWORD type = REG_NONE;
    std::string data;  // the bytes as set
};

struct Key {
    std::map<std::wstring, Value, NameLess> values;
    std::map<std::wstring, std::unique_ptr<Key>, NameLess> subkeys;
};

using KeyPath = std::vector<std::wstring>;

enum class Hive { Machine, User };

constexpr std::size_t kMaxHiveFileSize = 64u << 20;

// The hive file that the environment chooses now (UTF-8 path).
std::string HiveFilePath(Hive hive);

// The key at `path` below `root`, or null.
Key* FindKey(Key& root, const KeyPath& path) noexcept;

// File format.
[[nodiscard]] bool ParseHive(std::string_view bytes, Key& root);
std::string SerializeHive(const Key& root);

// Reads the hive (an empty hive when its file does not exist). ERROR_SUCCESS, ERROR_BADDB
// (damaged), ERROR_ACCESS_DENIED or ERROR_CANTREAD.
LONG LoadHive(Hive hive, Key& root);

// Read-modify-write under the hive's lock: loads the hive, runs `change` on it and saves it
// when `change` returns ERROR_SUCCESS and sets its flag (the hive changed). The result is the
// result of `change` or the failure to load, lock or save.
using HiveChange = std::function<LONG(Key& root, bool& changed)>;
LONG ModifyHive(Hive hive, const HiveChange& change);

}  // namespace registry_detail

// Helpers for the platform's own readers and writers of string values.
namespace registry_detail {
// Reads the REG_SZ or REG_EXPAND_SZ value `name` of `subKey` below `key` (null `subKey`: `key`
// itself) without its terminator. ERROR_FILE_NOT_FOUND when the key or value is missing,
// ERROR_INVALID_DATA when the value is not a string.
LONG QueryStringValue(HKEY key, LPCWSTR subKey, LPCWSTR name, std::wstring& value);
// Sets `name` of `key` to `value` as REG_SZ with its terminator.
LONG SetStringValue(HKEY key, LPCWSTR name, std::wstring_view value);
}  // namespace registry_detail
