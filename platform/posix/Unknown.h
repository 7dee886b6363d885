// IUnknown and IClassFactory: pure-virtual structs in Windows slot order, no destructor, no data.
#pragma once

#include "platform/InterfaceId.h"
#include "platform/posix/Guid.h"

DECLARE_INTERFACE_ID(IUnknown, "00000000-0000-0000-C000-000000000046");
struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) = 0;  // slot 0
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;                                   // slot 1
    virtual ULONG STDMETHODCALLTYPE Release() = 0;                                  // slot 2
};

DECLARE_INTERFACE_ID(IClassFactory, "00000001-0000-0000-C000-000000000046");
struct IClassFactory : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) = 0;
    virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) = 0;
};

constexpr IID IID_IUnknown = IID_OF(IUnknown);
constexpr IID IID_IClassFactory = IID_OF(IClassFactory);
