// Identifiers at compile time: MakeGuid parses the text form of a GUID, and DECLARE_INTERFACE_ID
// attaches an identifier to an interface type so that IID_OF(IThing) names it. Shared by both
// targets; the system's interfaces get theirs in platform/posix/ or platform/windows/Win32.h.
#pragma once

#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#else
#include "platform/posix/Guid.h"
#endif

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
