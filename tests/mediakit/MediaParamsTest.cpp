#include <thread>
#include <vector>

#include "tests/mediakit/MediaKitTestSupport.h"

namespace {

using P = IMediaParams;

class MediaParamsTest : public ::testing::Test {
  protected:
    // The value of (name, sel) read with `get` on `from` (the test's container by default).
    template <class T>
    T Value(HRESULT (STDMETHODCALLTYPE P::*get)(BSTR, LONG, T*), const wchar_t* name, LONG sel = -1,
            IMediaParams* from = nullptr) {
        return ReadValue<T>(from ? from : params.Get(), get, B(name).Get(), sel);
    }
    LONG Count(const wchar_t* name) {
        return ReadValue<LONG>(params.Get(), &P::GetCount, B(name).Get());
    }

    ComPtr<IMediaParams> params = Create<IMediaParams>(CLSID_MediaParams);
    const Bstr list = B(L"List");
};

}  // namespace

TEST_F(MediaParamsTest, SelectorsAppendReplaceAndRead) {
    // 0 on a missing name creates element 0; -1 appends; n replaces n or appends at n == count.
    EXPECT_EQ(params->SetLong(list.Get(), 0, 10), S_OK);
    EXPECT_EQ(params->SetLong(list.Get(), -1, 11), S_OK);
    EXPECT_EQ(params->SetLong(list.Get(), 2, 12), S_OK);
    EXPECT_EQ(params->SetLong(list.Get(), 1, 21), S_OK);
    EXPECT_EQ(params->SetLong(list.Get(), 0, 20), S_OK);
    EXPECT_EQ(params->SetLong(list.Get(), 4, 99), E_INVALIDARG);  // beyond count
    EXPECT_EQ(params->SetLong(list.Get(), -2, 99), E_INVALIDARG);
    EXPECT_EQ(params->SetLong(B(L"Fresh").Get(), 1, 99), E_INVALIDARG);
    EXPECT_EQ(Count(L"List"), 3);
    EXPECT_EQ(Count(L"Fresh"), 0);
    const LONG expected[] = {20, 21, 12};
    for (LONG sel = 0; sel < 3; ++sel) EXPECT_EQ(Value(&P::GetLong, L"List", sel), expected[sel]);
    EXPECT_EQ(Value(&P::GetLong, L"List", -1), 20);  // -1 reads element 0 of several

    // A value stored with 0 reads back with -1 and is replaced, never appended, when set again.
    EXPECT_EQ(params->SetLong(B(L"Single").Get(), 0, 1), S_OK);
    EXPECT_EQ(params->SetLong(B(L"Single").Get(), 0, 2), S_OK);
    EXPECT_EQ(Count(L"Single"), 1);
    EXPECT_EQ(Value(&P::GetLong, L"Single", -1), 2);

    Bstr name;  // names keep their first-set order
    ASSERT_EQ(params->GetNameAt(1, name.Put()), S_OK);
    EXPECT_EQ(name.View(), L"Single");
    EXPECT_EQ(params->GetNameAt(2, name.Put()), E_INVALIDARG);
}

TEST_F(MediaParamsTest, FailedReadsLeaveTheOutValueAndDefaultsAnswerS_OK) {
    ASSERT_EQ(params->SetLong(list.Get(), -1, 5), S_OK);
    ASSERT_EQ(params->SetDouble(B(L"Real").Get(), -1, 1.5), S_OK);
    LONG value = 42;
    EXPECT_EQ(params->GetLong(B(L"Missing").Get(), -1, &value), kParamNotFound);
    EXPECT_EQ(params->GetLong(list.Get(), 1, &value), kParamNotFound);
    EXPECT_EQ(params->GetLong(list.Get(), -3, &value), E_INVALIDARG);
    EXPECT_EQ(params->GetLong(nullptr, -1, &value), E_INVALIDARG);
    EXPECT_EQ(params->GetLong(B(L"Real").Get(), -1, &value), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(value, 42);
    BSTR text = reinterpret_cast<BSTR>(0x1234);
    EXPECT_EQ(params->GetString(list.Get(), -1, &text), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(params->GetString(B(L"Missing").Get(), -1, &text), kParamNotFound);
    EXPECT_EQ(text, reinterpret_cast<BSTR>(0x1234));
    ComPtr<IMediaParams> nested;
    EXPECT_EQ(params->GetParams(list.Get(), -1, 1, nested.Put()), DISP_E_TYPEMISMATCH);
    EXPECT_FALSE(nested);

    EXPECT_EQ(params->GetLongDef(B(L"Missing").Get(), -1, -1, &value), S_OK);
    EXPECT_EQ(value, -1);
    EXPECT_EQ(params->GetLongDef(B(L"Real").Get(), -1, 3, &value), S_OK);  // wrong type
    EXPECT_EQ(value, 3);
    VARIANT_BOOL flag = VARIANT_TRUE;
    EXPECT_EQ(params->GetBoolDef(B(L"Missing").Get(), -1, VARIANT_FALSE, &flag), S_OK);
    EXPECT_EQ(flag, VARIANT_FALSE);
    Bstr fallback;
    EXPECT_EQ(params->GetStringDef(B(L"Missing").Get(), -1, B(L"none").Get(), fallback.Put()),
              S_OK);
    EXPECT_EQ(fallback.View(), L"none");
}

TEST_F(MediaParamsTest, NumbersConvertBetweenBoolLongAndUInt64) {
    // "Operation" set by a host with SetLong and read with GetUInt64: the low 32 bits match.
    ASSERT_EQ(params->SetLong(B(L"Operation").Get(), 0, 1001), S_OK);
    ASSERT_EQ(params->SetLong(B(L"Negative").Get(), 0, -2), S_OK);
    ASSERT_EQ(params->SetUInt64(B(L"Big").Get(), 0, 0x100000000ull), S_OK);
    ASSERT_EQ(params->SetBool(B(L"Flag").Get(), 0, 1), S_OK);  // 1 is stored as VARIANT_TRUE
    EXPECT_EQ(Value(&P::GetUInt64, L"Operation"), 1001u);
    EXPECT_EQ(static_cast<std::uint32_t>(Value(&P::GetUInt64, L"Negative")), 0xFFFFFFFEu);
    EXPECT_EQ(Value(&P::GetLong, L"Flag"), 1);
    EXPECT_EQ(Value(&P::GetBool, L"Flag"), VARIANT_TRUE);
    EXPECT_EQ(Value(&P::GetBool, L"Operation"), VARIANT_TRUE);
    EXPECT_EQ(Value(&P::GetDouble, L"Negative"), -2.0);
    EXPECT_EQ(Value(&P::GetDouble, L"Big"), 4294967296.0);
    LONG value = 7;
    EXPECT_EQ(params->GetLong(B(L"Big").Get(), -1, &value), DISP_E_OVERFLOW);
    EXPECT_EQ(value, 7);
}

TEST_F(MediaParamsTest, ObjectFlagsShareOrCopy) {
    auto inner = Create<IMediaParams>(CLSID_MediaParams);
    ASSERT_EQ(inner->SetLong(list.Get(), 0, 1), S_OK);
    ASSERT_EQ(params->SetParams(B(L"Shared").Get(), 0, 1, inner.Get()), S_OK);
    ASSERT_EQ(params->SetParams(B(L"Copied").Get(), 0, 0, inner.Get()), S_OK);
    ASSERT_EQ(inner->SetLong(list.Get(), 0, 2), S_OK);  // reaches only the shared one

    ComPtr<IMediaParams> shared, copied, fresh;
    ASSERT_EQ(params->GetParams(B(L"Shared").Get(), 0, 1, shared.Put()), S_OK);
    ASSERT_EQ(params->GetParams(B(L"Copied").Get(), 0, 1, copied.Put()), S_OK);
    ASSERT_EQ(params->GetParams(B(L"Shared").Get(), 0, 0, fresh.Put()), S_OK);
    EXPECT_EQ(shared.Get(), inner.Get());
    EXPECT_NE(fresh.Get(), inner.Get());
    EXPECT_EQ(Value(&P::GetLong, L"List", 0, copied.Get()), 1);
    EXPECT_EQ(Value(&P::GetLong, L"List", 0, fresh.Get()), 2);

    // An object element answers every getter its QueryInterface answers.
    ComPtr<IUnknown> identity;
    ASSERT_EQ(params->GetUnknown(B(L"Shared").Get(), 0, 1, identity.Put()), S_OK);
    EXPECT_EQ(identity.Get(), inner.As<IUnknown>().Get());
    EXPECT_EQ(params->SetParams(list.Get(), 0, 1, nullptr), E_POINTER);
}

TEST_F(MediaParamsTest, DuplicateIsDeepAndMergeReplacesNames) {
    auto inner = Create<IMediaParams>(CLSID_MediaParams);
    ASSERT_EQ(inner->SetLong(list.Get(), 0, 1), S_OK);
    ASSERT_EQ(params->SetParams(B(L"Inner").Get(), 0, 1, inner.Get()), S_OK);
    ASSERT_EQ(params->SetLong(list.Get(), -1, 1), S_OK);
    ASSERT_EQ(params->SetLong(list.Get(), -1, 2), S_OK);

    ComPtr<IMediaParams> copy, copiedInner;
    ASSERT_EQ(params->Duplicate(2, copy.Put()), S_OK);
    ASSERT_EQ(inner->SetLong(list.Get(), 0, 5), S_OK);
    ASSERT_EQ(params->SetLong(list.Get(), 0, 5), S_OK);
    ASSERT_EQ(copy->GetParams(B(L"Inner").Get(), 0, 1, copiedInner.Put()), S_OK);
    EXPECT_NE(copiedInner.Get(), inner.Get());
    EXPECT_EQ(Value(&P::GetLong, L"List", 0, copiedInner.Get()), 1);
    EXPECT_EQ(Value(&P::GetLong, L"List", 0, copy.Get()), 1);

    // Merge: the source's "List" (one element) replaces ours (two); other names stay.
    auto source = Create<IMediaParams>(CLSID_MediaParams);
    ASSERT_EQ(source->SetLong(list.Get(), 0, 9), S_OK);
    ASSERT_EQ(source->SetString(B(L"Added").Get(), 0, B(L"x").Get()), S_OK);
    ASSERT_EQ(params->Merge(0x101, source.Get()), S_OK);
    EXPECT_EQ(Count(L"List"), 1);
    EXPECT_EQ(Value(&P::GetLong, L"List"), 9);
    EXPECT_EQ(Count(L"Inner"), 1);
    EXPECT_EQ(Count(L"Added"), 1);
    EXPECT_EQ(params->Merge(0x101, params.Get()), S_OK);  // with itself: no change, no deadlock
    EXPECT_EQ(Count(L"List"), 1);
}

TEST_F(MediaParamsTest, ContainerHoldingItselfFailsCopiesInsteadOfRecursing) {
    ASSERT_EQ(params->SetParams(B(L"Self").Get(), 0, 1, params.Get()), S_OK);
    ComPtr<IMediaParams> copy;
    EXPECT_EQ(params->Duplicate(2, copy.Put()), E_FAIL);
    EXPECT_FALSE(copy);
    ComPtr<IStream> stream;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream.Put()), S_OK);
    EXPECT_EQ(params->SaveToStream(stream.Get()), E_FAIL);
    EXPECT_EQ(params->Clear(), S_OK);  // breaks the cycle so that the container is freed
}

TEST_F(MediaParamsTest, ThreadsSettingAndReadingTogether) {
    std::vector<std::thread> threads;
    for (LONG t = 0; t < 4; ++t) {
        threads.emplace_back([this, t] {
            const Bstr name = B(t % 2 ? L"Odd" : L"Even");
            for (LONG i = 0; i < 500; ++i) {
                EXPECT_EQ(params->SetLong(name.Get(), -1, i), S_OK);
                LONG value = 0;
                EXPECT_EQ(params->GetLong(name.Get(), 0, &value), S_OK);
                ComPtr<IMediaParams> copy;
                if (i % 100 == 0) {
                    EXPECT_EQ(params->Duplicate(2, copy.Put()), S_OK);
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(Count(L"Odd"), 1000);
    EXPECT_EQ(Count(L"Even"), 1000);
}
