#include <gtest/gtest.h>

#include <cstring>

#include "platform/Variant.h"

namespace {
// An IUnknown that only counts its references (it lives on the stack).
struct CountingUnknown final : IUnknown {
    ULONG references = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
};
}  // namespace

TEST(Variant, CopyDuplicatesABstrWithItsByteLength) {
    Variant source;
    source->vt = VT_BSTR;
    source->bstrVal = SysAllocStringByteLen("abcdefg", 7);
    Variant copy;
    ASSERT_EQ(copy.CopyFrom(source.Get()), S_OK);
    EXPECT_EQ(copy->vt, VT_BSTR);
    EXPECT_NE(copy->bstrVal, source->bstrVal);
    EXPECT_EQ(SysStringByteLen(copy->bstrVal), 7u);
    EXPECT_EQ(std::memcmp(copy->bstrVal, "abcdefg", 7), 0);
    // A null BSTR stays null.
    source.Clear();
    source->vt = VT_BSTR;
    source->bstrVal = nullptr;
    ASSERT_EQ(copy.CopyFrom(source.Get()), S_OK);  // also frees the earlier copy
    EXPECT_EQ(copy->vt, VT_BSTR);
    EXPECT_EQ(copy->bstrVal, nullptr);
}

TEST(Variant, InterfacesAreAddRefedByCopyAndReleasedByClear) {
    CountingUnknown object;
    for (VARTYPE type : {VT_UNKNOWN, VT_DISPATCH}) {
        VARIANT source;
        VariantInit(&source);
        source.vt = type;
        source.punkVal = &object;
        VARIANT copy;
        VariantInit(&copy);
        ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
        EXPECT_EQ(object.references, 2u);
        EXPECT_EQ(VariantClear(&copy), S_OK);
        EXPECT_EQ(copy.vt, VT_EMPTY);
        EXPECT_EQ(object.references, 1u);
    }
    // Through VT_BYREF the pointer is copied and nothing is counted or freed.
    IUnknown* borrowed = &object;
    VARIANT byReference;
    byReference.vt = VT_BYREF | VT_UNKNOWN;
    byReference.byref = &borrowed;
    VARIANT copy;
    VariantInit(&copy);
    ASSERT_EQ(VariantCopy(&copy, &byReference), S_OK);
    EXPECT_EQ(copy.byref, &borrowed);
    EXPECT_EQ(VariantClear(&copy), S_OK);
    EXPECT_EQ(VariantClear(&byReference), S_OK);
    EXPECT_EQ(object.references, 1u);
}

TEST(Variant, CopyOntoItselfChangesNothing) {
    Variant value;
    value->vt = VT_BSTR;
    value->bstrVal = SysAllocString(L"same");
    const BSTR before = value->bstrVal;
    EXPECT_EQ(VariantCopy(value.Get(), value.Get()), S_OK);
    EXPECT_EQ(value->bstrVal, before);
    EXPECT_STREQ(value->bstrVal, L"same");
}

TEST(Variant, BadTypesAreRefusedAndLeftAlone) {
    const VARTYPE bad[] = {
        15,                   // unassigned code
        VT_VARIANT,           // only meaningful by reference
        VT_DECIMAL,           // not implemented here
        0x0FFF,               // unknown
        VT_ARRAY | VT_I4,     // arrays are not implemented here
        VT_BYREF | VT_EMPTY,  // nothing to refer to
        VT_BYREF | VT_NULL,
        VT_BYREF | 0x0FFF,  // a reference to an unknown type
    };
    for (VARTYPE type : bad) {
        VARIANT value;
        value.vt = type;
        value.llVal = 0x1234;
        EXPECT_EQ(VariantClear(&value), DISP_E_BADVARTYPE) << std::hex << type;
        EXPECT_EQ(value.vt, type);
        Variant destination;
        destination->vt = VT_I4;
        destination->lVal = 7;
        EXPECT_EQ(VariantCopy(destination.Get(), &value), DISP_E_BADVARTYPE) << std::hex << type;
        EXPECT_EQ(destination->vt, VT_I4);
        EXPECT_EQ(destination->lVal, 7);
    }
    // A destination that cannot be cleared is not overwritten.
    VARIANT broken;
    broken.vt = VT_ARRAY | VT_I4;
    Variant source;
    source->vt = VT_I4;
    EXPECT_EQ(VariantCopy(&broken, source.Get()), DISP_E_BADVARTYPE);
    EXPECT_EQ(broken.vt, VT_ARRAY | VT_I4);
    EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
    EXPECT_EQ(VariantCopy(nullptr, source.Get()), E_INVALIDARG);
    EXPECT_EQ(VariantCopy(source.Get(), nullptr), E_INVALIDARG);
}

TEST(Variant, ScalarsAndReferencesToEveryScalarTypeAreAccepted) {
    const VARTYPE scalars[] = {VT_EMPTY, VT_NULL, VT_I2,    VT_I4,   VT_R4,  VT_R8,
                               VT_CY,    VT_DATE, VT_ERROR, VT_BOOL, VT_I1,  VT_UI1,
                               VT_UI2,   VT_UI4,  VT_I8,    VT_UI8,  VT_INT, VT_UINT};
    for (VARTYPE type : scalars) {
        VARIANT value;
        value.vt = type;
        value.llVal = -5;
        VARIANT copy;
        VariantInit(&copy);
        EXPECT_EQ(VariantCopy(&copy, &value), S_OK) << type;
        EXPECT_EQ(copy.vt, type);
        EXPECT_EQ(copy.llVal, -5);
        if (type > VT_NULL) {
            value.vt = VT_BYREF | type;
            EXPECT_EQ(VariantCopy(&copy, &value), S_OK) << type;
        }
        EXPECT_EQ(VariantClear(&copy), S_OK);
    }
    VARIANT reference;
    reference.vt = VT_BYREF | VT_VARIANT;
    reference.pvarVal = nullptr;
    EXPECT_EQ(VariantClear(&reference), S_OK);
}
