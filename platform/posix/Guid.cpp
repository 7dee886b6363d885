#include "platform/Guid.h"

#include <cwchar>

namespace {
const wchar_t kHexDigits[] = L"0123456789ABCDEF";
constexpr std::size_t kBracedLength = 38;  // braces, 32 digits, 4 dashes

void PutHex(wchar_t*& out, std::uint32_t value, int digits) {
    for (int i = digits - 1; i >= 0; --i) *out++ = kHexDigits[(value >> (4 * i)) & 0xF];
}

bool ParseHex(const wchar_t* text, int digits, std::uint32_t& value) {
    value = 0;
    for (int i = 0; i < digits; ++i) {
        const wchar_t c = text[i];
        std::uint32_t digit;
        if (c >= L'0' && c <= L'9')
            digit = static_cast<std::uint32_t>(c - L'0');
        else if (c >= L'a' && c <= L'f')
            digit = static_cast<std::uint32_t>(c - L'a' + 10);
        else if (c >= L'A' && c <= L'F')
            digit = static_cast<std::uint32_t>(c - L'A' + 10);
        else
            return false;
        value = value * 16 + digit;
    }
    return true;
}

// Parses the braced form of exactly kBracedLength characters; false for anything else, with
// `guid` unchanged.
bool ParseBraced(const wchar_t* text, GUID& guid) {
    if (std::wcslen(text) != kBracedLength || text[0] != L'{' || text[37] != L'}' ||
        text[9] != L'-' || text[14] != L'-' || text[19] != L'-' || text[24] != L'-') {
        return false;
    }
    GUID g{};
    std::uint32_t value = 0;
    if (!ParseHex(text + 1, 8, value)) return false;
    g.Data1 = value;
    if (!ParseHex(text + 10, 4, value)) return false;
    g.Data2 = static_cast<WORD>(value);
    if (!ParseHex(text + 15, 4, value)) return false;
    g.Data3 = static_cast<WORD>(value);
    for (int i = 0; i < 2; ++i) {
        if (!ParseHex(text + 20 + 2 * i, 2, value)) return false;
        g.Data4[i] = static_cast<BYTE>(value);
    }
    for (int i = 0; i < 6; ++i) {
        if (!ParseHex(text + 25 + 2 * i, 2, value)) return false;
        g.Data4[2 + i] = static_cast<BYTE>(value);
    }
    guid = g;
    return true;
}
}  // namespace

int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int capacity) {
    constexpr int kChars = kBracedLength + 1;
    if (buffer == nullptr || capacity < kChars) return 0;
    wchar_t* out = buffer;
    *out++ = L'{';
    PutHex(out, guid.Data1, 8);
    *out++ = L'-';
    PutHex(out, guid.Data2, 4);
    *out++ = L'-';
    PutHex(out, guid.Data3, 4);
    *out++ = L'-';
    PutHex(out, guid.Data4[0], 2);
    PutHex(out, guid.Data4[1], 2);
    *out++ = L'-';
    for (int i = 2; i < 8; ++i) PutHex(out, guid.Data4[i], 2);
    *out++ = L'}';
    *out = L'\0';
    return kChars;
}

HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid) {
    if (clsid == nullptr) return E_INVALIDARG;
    if (text == nullptr) {
        *clsid = GUID_NULL;
        return S_OK;
    }
    return ParseBraced(text, *clsid) ? S_OK : CO_E_CLASSSTRING;
}

HRESULT IIDFromString(LPCOLESTR text, IID* iid) {
    if (iid == nullptr) return E_INVALIDARG;
    if (text == nullptr) {
        *iid = GUID_NULL;
        return S_OK;
    }
    if (std::wcslen(text) != kBracedLength) return E_INVALIDARG;
    return ParseBraced(text, *iid) ? S_OK : CO_E_IIDSTRING;
}
