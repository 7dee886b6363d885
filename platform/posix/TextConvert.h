// Text conversion between wide strings and the "ANSI code page", which is UTF-8 here (as on
// Windows with code page 65001). Malformed input is replaced by U+FFFD, never read past: one
// U+FFFD for each longest valid start of a sequence, or for each byte that starts none.
// Difference from Windows: a wide character is a UTF-32 unit here, so a character beyond U+FFFF
// is one wchar_t (two on Windows); a wchar_t that is no Unicode scalar value (a surrogate,
// above U+10FFFF) is written as U+FFFD.
#pragma once

#include <string>
#include <string_view>

#include "platform/posix/Types.h"

constexpr UINT CP_ACP = 0;
constexpr UINT CP_UTF8 = 65001;

extern "C" {
// The system's ANSI code page: always CP_UTF8 here (on Windows usually 1252).
PLATFORM_API UINT GetACP();
// Windows semantics: `sourceBytes` -1 converts through the terminator (which is counted), any
// other length converts exactly that many bytes and adds no terminator; 0 or less than -1 is a
// failure (0). `capacity` 0 returns the number of characters needed without writing; otherwise
// converts into `target` and returns the characters written, or 0 when they do not fit (then
// the characters that fit may have been written, but nothing past `capacity`). Only CP_ACP and
// CP_UTF8 are known; other code pages return 0. `flags` are ignored.
PLATFORM_API int MultiByteToWideChar(UINT codePage, DWORD flags, const char* source,
                                     int sourceBytes, wchar_t* target, int capacity);
// The reverse; `capacity` and the result count bytes, and a character is written whole or not
// at all. `defaultChar` is ignored and *usedDefault is always FALSE (Windows refuses both for
// CP_UTF8), since every character has a UTF-8 form.
PLATFORM_API int WideCharToMultiByte(UINT codePage, DWORD flags, const wchar_t* source,
                                     int sourceCharacters, char* target, int capacity,
                                     const char* defaultChar, BOOL* usedDefault);
}
