// The calling thread's locale (GetThreadLocale/SetThreadLocale). Nothing here formats or
// compares by locale; the value is kept so that code which saves, changes and restores it
// (registration does) behaves as on Windows.
//
// Difference from Windows: a thread starts with 0x0409 (English, United States), and
// SetThreadLocale accepts any non-zero identifier without checking that such a locale exists.
#pragma once

#include "platform/posix/Types.h"

using LANGID = WORD;
constexpr LANGID LANG_SYSTEM_DEFAULT = 0x0800;
constexpr LANGID LANG_USER_DEFAULT = 0x0400;
constexpr LCID kDefaultThreadLocale = 0x0409;

extern "C" {
PLATFORM_API LCID GetThreadLocale();
// FALSE (and the locale unchanged) for 0.
PLATFORM_API BOOL SetThreadLocale(LCID locale);
}
