// GUID and its text form (the stand-in for guiddef.h and the GUID calls of ole32).
#pragma once

#include <cstring>

#include "platform/posix/Types.h"

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
