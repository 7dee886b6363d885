// Text conversion between wide strings and the "ANSI code page", which is UTF-8 here (as on
// Windows with code page 65001). Malformed input is replaced by U+FFFD, never read past.
#pragma once

#include <string>
#include <string_view>

#include "platform/Types.h"

constexpr UINT CP_ACP = 0;
constexpr UINT CP_UTF8 = 65001;

extern "C" {
// Windows semantics: `sourceBytes` -1 converts through the terminator (which is counted);
// `capacity` 0 returns the number of characters needed; otherwise converts into `target` and
// returns the characters written, or 0 when they do not fit (nothing is written past
// `capacity`). Only CP_ACP and CP_UTF8 are known; other code pages return 0.
PLATFORM_API int MultiByteToWideChar(UINT codePage, DWORD flags, const char* source, int sourceBytes,
                                     wchar_t* target, int capacity);
// The reverse; `capacity` and the result count bytes.
PLATFORM_API int WideCharToMultiByte(UINT codePage, DWORD flags, const wchar_t* source, int sourceCharacters,
                                     char* target, int capacity, const char* defaultChar, BOOL* usedDefault);
}

// Convenience forms for our own code (throw std::bad_alloc only).
PLATFORM_API std::string WideToUtf8(std::wstring_view text);
PLATFORM_API std::wstring Utf8ToWide(std::string_view text);
