// Text conversion in the "ANSI code page" (UTF-8): lengths with and without terminator, nothing
// written past a capacity, and malformed input as replacement characters.
#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <memory>

#include "platform/TextConvert.h"

namespace {
constexpr wchar_t kUntouched = L'#';

// Converts `bytes` from a heap block of exactly their size, so that a read past the end is
// caught by the address sanitizer.
std::wstring Decode(std::string_view bytes) {
    auto block = std::make_unique<char[]>(bytes.size());
    std::memcpy(block.get(), bytes.data(), bytes.size());
    const int length = static_cast<int>(bytes.size());
    const int needed = MultiByteToWideChar(CP_ACP, 0, block.get(), length, nullptr, 0);
    std::wstring text(static_cast<std::size_t>(needed), kUntouched);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, block.get(), length, text.data(), needed), needed);
    return text;
}
}  // namespace

TEST(TextConvert, CapacitiesHoldAndMalformedInputBecomesReplacementCharacters) {
    wchar_t text[8];
    std::wmemset(text, kUntouched, 8);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, text, 8), 4);
    EXPECT_EQ(std::wstring(text, 5), std::wstring(L"abc\0#", 5));
    // Too small: nothing past the capacity, and 0.
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abcd", -1, text, 4), 0);  // the terminator
    EXPECT_EQ(text[4], kUntouched);
    // The other way: a character that does not fit whole is not started.
    char bytes[8];
    std::memset(bytes, '#', sizeof bytes);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, L"a\u20AC", 2, bytes, 3, nullptr, nullptr), 0);
    EXPECT_EQ(bytes[1], '#');
    EXPECT_EQ(bytes[3], '#');

    // Malformed input becomes replacement characters.
    const std::wstring R = L"\uFFFD";
    const struct {
        std::string_view bytes;
        std::wstring expected;
    } cases[] = {
        {"\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80", L"\u00E4\u20AC\U0001F600"},  // 2, 3 and 4 bytes
        {"\xE2\x82(", R + L"("},      // interrupted sequence: one replacement
        {"\xC0\xAF", R + R},          // overlong '/'
        {"\xED\xA0\x80", R + R + R},  // a UTF-16 surrogate
    };
    for (const auto& c : cases) EXPECT_EQ(Decode(c.bytes), c.expected) << c.bytes;
    // A sequence cut by the given length is not completed from the bytes after it.
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "\xE2\x82\xAC", 2, text, 4), 1);
    EXPECT_EQ(text[0], L'\uFFFD');
}
