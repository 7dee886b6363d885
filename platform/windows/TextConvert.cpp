#include "platform/TextConvert.h"

#include <climits>
#include <new>

// UTF-8 through the system's conversions: without MB_ERR_INVALID_CHARS malformed input becomes
// U+FFFD, and a lone surrogate is written as U+FFFD.

std::string WideToUtf8(std::wstring_view text) {
    if (text.empty()) return {};
    if (text.size() > INT_MAX / 3) throw std::bad_alloc();
    const int length = static_cast<int>(text.size());
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(bytes), '\0');
    if (bytes > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text.data(), length, out.data(), bytes, nullptr, nullptr);
    }
    return out;
}

std::wstring Utf8ToWide(std::string_view text) {
    if (text.empty()) return {};
    if (text.size() > INT_MAX) throw std::bad_alloc();
    const int length = static_cast<int>(text.size());
    const int characters = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(characters), L'\0');
    if (characters > 0) {
        MultiByteToWideChar(CP_UTF8, 0, text.data(), length, out.data(), characters);
    }
    return out;
}
