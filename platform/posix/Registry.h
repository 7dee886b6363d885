// The registry: keys and values with their Windows names, arguments and results.
//
// Hives. Two hives are files: the machine hive (HKEY_LOCAL_MACHINE) and the per-user hive
// (HKEY_CURRENT_USER). Environment variables choose them, so that tests and CI never touch real
// ones; each is read when an operation needs it:
//   ZEV_REGISTRY_MACHINE  the machine hive file; default /var/lib/zev-registry/machine.reg
//   ZEV_REGISTRY_USER     the per-user hive file; default $XDG_CONFIG_HOME/zev-registry/user.reg
//                         when XDG_CONFIG_HOME is an absolute path, else
//                         $HOME/.config/zev-registry/user.reg (the account's home folder when
//                         HOME is not set)
// A missing hive file is an empty hive; the first write creates it (and its folder). Every
// operation reads the hive file afresh, so a change by another process is seen at once.
// A write locks "<hive>.lock" with flock for its read-modify-write, so concurrent writers in
// any number of threads and processes never lose each other's changes, and replaces the hive
// file atomically (temporary file and rename), so a reader sees the old or the new hive whole.
// A damaged hive file fails every operation on that hive with ERROR_BADDB and is never
// overwritten.
//
// HKEY_CLASSES_ROOT is the merged view of HKEY_CURRENT_USER\Software\Classes over
// HKEY_LOCAL_MACHINE\Software\Classes, as on Windows:
//  - a key opens when it exists in either; its values (and RegQueryInfoKeyW) come from the
//    per-user key when that exists, else from the machine key; subkeys enumerate as the union;
//  - new keys are created under the machine's Software\Classes;
//  - values are set and deleted in the per-user key when that exists, else in the machine key;
//  - RegDeleteKeyW and RegDeleteTreeW act on the per-user key when it exists, else on the
//    machine key.
//
// Deliberate differences from Windows:
//  - A handle names a path, not a key object: when its key is deleted, operations through it
//    fail with ERROR_KEY_DELETED; if a key of that name is created again, the handle reaches it.
//  - Names compare case-insensitively over ASCII and Latin-1; other characters compare exactly.
//  - No security descriptors, classes, volatile keys, links, notifications or last-write times
//    (reported as zero). Access rights are checked only for querying values
//    (KEY_QUERY_VALUE), setting and deleting values (KEY_SET_VALUE) and enumerating subkeys
//    (KEY_ENUMERATE_SUB_KEYS).
//  - Values enumerate in name order (case-insensitive), not in order of creation.
//  - A hive file is limited to 64 MiB; a write that would exceed it fails with ERROR_CANTWRITE.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/posix/Types.h"

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
using REGSAM = DWORD;
using LSTATUS = LONG;
using LPDWORD = DWORD*;
using LPBYTE = BYTE*;

// Defined with the stream types (platform/MemoryStream.h); the registry reports it as zero.
struct FILETIME;

// The predefined keys; they are always open and RegCloseKey ignores them.
#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000000u)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002u)))

// Value types.
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_QWORD = 11;

// Access rights.
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

// RegCreateKeyExW options and dispositions.
constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Registry results beyond those of Types.h.
constexpr DWORD ERROR_BAD_PATHNAME = 161;
constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD ERROR_NOACCESS = 998;
constexpr DWORD ERROR_BADDB = 1009;
constexpr DWORD ERROR_KEY_DELETED = 1018;

extern "C" {
// Creates `subKey` (a path of names separated by '\', relative to `key`; intermediate keys are
// created too) or opens it when it exists. A leading '\' is ERROR_BAD_PATHNAME, trailing ones
// are ignored. `result` null: ERROR_BADKEY. `disposition` (optional) receives
// REG_CREATED_NEW_KEY or REG_OPENED_EXISTING_KEY. The handle has the rights in `access`.
PLATFORM_API LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass,
                                     DWORD options, REGSAM access, const void* securityAttributes,
                                     PHKEY result, LPDWORD disposition);
// Opens an existing key: ERROR_FILE_NOT_FOUND when it does not exist (*result null). A null or
// empty `subKey` opens a new handle to `key` itself (the predefined key itself when `key` is
// one). `result` null: ERROR_INVALID_PARAMETER; `key` null or closed: ERROR_INVALID_HANDLE.
PLATFORM_API LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access,
                                   PHKEY result);
// Closes a handle; ERROR_INVALID_HANDLE for null, unknown or already closed handles.
PLATFORM_API LSTATUS RegCloseKey(HKEY key);
// Sets a value (`name` null or empty: the key's default value) to `size` bytes of `data`
// stored as given (a REG_SZ's terminator is stored only when `size` counts it).
PLATFORM_API LSTATUS RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type,
                                    const BYTE* data, DWORD size);
// Reads a value: `type` (optional) receives its type; with `data` null, `size` (optional)
// receives its size in bytes; with `data`, *size is the buffer's size on entry and the value's
// size on return, ERROR_MORE_DATA when the buffer is too small (nothing is written then).
// ERROR_FILE_NOT_FOUND when the value does not exist.
PLATFORM_API LSTATUS RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type,
                                      LPBYTE data, LPDWORD size);
// Deletes a value; ERROR_FILE_NOT_FOUND when it does not exist.
PLATFORM_API LSTATUS RegDeleteValueW(HKEY key, LPCWSTR name);
// Deletes a key that has no subkeys (ERROR_ACCESS_DENIED when it has some), with its values.
// `subKey` empty deletes `key` itself; null is ERROR_INVALID_PARAMETER; a hive's root cannot
// be deleted (ERROR_ACCESS_DENIED).
PLATFORM_API LSTATUS RegDeleteKeyW(HKEY key, LPCWSTR subKey);
// Deletes `subKey` with all its subkeys and values; with `subKey` null or empty, deletes the
// subkeys and values of `key` but keeps `key`. ERROR_FILE_NOT_FOUND when `subKey` is missing.
PLATFORM_API LSTATUS RegDeleteTreeW(HKEY key, LPCWSTR subKey);
// The name of subkey `index` (in name order): *nameLength is the buffer's size in characters
// on entry and the name's length without terminator on return; ERROR_MORE_DATA when it does
// not fit, ERROR_NO_MORE_ITEMS past the last subkey.
PLATFORM_API LSTATUS RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength,
                                   LPDWORD reserved, LPWSTR keyClass, LPDWORD classLength,
                                   FILETIME* lastWriteTime);
// Value `index` (in name order): name as in RegEnumKeyExW, type and data as in
// RegQueryValueExW.
PLATFORM_API LSTATUS RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength,
                                   LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size);
// Counts and maxima of a key (name lengths in characters without terminator, data in bytes);
// every out parameter is optional.
PLATFORM_API LSTATUS RegQueryInfoKeyW(HKEY key, LPWSTR keyClass, LPDWORD classLength,
                                      LPDWORD reserved, LPDWORD subKeys, LPDWORD maxSubKeyLength,
                                      LPDWORD maxClassLength, LPDWORD values,
                                      LPDWORD maxValueNameLength, LPDWORD maxValueLength,
                                      LPDWORD securityDescriptorSize, FILETIME* lastWriteTime);
}

// The hive file behind HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER as the environment chooses it
// now (empty for any other key). Tools show it; the registry itself reads it on every call.
PLATFORM_API std::wstring RegistryHiveFile(HKEY root);
