// VARIANT copy and clear: owned strings and interfaces, references, self-copy, bad types.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/Variant.h"

namespace {
// An IUnknown that only counts its references (it lives on the stack).
struct CountingUnknown final : IUnknown {
    ULONG references = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOTIMPL; }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
};
}  // namespace

TEST(Variant, CopyDuplicatesStringsAndCountsInterfacesButNotReferences) {
    Variant source, copy;
    source->vt = VT_BSTR;
    source->bstrVal = SysAllocStringByteLen("abcdefg", 7);
    ASSERT_EQ(copy.CopyFrom(source.Get()), S_OK);
    EXPECT_NE(copy->bstrVal, source->bstrVal);
    EXPECT_EQ(VariantCopy(copy.Get(), copy.Get()), S_OK);  // onto itself: nothing freed
    EXPECT_EQ(std::memcmp(copy->bstrVal, "abcdefg", 7), 0);
    CountingUnknown object;
    const VARTYPE types[] = {VT_UNKNOWN, VT_DISPATCH, VT_BYREF | VT_UNKNOWN};
    for (VARTYPE type : types) {
        IUnknown* borrowed = &object;
        source.Clear();
        source->vt = type;
        if (type & VT_BYREF) {
            source->byref = &borrowed;  // the pointer is copied; nothing is counted or freed
        } else {
            object.AddRef();  // the reference `source` owns
            source->punkVal = &object;
        }
        ASSERT_EQ(copy.CopyFrom(source.Get()), S_OK);  // also frees the earlier copy
        EXPECT_EQ(object.references, type & VT_BYREF ? 1u : 3u);
        copy.Clear();
        source.Clear();
        EXPECT_EQ(object.references, 1u);
    }
}

TEST(Variant, BadTypesAreRefusedAndLeftAlone) {
    // An unassigned code, and a reference to an unknown type.
    for (VARTYPE type : {VARTYPE{15}, VARTYPE(VT_BYREF | 0x0FFF)}) {
        VARIANT value, destination;
        value.vt = type;
        value.llVal = 0x1234;
        destination.vt = VT_I4;
        destination.lVal = 7;
        EXPECT_EQ(VariantClear(&value), DISP_E_BADVARTYPE) << std::hex << type;
        EXPECT_EQ(value.vt, type);
        EXPECT_EQ(VariantCopy(&destination, &value), DISP_E_BADVARTYPE) << std::hex << type;
        EXPECT_EQ(destination.vt, VT_I4);
        // A destination that cannot be cleared is not overwritten either.
        EXPECT_EQ(VariantCopy(&value, &destination), DISP_E_BADVARTYPE) << std::hex << type;
        EXPECT_EQ(value.vt, type);
    }
}
