// Per-thread error information: the record a failing COM method leaves for its caller.
#pragma once

#include "platform/posix/Bstr.h"
#include "platform/posix/Unknown.h"

DECLARE_INTERFACE_ID(IErrorInfo, "1CF2B120-547D-101B-8E65-08002B2BD119");
struct IErrorInfo : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetGUID(GUID* guid) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSource(BSTR* source) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDescription(BSTR* description) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* helpFile) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* helpContext) = 0;
};

DECLARE_INTERFACE_ID(ICreateErrorInfo, "22F03340-547D-101B-8E65-08002B2BD119");
struct ICreateErrorInfo : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetGUID(REFGUID guid) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSource(LPOLESTR source) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDescription(LPOLESTR description) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetHelpFile(LPOLESTR helpFile) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetHelpContext(DWORD helpContext) = 0;
};

DECLARE_INTERFACE_ID(ISupportErrorInfo, "DF0B3D60-548F-101B-8E65-08002B2BD119");
struct ISupportErrorInfo : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) = 0;
};

extern "C" {
// A new, empty error record builder (it also answers IErrorInfo). A field never set, or set to
// null or empty text, reads back as a null BSTR.
PLATFORM_API HRESULT CreateErrorInfo(ICreateErrorInfo** builder);
// Installs `record` (may be null to clear) as the calling thread's error information; a record
// still installed when its thread ends is released then. `reserved` must be 0.
PLATFORM_API HRESULT SetErrorInfo(ULONG reserved, IErrorInfo* record);
// Hands the calling thread's record to the caller and clears it: S_OK with the record, or
// S_FALSE with null when there is none. `reserved` must be 0.
PLATFORM_API HRESULT GetErrorInfo(ULONG reserved, IErrorInfo** record);
}
