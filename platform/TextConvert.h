// Text conversion: the system's MultiByteToWideChar and WideCharToMultiByte (platform/System.h),
// and UTF-8 forms for our own code.
#pragma once

#include <string>
#include <string_view>

#include "platform/Platform.h"
#include "platform/System.h"

// UTF-8 to and from wide strings (UTF-16 on Windows, UTF-32 on the stand-in); malformed input
// becomes U+FFFD. Throw std::bad_alloc only.
PLATFORM_API std::string WideToUtf8(std::wstring_view text);
PLATFORM_API std::wstring Utf8ToWide(std::string_view text);
