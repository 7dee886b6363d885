#include "platform/TextConvert.h"

#include <cstring>
#include <cwchar>

namespace {
constexpr char32_t kReplacement = 0xFFFD;

// Decodes one UTF-8 sequence from [text, end), which is not empty. Malformed or truncated input
// yields one U+FFFD for its longest valid start (at least one byte), the replacement practice of
// the Unicode standard; no byte at or past `end` is read.
char32_t DecodeOne(const unsigned char*& text, const unsigned char* end) {
    const unsigned char lead = *text++;
    if (lead < 0x80) return lead;
    int extra;
    char32_t value;
    // The range of the second byte excludes overlong forms, surrogates and values past U+10FFFF.
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1, value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2, value = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3, value = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return kReplacement;
    }
    for (int i = 0; i < extra; ++i) {
        if (text == end || *text < low || *text > high) return kReplacement;
        value = (value << 6) | (*text++ & 0x3F);
        low = 0x80, high = 0xBF;
    }
    return value;
}

// Encodes one character; returns the bytes used (1 to 4) in `out`.
int EncodeOne(char32_t value, unsigned char out[4]) {
    if (value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) value = kReplacement;
    if (value < 0x80) {
        out[0] = static_cast<unsigned char>(value);
        return 1;
    }
    if (value < 0x800) {
        out[0] = static_cast<unsigned char>(0xC0 | (value >> 6));
        out[1] = static_cast<unsigned char>(0x80 | (value & 0x3F));
        return 2;
    }
    if (value < 0x10000) {
        out[0] = static_cast<unsigned char>(0xE0 | (value >> 12));
        out[1] = static_cast<unsigned char>(0x80 | ((value >> 6) & 0x3F));
        out[2] = static_cast<unsigned char>(0x80 | (value & 0x3F));
        return 3;
    }
    out[0] = static_cast<unsigned char>(0xF0 | (value >> 18));
    out[1] = static_cast<unsigned char>(0x80 | ((value >> 12) & 0x3F));
    out[2] = static_cast<unsigned char>(0x80 | ((value >> 6) & 0x3F));
    out[3] = static_cast<unsigned char>(0x80 | (value & 0x3F));
    return 4;
}

bool KnownCodePage(UINT codePage) {
    return codePage == CP_ACP || codePage == CP_UTF8;
}

// Every count goes back to the caller as an int.
constexpr std::size_t kMaxCount = 0x7FFFFFFF;
}  // namespace

int MultiByteToWideChar(UINT codePage, DWORD /*flags*/, const char* source, int sourceBytes,
                        wchar_t* target, int capacity) {
    if (!KnownCodePage(codePage) || source == nullptr || sourceBytes < -1 || capacity < 0) return 0;
    if (capacity > 0 && target == nullptr) return 0;
    const std::size_t length =
        sourceBytes == -1 ? std::strlen(source) + 1 : static_cast<std::size_t>(sourceBytes);
    if (length == 0 || length > kMaxCount) return 0;
    const auto* text = reinterpret_cast<const unsigned char*>(source);
    const unsigned char* end = text + length;
    int written = 0;
    while (text < end) {
        const char32_t value = DecodeOne(text, end);
        if (capacity > 0) {
            if (written >= capacity) return 0;
            target[written] = static_cast<wchar_t>(value);
        }
        ++written;
    }
    return written;
}

int WideCharToMultiByte(UINT codePage, DWORD /*flags*/, const wchar_t* source, int sourceCharacters,
                        char* target, int capacity, const char* /*defaultChar*/,
                        BOOL* usedDefault) {
    if (usedDefault != nullptr) *usedDefault = FALSE;
    if (!KnownCodePage(codePage) || source == nullptr || sourceCharacters < -1 || capacity < 0)
        return 0;
    if (capacity > 0 && target == nullptr) return 0;
    const std::size_t length = sourceCharacters == -1 ? std::wcslen(source) + 1
                                                      : static_cast<std::size_t>(sourceCharacters);
    if (length == 0 || length > kMaxCount) return 0;
    int written = 0;
    for (std::size_t i = 0; i < length; ++i) {
        unsigned char bytes[4];
        const int count = EncodeOne(static_cast<char32_t>(source[i]), bytes);
        if (capacity > 0) {
            if (count > capacity - written) return 0;
            for (int b = 0; b < count; ++b) target[written + b] = static_cast<char>(bytes[b]);
        } else if (count > static_cast<int>(kMaxCount) - written) {
            return 0;  // the measure would not fit in an int
        }
        written += count;
    }
    return written;
}

std::string WideToUtf8(std::wstring_view text) {
    std::string result;
    result.reserve(text.size());
    for (wchar_t c : text) {
        unsigned char bytes[4];
        const int count = EncodeOne(static_cast<char32_t>(c), bytes);
        result.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(count));
    }
    return result;
}

std::wstring Utf8ToWide(std::string_view text) {
    std::wstring result;
    result.reserve(text.size());
    const auto* cursor = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* end = cursor + text.size();
    while (cursor < end) result.push_back(static_cast<wchar_t>(DecodeOne(cursor, end)));
    return result;
}

UINT GetACP() {
    return CP_UTF8;
}
