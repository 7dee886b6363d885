// GUID, its text form, and the one macro that attaches an identifier to an interface.
#pragma once

#include <cstring>

#include "platform/Types.h"

struct GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
};
static_assert(sizeof(GUID) == 16);

using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

inline bool operator==(const GUID& a, const GUID& b) {
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}
inline bool operator!=(const GUID& a, const GUID& b) {
    return !(a == b);
}
inline bool IsEqualGUID(REFGUID a, REFGUID b) {
    return a == b;
}
inline bool IsEqualIID(REFIID a, REFIID b) {
    return a == b;
}
inline bool IsEqualCLSID(REFCLSID a, REFCLSID b) {
    return a == b;
}

constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

namespace guid_detail {
constexpr int HexDigit(char c) {
    return (c >= '0' && c <= '9')   ? c - '0'
           : (c >= 'a' && c <= 'f') ? c - 'a' + 10
           : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                    : throw "GUID text has a character that is not a hex digit";
}
constexpr std::uint32_t Hex(const char* text, int digits) {
    std::uint32_t value = 0;
    for (int i = 0; i < digits; ++i)
        value = value * 16 + static_cast<std::uint32_t>(HexDigit(text[i]));
    return value;
}
}  // namespace guid_detail

// Parses "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" (no braces) at compile time.
constexpr GUID MakeGuid(const char (&text)[37]) {
    if (text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-')
        throw "bad GUID text";
    GUID g{};
    g.Data1 = guid_detail::Hex(text, 8);
    g.Data2 = static_cast<WORD>(guid_detail::Hex(text + 9, 4));
    g.Data3 = static_cast<WORD>(guid_detail::Hex(text + 14, 4));
    g.Data4[0] = static_cast<BYTE>(guid_detail::Hex(text + 19, 2));
    g.Data4[1] = static_cast<BYTE>(guid_detail::Hex(text + 21, 2));
    for (int i = 0; i < 6; ++i)
        g.Data4[2 + i] = static_cast<BYTE>(guid_detail::Hex(text + 24 + 2 * i, 2));
    return g;
}

// Interface identifiers travel with the interface type: IID_OF(IUnknown). Interfaces are
// declared in the global namespace, where DECLARE_INTERFACE_ID can specialize the trait.
template <class Interface>
struct InterfaceId;

#define DECLARE_INTERFACE_ID(Interface, text)         \
    struct Interface;                                 \
    template <>                                       \
    struct InterfaceId<Interface> {                   \
        static constexpr GUID value = MakeGuid(text); \
    }

#define IID_OF(Interface) (InterfaceId<Interface>::value)

// Text form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case, as StringFromGUID2 writes it.
// `buffer` must hold at least 39 characters; returns the characters written with the
// terminator (39), or 0 when the buffer is too small (nothing is written then).
extern "C" PLATFORM_API int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int capacity);
// Parses the braced text form, either case; a null `text` gives GUID_NULL. Anything else is
// CO_E_CLASSSTRING. Differences from Windows: a ProgID is not looked up in the registry, and a
// failure leaves *clsid unchanged where Windows may have written part of it.
extern "C" PLATFORM_API HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid);
// As CLSIDFromString, but a text that is not 38 characters long is E_INVALIDARG and one of the
// right length that does not parse is CO_E_IIDSTRING, as on Windows.
extern "C" PLATFORM_API HRESULT IIDFromString(LPCOLESTR text, IID* iid);
