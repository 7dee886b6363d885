// Automation variants with the Windows layout (24 bytes on 64-bit) and VT codes.
#pragma once

#include "platform/posix/Bstr.h"
#include "platform/posix/Unknown.h"

struct IDispatch;

enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_CY = 6,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_DECIMAL = 14,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
};

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONGLONG llVal;
        ULONGLONG ullVal;
        LONG lVal;
        ULONG ulVal;
        BYTE bVal;
        SHORT iVal;
        USHORT uiVal;
        signed char cVal;
        INT intVal;
        UINT uintVal;
        float fltVal;
        double dblVal;
        double date;
        VARIANT_BOOL boolVal;
        HRESULT scode;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        VARIANT_BOOL* pboolVal;
        SHORT* piVal;
        LONG* plVal;
        BSTR* pbstrVal;
        VARIANT* pvarVal;
        void* byref;
        struct {
            void* pvRecord;
            void* pRecInfo;
        } record;
    };
};
static_assert(sizeof(VARIANT) == 24);
using VARIANTARG = VARIANT;

extern "C" {
// vt := VT_EMPTY; nothing is freed.
PLATFORM_API void VariantInit(VARIANT* value);
// Frees what the variant owns (BSTR, interface reference) and sets VT_EMPTY. Types that are not
// valid give DISP_E_BADVARTYPE and are left alone; so do, unlike on Windows, those this platform
// does not implement by value (arrays, records, DECIMAL, a VARIANT by value). VT_BYREF values
// own nothing; a reference to VT_EMPTY or VT_NULL is not valid, as on Windows.
PLATFORM_API HRESULT VariantClear(VARIANT* value);
// Clears `destination`, then copies `source` into it: a BSTR is duplicated (with its byte
// length; a null BSTR stays null), an interface gets a new reference, VT_BYREF values copy the
// pointer. E_OUTOFMEMORY when a copy cannot be made (destination then VT_EMPTY);
// DISP_E_BADVARTYPE, with `destination` untouched, when `source` has a type VariantClear refuses
// or `destination` cannot be cleared. Copying a variant onto itself changes nothing.
PLATFORM_API HRESULT VariantCopy(VARIANT* destination, const VARIANT* source);
}
