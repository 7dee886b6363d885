// Automation strings. A BSTR points at its first character; the 4 bytes before it hold the
// string's length in bytes, and a terminator follows the characters, as on Windows. Here a
// character is a 4-byte wchar_t, so SysStringByteLen is 4 × SysStringLen for strings built
// from characters.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "platform/posix/Types.h"

extern "C" {
// A copy of the zero-terminated `text`; null in gives null out.
PLATFORM_API BSTR SysAllocString(const OLECHAR* text);
// `length` characters copied from `text`, or zeroed when `text` is null; null when out of memory
// or when the string would take 2 GiB or more (here from 0x1FFFFFFE characters on).
PLATFORM_API BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
// `length` bytes copied from `bytes` (zeroed when null, where Windows leaves them undefined),
// followed by zero bytes up to and including a whole terminating OLECHAR. An odd length is kept
// in the prefix; SysStringLen counts only whole characters. Null from 0x7FFFFFF8 bytes on.
PLATFORM_API BSTR SysAllocStringByteLen(const char* bytes, UINT length);
// Frees a BSTR; null is allowed.
PLATFORM_API void SysFreeString(BSTR text);
// Characters in the string (byte length / 4); 0 for null.
PLATFORM_API UINT SysStringLen(BSTR text);
// Bytes in the string, without the terminator; 0 for null.
PLATFORM_API UINT SysStringByteLen(BSTR text);
// Replaces *target with a copy of `text` (which may point into *target); FALSE when out of memory
// (target unchanged). A null `text` leaves *target null.
PLATFORM_API INT SysReAllocString(BSTR* target, const OLECHAR* text);
// Compares two BSTRs; a null BSTR equals an empty one. Returns VARCMP_LT, VARCMP_EQ or VARCMP_GT.
// `locale` 0 compares the bytes and then the byte lengths, as on Windows. Any other locale
// compares whole characters by code point and then the lengths, with NORM_IGNORECASE folding
// case by the Unicode simple mappings (other flags are ignored). Difference from Windows, which
// compares linguistically there: the order of letters can differ ('A' < 'a' here, 'a' < 'A'
// there), and characters that a linguistic sort ignores (a trailing zero, for one) count here.
// Equality of ordinary text, with or without NORM_IGNORECASE, is the same on both.
PLATFORM_API HRESULT VarBstrCmp(BSTR left, BSTR right, LCID locale, ULONG flags);
}

constexpr HRESULT VARCMP_LT = 0;
constexpr HRESULT VARCMP_EQ = 1;
constexpr HRESULT VARCMP_GT = 2;
constexpr ULONG NORM_IGNORECASE = 0x00000001;
constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;
