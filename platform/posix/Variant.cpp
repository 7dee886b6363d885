#include "platform/Variant.h"

#include <cstring>

namespace {
// Types held by value: scalars, BSTR and interface references.
bool IsValueType(VARTYPE type) {
    switch (type) {
        case VT_EMPTY:
        case VT_NULL:
        case VT_I2:
        case VT_I4:
        case VT_R4:
        case VT_R8:
        case VT_CY:
        case VT_DATE:
        case VT_BSTR:
        case VT_DISPATCH:
        case VT_ERROR:
        case VT_BOOL:
        case VT_UNKNOWN:
        case VT_I1:
        case VT_UI1:
        case VT_UI2:
        case VT_UI4:
        case VT_I8:
        case VT_UI8:
        case VT_INT:
        case VT_UINT:
            return true;
        default:
            return false;
    }
}

bool IsImplemented(VARTYPE type) {
    if (type & VT_BYREF) {
        // A pointer to someone else's storage, which must be of a type that holds something.
        const VARTYPE target = type & ~(VT_BYREF | VT_ARRAY);
        if (target == VT_VARIANT || target == VT_DECIMAL) return true;
        return target != VT_EMPTY && target != VT_NULL && IsValueType(target);
    }
    return IsValueType(type);
}
}  // namespace

void VariantInit(VARIANT* value) {
    if (value != nullptr) value->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* value) {
    if (value == nullptr) return E_INVALIDARG;
    if (!IsImplemented(value->vt)) return DISP_E_BADVARTYPE;
    switch (value->vt) {
        case VT_BSTR:
            SysFreeString(value->bstrVal);
            break;
        case VT_UNKNOWN:
        case VT_DISPATCH:
            if (value->punkVal != nullptr) value->punkVal->Release();
            break;
        default:
            break;
    }
    value->vt = VT_EMPTY;
    return S_OK;
}

HRESULT VariantCopy(VARIANT* destination, const VARIANT* source) {
    if (destination == nullptr || source == nullptr) return E_INVALIDARG;
    if (!IsImplemented(source->vt)) return DISP_E_BADVARTYPE;
    if (destination == source) return S_OK;
    const HRESULT cleared = VariantClear(destination);
    if (FAILED(cleared)) return cleared;
    std::memcpy(destination, source, sizeof(VARIANT));
    switch (source->vt) {
        case VT_BSTR:
            if (source->bstrVal != nullptr) {
                destination->bstrVal =
                    SysAllocStringByteLen(reinterpret_cast<const char*>(source->bstrVal),
                                          SysStringByteLen(source->bstrVal));
                if (destination->bstrVal == nullptr) {
                    destination->vt = VT_EMPTY;
                    return E_OUTOFMEMORY;
                }
            }
            break;
        case VT_UNKNOWN:
        case VT_DISPATCH:
            if (source->punkVal != nullptr) source->punkVal->AddRef();
            break;
        default:
            break;
    }
    return S_OK;
}
