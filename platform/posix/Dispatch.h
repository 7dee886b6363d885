// IDispatch and the types of a late-bound call, in Windows slot order. Declarations only: the
// component implements no IDispatch of its own; its event interface is a dispinterface, which
// connected sinks implement through IDispatch.
#pragma once

#include "platform/posix/Variant.h"

// Type information is not served on this platform; the interface is only named.
struct ITypeInfo;

// The arguments of IDispatch::Invoke, last argument first in `rgvarg`.
struct DISPPARAMS {
    VARIANTARG* rgvarg;
    DISPID* rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
};

// What Invoke reports when the method raised an exception (DISP_E_EXCEPTION).
struct EXCEPINFO {
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    void* pvReserved;
    HRESULT(STDMETHODCALLTYPE* pfnDeferredFillIn)(EXCEPINFO* info);
    HRESULT scode;
};

constexpr DISPID DISPID_UNKNOWN = -1;
constexpr DISPID DISPID_VALUE = 0;
constexpr DISPID DISPID_PROPERTYPUT = -3;

// The `flags` of Invoke.
constexpr WORD DISPATCH_METHOD = 0x1;
constexpr WORD DISPATCH_PROPERTYGET = 0x2;
constexpr WORD DISPATCH_PROPERTYPUT = 0x4;
constexpr WORD DISPATCH_PROPERTYPUTREF = 0x8;

constexpr HRESULT DISP_E_UNKNOWNINTERFACE = MakeHResult(0x80020001u);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = MakeHResult(0x80020003u);
constexpr HRESULT DISP_E_PARAMNOTFOUND = MakeHResult(0x80020004u);
constexpr HRESULT DISP_E_UNKNOWNNAME = MakeHResult(0x80020006u);
constexpr HRESULT DISP_E_BADPARAMCOUNT = MakeHResult(0x8002000Eu);

DECLARE_INTERFACE_ID(IDispatch, "00020400-0000-0000-C000-000000000046");
struct IDispatch : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) = 0;  // 3
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale,
                                                  ITypeInfo** info) = 0;  // 4
    virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count,
                                                    LCID locale,
                                                    DISPID* ids) = 0;  // 5
    virtual HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID riid, LCID locale, WORD flags,
                                             DISPPARAMS* parameters, VARIANT* result,
                                             EXCEPINFO* exception,
                                             UINT* argumentError) = 0;  // 6
};

constexpr IID IID_IDispatch = IID_OF(IDispatch);
