// The Windows SDK headers (mingw-w64) that the code base uses, and the identifiers of their
// interfaces as IID_OF knows them. Code outside the platform layer includes platform/System.h.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif

#include <windows.h>
// clang-format off: the order of the SDK headers matters
#include <objbase.h>
#include <oleauto.h>
#include <ocidl.h>
#include <olectl.h>
#include <mmsystem.h>
#include <mmreg.h>
#include <shlobj.h>
#include <shlwapi.h>
// clang-format on

#include "platform/InterfaceId.h"

// An HRESULT from its unsigned 32-bit form, as the stand-in's Types.h has it.
constexpr HRESULT MakeHResult(std::uint32_t value) {
    return static_cast<HRESULT>(value);
}

DECLARE_INTERFACE_ID(IUnknown, "00000000-0000-0000-C000-000000000046");
DECLARE_INTERFACE_ID(IClassFactory, "00000001-0000-0000-C000-000000000046");
DECLARE_INTERFACE_ID(IMarshal, "00000003-0000-0000-C000-000000000046");
DECLARE_INTERFACE_ID(ISequentialStream, "0C733A30-2A1C-11CE-ADE5-00AA0044773D");
DECLARE_INTERFACE_ID(IStream, "0000000C-0000-0000-C000-000000000046");
DECLARE_INTERFACE_ID(IDispatch, "00020400-0000-0000-C000-000000000046");
DECLARE_INTERFACE_ID(IErrorInfo, "1CF2B120-547D-101B-8E65-08002B2BD119");
DECLARE_INTERFACE_ID(ICreateErrorInfo, "22F03340-547D-101B-8E65-08002B2BD119");
DECLARE_INTERFACE_ID(ISupportErrorInfo, "DF0B3D60-548F-101B-8E65-08002B2BD119");
DECLARE_INTERFACE_ID(IConnectionPointContainer, "B196B284-BAB4-101A-B69C-00AA00341D07");
DECLARE_INTERFACE_ID(IConnectionPoint, "B196B286-BAB4-101A-B69C-00AA00341D07");
DECLARE_INTERFACE_ID(IEnumConnections, "B196B287-BAB4-101A-B69C-00AA00341D07");
DECLARE_INTERFACE_ID(IEnumConnectionPoints, "B196B285-BAB4-101A-B69C-00AA00341D07");
DECLARE_INTERFACE_ID(ITypeLib, "00020402-0000-0000-C000-000000000046");
