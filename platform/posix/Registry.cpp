#include "platform/Registry.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>

#include "platform/MemoryStream.h"
#include "platform/posix/RegistryHive.h"
#include "platform/TextConvert.h"

using namespace registry_detail;

namespace {
// What a handle names: a key path below one of the three roots.
enum class Root { Machine, User, Classes };

struct HandleState {
    Root root = Root::Machine;
    KeyPath path;
    REGSAM access = KEY_ALL_ACCESS;
};

// Open handles by number. Numbers start far below the predefined keys' values and are never
// reused, so a closed or made-up handle is told apart from an open one.
struct HandleTable {
    std::mutex lock;
    std::unordered_map<std::uintptr_t, HandleState> handles;
    std::uintptr_t next = 0x10000;
};

HandleTable& Handles() {
    static HandleTable* table = new HandleTable;  // never destroyed: handles may outlive main
    return *table;
}

bool Lookup(HKEY key, HandleState& state) {
    if (key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE) {
        state.root = key == HKEY_CLASSES_ROOT   ? Root::Classes
                     : key == HKEY_CURRENT_USER ? Root::User
                                                : Root::Machine;
        state.path.clear();
        state.access = KEY_ALL_ACCESS;
        return true;
    }
    HandleTable& table = Handles();
    std::lock_guard guard(table.lock);
    auto it = table.handles.find(reinterpret_cast<std::uintptr_t>(key));
    if (it == table.handles.end()) return false;
    state = it->second;
    return true;
}

HKEY NewHandle(HandleState state) {
    HandleTable& table = Handles();
    std::lock_guard guard(table.lock);
    const std::uintptr_t number = table.next;
    table.next += 4;
    table.handles.emplace(number, std::move(state));
    return reinterpret_cast<HKEY>(number);
}

bool IsPredefined(HKEY key) {
    return key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE;
}

// Appends the names of `subKey` ('\'-separated) to `path`. Trailing separators are ignored; a
// leading one or an empty name between two is ERROR_BAD_PATHNAME.
LONG AppendSubKey(LPCWSTR subKey, KeyPath& path) {
    if (subKey == nullptr || subKey[0] == L'\0') return ERROR_SUCCESS;
    if (subKey[0] == L'\\') return ERROR_BAD_PATHNAME;
    std::wstring_view rest(subKey);
    while (!rest.empty() && rest.back() == L'\\') rest.remove_suffix(1);
    while (!rest.empty()) {
        const std::size_t end = std::min(rest.find(L'\\'), rest.size());
        if (end == 0) return ERROR_BAD_PATHNAME;
        if (end > kRegistryMaxKeyNameLength) return ERROR_INVALID_PARAMETER;
        path.emplace_back(rest.substr(0, end));
        rest.remove_prefix(std::min(end + 1, rest.size()));
    }
    return ERROR_SUCCESS;
}

Hive HiveOf(Root root) {
    return root == Root::User ? Hive::User : Hive::Machine;
}

// Where a path of HKEY_CLASSES_ROOT lives inside either hive.
KeyPath ClassesPath(const KeyPath& path) {
    KeyPath physical{L"Software", L"Classes"};
    physical.insert(physical.end(), path.begin(), path.end());
    return physical;
}

KeyPath PhysicalPath(const HandleState& state) {
    return state.root == Root::Classes ? ClassesPath(state.path) : state.path;
}

// Whether the per-user key of a HKEY_CLASSES_ROOT path exists (it then takes the values and
// deletions of the merged view).
LONG UserClassesKeyExists(const KeyPath& path, bool& exists) {
    Key user;
    const LONG result = LoadHive(Hive::User, user);
    exists = result == ERROR_SUCCESS && FindKey(user, ClassesPath(path)) != nullptr;
    return result;
}

// The hive in which a handle's values and deletions take effect.
LONG TargetHive(const HandleState& state, Hive& hive) {
    if (state.root != Root::Classes) {
        hive = HiveOf(state.root);
        return ERROR_SUCCESS;
    }
    bool inUser = false;
    const LONG result = UserClassesKeyExists(state.path, inUser);
    hive = inUser ? Hive::User : Hive::Machine;
    return result;
}

// The key whose values a handle reads: loaded into `storage`, found at `key`.
LONG LoadForRead(const HandleState& state, Key& storage, const Key*& key) {
    key = nullptr;
    Hive hive = HiveOf(state.root);
    if (state.root == Root::Classes) {
        LONG result = LoadHive(Hive::User, storage);
        if (result != ERROR_SUCCESS) return result;
        if ((key = FindKey(storage, ClassesPath(state.path))) != nullptr) return ERROR_SUCCESS;
        hive = Hive::Machine;
    }
    LONG result = LoadHive(hive, storage);
    if (result != ERROR_SUCCESS) return result;
    key = FindKey(storage, PhysicalPath(state));
    if (key == nullptr && state.root == Root::Classes && state.path.empty()) {
        static const Key empty;  // HKEY_CLASSES_ROOT itself, with neither hive holding classes
        key = &empty;
    }
    return key != nullptr ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

// Checks a handle and its right to query, and loads the key whose values it reads.
LONG LoadValuesOf(HKEY key, HandleState& state, Key& storage, const Key*& target) {
    if (!Lookup(key, state)) return ERROR_INVALID_HANDLE;
    if ((state.access & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
    return LoadForRead(state, storage, target);
}

// Whether a key exists (in either hive for HKEY_CLASSES_ROOT).
LONG KeyExists(Root root, const KeyPath& path, bool& exists) {
    HandleState state{root, path, KEY_ALL_ACCESS};
    Key storage;
    const Key* key = nullptr;
    const LONG result = LoadForRead(state, storage, key);
    exists = result == ERROR_SUCCESS;
    return result == ERROR_KEY_DELETED ? ERROR_SUCCESS : result;
}

// Runs `change` on the key of `state` in the hive where its values take effect.
LONG ModifyKey(const HandleState& state, const std::function<LONG(Key&, bool&)>& change) {
    Hive hive;
    LONG result = TargetHive(state, hive);
    if (result != ERROR_SUCCESS) return result;
    const KeyPath path = PhysicalPath(state);
    return ModifyHive(hive, [&](Key& root, bool& changed) -> LONG {
        Key* key = FindKey(root, path);
        if (key == nullptr && state.root == Root::Classes && state.path.empty()) {
            // Values set on HKEY_CLASSES_ROOT itself create the machine's Software\Classes.
            key = &root;
            for (const std::wstring& name : path) {
                auto& slot = key->subkeys[name];
                if (!slot) slot = std::make_unique<Key>();
                key = slot.get();
            }
            changed = true;
        }
        if (key == nullptr) return ERROR_KEY_DELETED;
        return change(*key, changed);
    });
}

// Subkey names of a handle's key (the union of both hives for HKEY_CLASSES_ROOT), in order.
LONG SubkeyNames(const HandleState& state, std::vector<std::wstring>& names) {
    names.clear();
    bool found = false;
    const auto collect = [&](Hive hive, const KeyPath& path) -> LONG {
        Key storage;
        const LONG result = LoadHive(hive, storage);
        if (result != ERROR_SUCCESS) return result;
        if (const Key* key = FindKey(storage, path)) {
            found = true;
            for (const auto& entry : key->subkeys) {
                const bool seen = std::any_of(names.begin(), names.end(), [&](const auto& name) {
                    return NamesEqual(name, entry.first);
                });
                if (!seen) names.push_back(entry.first);
            }
        }
        return ERROR_SUCCESS;
    };
    LONG result = ERROR_SUCCESS;
    if (state.root == Root::Classes) {
        result = collect(Hive::User, ClassesPath(state.path));
        if (result == ERROR_SUCCESS) result = collect(Hive::Machine, ClassesPath(state.path));
        found = found || state.path.empty();
    } else {
        result = collect(HiveOf(state.root), state.path);
    }
    if (result != ERROR_SUCCESS) return result;
    if (!found) return ERROR_KEY_DELETED;
    std::sort(names.begin(), names.end(), NameLess{});
    return ERROR_SUCCESS;
}

// Copies a name into a caller's buffer of *length characters; *length becomes its length.
LONG CopyName(const std::wstring& name, LPWSTR buffer, LPDWORD length) {
    if (name.size() + 1 > *length) return ERROR_MORE_DATA;
    std::copy(name.begin(), name.end(), buffer);
    buffer[name.size()] = L'\0';
    *length = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

// Copies value data as RegQueryValueExW does.
LONG CopyData(const Value& value, LPDWORD type, LPBYTE data, LPDWORD size) {
    if (type != nullptr) *type = value.type;
    const DWORD needed = static_cast<DWORD>(value.data.size());
    if (data != nullptr) {
        if (*size < needed) {
            *size = needed;
            return ERROR_MORE_DATA;
        }
        std::memcpy(data, value.data.data(), value.data.size());
    }
    if (size != nullptr) *size = needed;
    return ERROR_SUCCESS;
}

std::wstring ValueName(LPCWSTR name) {
    return name == nullptr ? std::wstring() : std::wstring(name);
}

// Deletes the key at `path` below `root` (a hive's root key): the whole tree, or only when it
// has no subkeys.
LONG DeleteKeyAt(Key& root, const KeyPath& path, bool wholeTree, bool& changed) {
    KeyPath parentPath(path.begin(), path.end() - 1);
    Key* parent = FindKey(root, parentPath);
    if (parent == nullptr) return ERROR_FILE_NOT_FOUND;
    auto it = parent->subkeys.find(path.back());
    if (it == parent->subkeys.end()) return ERROR_FILE_NOT_FOUND;
    if (!wholeTree && !it->second->subkeys.empty()) return ERROR_ACCESS_DENIED;
    parent->subkeys.erase(it);
    changed = true;
    return ERROR_SUCCESS;
}

// Runs `body` and turns an allocation failure into its registry result.
template <class Body>
LSTATUS Guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}
}  // namespace

LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD /*reserved*/, LPWSTR /*keyClass*/,
                        DWORD /*options*/, REGSAM access, const void* /*securityAttributes*/,
                        PHKEY result, LPDWORD disposition) {
    if (result == nullptr) return ERROR_BADKEY;
    *result = nullptr;
    return Guarded([&]() -> LSTATUS {
        HandleState parent;
        if (!Lookup(key, parent)) return ERROR_INVALID_HANDLE;
        HandleState state{parent.root, parent.path, access};
        LONG status = AppendSubKey(subKey, state.path);
        if (status != ERROR_SUCCESS) return status;
        const KeyPath physical = PhysicalPath(state);
        if (physical.size() > kRegistryMaxDepth) return ERROR_INVALID_PARAMETER;

        bool created = false;
        bool exists = false;
        if (state.root == Root::Classes) {
            // An existing key of the merged view is opened; a new one goes to the machine.
            status = KeyExists(Root::Classes, state.path, exists);
            if (status == ERROR_SUCCESS && !exists) {
                bool parentExists = false;
                status = KeyExists(Root::Classes, parent.path, parentExists);
                if (status == ERROR_SUCCESS && !parentExists) status = ERROR_KEY_DELETED;
            }
            if (status != ERROR_SUCCESS) return status;
        }
        if (!exists) {
            // Below a per-user or machine handle, the handle's own key must still exist.
            const std::size_t existingDepth = state.root == Root::Classes ? 0 : parent.path.size();
            status = ModifyHive(HiveOf(state.root), [&](Key& root, bool& changed) -> LONG {
                Key* current = &root;
                for (std::size_t i = 0; i < physical.size(); ++i) {
                    auto it = current->subkeys.find(physical[i]);
                    if (it == current->subkeys.end()) {
                        if (i < existingDepth) return ERROR_KEY_DELETED;
                        it = current->subkeys.emplace(physical[i], std::make_unique<Key>()).first;
                        created = changed = true;
                    }
                    current = it->second.get();
                }
                return ERROR_SUCCESS;
            });
            if (status != ERROR_SUCCESS) return status;
        }
        *result = NewHandle(std::move(state));
        if (disposition != nullptr) {
            *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
        }
        return ERROR_SUCCESS;
    });
}

LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD /*options*/, REGSAM access, PHKEY result) {
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    return Guarded([&]() -> LSTATUS {
        HandleState state;
        if (!Lookup(key, state)) return ERROR_INVALID_HANDLE;
        if (IsPredefined(key) && (subKey == nullptr || subKey[0] == L'\0')) {
            *result = key;
            return ERROR_SUCCESS;
        }
        state.access = access;
        LONG status = AppendSubKey(subKey, state.path);
        if (status != ERROR_SUCCESS) return status;
        bool exists = false;
        status = KeyExists(state.root, state.path, exists);
        if (status != ERROR_SUCCESS) return status;
        if (!exists) return ERROR_FILE_NOT_FOUND;
        *result = NewHandle(std::move(state));
        return ERROR_SUCCESS;
    });
}

LSTATUS RegCloseKey(HKEY key) {
    if (IsPredefined(key)) return ERROR_SUCCESS;
    HandleTable& table = Handles();
    std::lock_guard guard(table.lock);
    return table.handles.erase(reinterpret_cast<std::uintptr_t>(key)) == 1 ? ERROR_SUCCESS
                                                                           : ERROR_INVALID_HANDLE;
}

LSTATUS RegSetValueExW(HKEY key, LPCWSTR name, DWORD /*reserved*/, DWORD type, const BYTE* data,
                       DWORD size) {
    return Guarded([&]() -> LSTATUS {
        HandleState state;
        if (!Lookup(key, state)) return ERROR_INVALID_HANDLE;
        if ((state.access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
        if (data == nullptr && size != 0) return ERROR_NOACCESS;
        std::wstring valueName = ValueName(name);
        if (valueName.size() > kRegistryMaxValueNameLength) return ERROR_INVALID_PARAMETER;
        Value value{type, std::string(reinterpret_cast<const char*>(data), size)};
        return ModifyKey(state, [&](Key& target, bool& changed) -> LONG {
            target.values[valueName] = std::move(value);
            changed = true;
            return ERROR_SUCCESS;
        });
    });
}

LSTATUS RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD size) {
    return Guarded([&]() -> LSTATUS {
        if (reserved != nullptr || (data != nullptr && size == nullptr)) {
            return ERROR_INVALID_PARAMETER;
        }
        HandleState state;
        Key storage;
        const Key* target = nullptr;
        const LONG status = LoadValuesOf(key, state, storage, target);
        if (status != ERROR_SUCCESS) return status;
        auto it = target->values.find(ValueName(name));
        if (it == target->values.end()) return ERROR_FILE_NOT_FOUND;
        return CopyData(it->second, type, data, size);
    });
}

LSTATUS RegDeleteValueW(HKEY key, LPCWSTR name) {
    return Guarded([&]() -> LSTATUS {
        HandleState state;
        if (!Lookup(key, state)) return ERROR_INVALID_HANDLE;
        if ((state.access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
        const std::wstring valueName = ValueName(name);
        return ModifyKey(state, [&](Key& target, bool& changed) -> LONG {
            if (target.values.erase(valueName) == 0) return ERROR_FILE_NOT_FOUND;
            changed = true;
            return ERROR_SUCCESS;
        });
    });
}

// Deleting a key: `wholeTree` removes its subkeys too; `contentsOnly` keeps the key itself.
static LSTATUS DeleteKey(HKEY key, LPCWSTR subKey, bool wholeTree, bool contentsOnly) {
    return Guarded([&]() -> LSTATUS {
        HandleState state;
        if (!Lookup(key, state)) return ERROR_INVALID_HANDLE;
        LONG status = AppendSubKey(subKey, state.path);
        if (status != ERROR_SUCCESS) return status;
        if (!contentsOnly && state.path.empty()) return ERROR_ACCESS_DENIED;  // a root stays
        Hive hive;
        status = TargetHive(state, hive);
        if (status != ERROR_SUCCESS) return status;
        const KeyPath path = PhysicalPath(state);
        return ModifyHive(hive, [&](Key& root, bool& changed) -> LONG {
            if (!contentsOnly) return DeleteKeyAt(root, path, wholeTree, changed);
            Key* target = FindKey(root, path);
            if (target == nullptr) return state.path.empty() ? ERROR_SUCCESS : ERROR_KEY_DELETED;
            changed = !target->values.empty() || !target->subkeys.empty();
            target->values.clear();
            target->subkeys.clear();
            return ERROR_SUCCESS;
        });
    });
}

LSTATUS RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
    if (subKey == nullptr) return ERROR_INVALID_PARAMETER;
    return DeleteKey(key, subKey, false, false);
}

LSTATUS RegDeleteTreeW(HKEY key, LPCWSTR subKey) {
    const bool contentsOnly = subKey == nullptr || subKey[0] == L'\0';
    return DeleteKey(key, subKey, true, contentsOnly);
}

LSTATUS RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved,
                      LPWSTR keyClass, LPDWORD classLength, FILETIME* lastWriteTime) {
    return Guarded([&]() -> LSTATUS {
        HandleState state;
        if (!Lookup(key, state)) return ERROR_INVALID_HANDLE;
        if (name == nullptr || nameLength == nullptr || reserved != nullptr) {
            return ERROR_INVALID_PARAMETER;
        }
        if ((state.access & KEY_ENUMERATE_SUB_KEYS) == 0) return ERROR_ACCESS_DENIED;
        std::vector<std::wstring> names;
        const LONG status = SubkeyNames(state, names);
        if (status != ERROR_SUCCESS) return status;
        if (index >= names.size()) return ERROR_NO_MORE_ITEMS;
        if (CopyName(names[index], name, nameLength) != ERROR_SUCCESS) return ERROR_MORE_DATA;
        if (keyClass != nullptr && classLength != nullptr && *classLength > 0) keyClass[0] = 0;
        if (classLength != nullptr) *classLength = 0;
        if (lastWriteTime != nullptr) *lastWriteTime = FILETIME{0, 0};
        return ERROR_SUCCESS;
    });
}

LSTATUS RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved,
                      LPDWORD type, LPBYTE data, LPDWORD size) {
    return Guarded([&]() -> LSTATUS {
        if (name == nullptr || nameLength == nullptr || reserved != nullptr ||
            (data != nullptr && size == nullptr)) {
            return ERROR_INVALID_PARAMETER;
        }
        HandleState state;
        Key storage;
        const Key* target = nullptr;
        const LONG status = LoadValuesOf(key, state, storage, target);
        if (status != ERROR_SUCCESS) return status;
        if (index >= target->values.size()) return ERROR_NO_MORE_ITEMS;
        const auto entry = std::next(target->values.begin(), index);
        if (CopyName(entry->first, name, nameLength) != ERROR_SUCCESS) return ERROR_MORE_DATA;
        return CopyData(entry->second, type, data, size);
    });
}

LSTATUS RegQueryInfoKeyW(HKEY key, LPWSTR keyClass, LPDWORD classLength, LPDWORD reserved,
                         LPDWORD subKeys, LPDWORD maxSubKeyLength, LPDWORD maxClassLength,
                         LPDWORD values, LPDWORD maxValueNameLength, LPDWORD maxValueLength,
                         LPDWORD securityDescriptorSize, FILETIME* lastWriteTime) {
    return Guarded([&]() -> LSTATUS {
        if (reserved != nullptr) return ERROR_INVALID_PARAMETER;
        HandleState state;
        Key storage;
        const Key* target = nullptr;
        std::vector<std::wstring> names;
        LONG status = LoadValuesOf(key, state, storage, target);
        if (status == ERROR_SUCCESS) status = SubkeyNames(state, names);
        if (status != ERROR_SUCCESS) return status;
        DWORD longestName = 0;
        for (const auto& subkey : names) {
            longestName = std::max(longestName, static_cast<DWORD>(subkey.size()));
        }
        DWORD longestValueName = 0;
        DWORD largestValue = 0;
        for (const auto& [valueName, value] : target->values) {
            longestValueName = std::max(longestValueName, static_cast<DWORD>(valueName.size()));
            largestValue = std::max(largestValue, static_cast<DWORD>(value.data.size()));
        }
        if (keyClass != nullptr && classLength != nullptr && *classLength > 0) keyClass[0] = 0;
        if (classLength != nullptr) *classLength = 0;
        if (subKeys != nullptr) *subKeys = static_cast<DWORD>(names.size());
        if (maxSubKeyLength != nullptr) *maxSubKeyLength = longestName;
        if (maxClassLength != nullptr) *maxClassLength = 0;
        if (values != nullptr) *values = static_cast<DWORD>(target->values.size());
        if (maxValueNameLength != nullptr) *maxValueNameLength = longestValueName;
        if (maxValueLength != nullptr) *maxValueLength = largestValue;
        if (securityDescriptorSize != nullptr) *securityDescriptorSize = 0;
        if (lastWriteTime != nullptr) *lastWriteTime = FILETIME{0, 0};
        return ERROR_SUCCESS;
    });
}

std::wstring RegistryHiveFile(HKEY root) {
    if (root == HKEY_LOCAL_MACHINE) return Utf8ToWide(HiveFilePath(Hive::Machine));
    if (root == HKEY_CURRENT_USER) return Utf8ToWide(HiveFilePath(Hive::User));
    return {};
}

namespace registry_detail {
LONG QueryStringValue(HKEY key, LPCWSTR subKey, LPCWSTR name, std::wstring& value) {
    value.clear();
    HKEY raw = nullptr;
    LONG status = RegOpenKeyExW(key, subKey, 0, KEY_QUERY_VALUE, &raw);
    if (status != ERROR_SUCCESS) return status;
    UniqueRegistryKey opened(raw);
    // The value may change between the two calls; then ask again.
    for (int attempt = 0; attempt < 8; ++attempt) {
        DWORD type = REG_NONE;
        DWORD size = 0;
        status = RegQueryValueExW(opened.get(), name, nullptr, &type, nullptr, &size);
        if (status != ERROR_SUCCESS) return status;
        if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_DATA;
        std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
        DWORD capacity = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        status = RegQueryValueExW(opened.get(), name, nullptr, &type,
                                  reinterpret_cast<LPBYTE>(text.data()), &capacity);
        if (status == ERROR_MORE_DATA) continue;
        if (status != ERROR_SUCCESS) return status;
        if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_DATA;
        text.resize(capacity / sizeof(wchar_t));
        // The stored terminator (or any trailing ones) is not part of the text.
        const std::size_t end = text.find(L'\0');
        if (end != std::wstring::npos) text.resize(end);
        value = std::move(text);
        return ERROR_SUCCESS;
    }
    return ERROR_MORE_DATA;
}

LONG SetStringValue(HKEY key, LPCWSTR name, std::wstring_view value) {
    const std::wstring text(value);
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}
}  // namespace registry_detail
