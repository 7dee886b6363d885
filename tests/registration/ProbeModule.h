// The probe module: a tiny in-process server that tests load through the registry.
#pragma once

#include "platform/Unknown.h"

DECLARE_INTERFACE_ID(IRegistryProbe, "A5D1B0C2-6E47-4F0B-9B52-3C1D2E4F5A6B");
struct IRegistryProbe : IUnknown {
    // The number of probe objects alive in the module.
    virtual LONG STDMETHODCALLTYPE LiveObjects() = 0;
};

// The class the probe module serves.
constexpr CLSID CLSID_RegistryProbe = MakeGuid("0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0");
