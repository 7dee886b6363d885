#include <cmath>
#include <thread>
#include <vector>

#include "tests/mediakit/MediaKitTestSupport.h"
#include "tests/support/TempDir.h"

namespace {

using P = IMediaParams;
constexpr LONG kLast = -1;
constexpr LONG kShare = 1;

class MediaParamsTest : public ::testing::Test {
  protected:
    LONG Long(const wchar_t* name, LONG sel = kLast) {
        return ReadValue<LONG>(params.Get(), &P::GetLong, B(name).Get(), sel);
    }
    LONG Count(const wchar_t* name) {
        return ReadValue<LONG>(params.Get(), &P::GetCount, B(name).Get());
    }

    ComPtr<IMediaParams> params = Create<IMediaParams>(CLSID_MediaParams);
    const Bstr list = B(L"List");
};

}  // namespace

// Every listed slot through the raw vtable at its index, checked by its effect; the values
// then make a round trip through the file (slots 7 and 8) with a nested container and streams.
TEST_F(MediaParamsTest, EverySlotAndASaveLoadRoundTrip) {
    IMediaParams* p = params.Get();
    auto inner = Create<IMediaParams>(CLSID_MediaParams);
    ASSERT_EQ(inner->SetString(B(L"Hash").Get(), 0, B(L"Über-clip ✓").Get()), S_OK);
    auto index = StreamOf(std::string("in\0ner", 6));
    ASSERT_EQ(inner->SetStream(B(L"Index").Get(), 0, kShare, index.Get()), S_OK);
    auto object = Create<IUnknown>(CLSID_VideoFormat);
    auto stream = StreamOf("outer");
    // Set slots, read back through the get slots (and the object ones, which share a signature,
    // through the named getters after the load).
    ASSERT_EQ(CallSlot(p, 50, B(L"L").Get(), kLast, LONG{7}), S_OK);               // SetLong
    ASSERT_EQ(CallSlot(p, 62, B(L"D").Get(), kLast, -0.0), S_OK);                  // SetDouble
    ASSERT_EQ(CallSlot(p, 35, B(L"F").Get(), kLast, VARIANT_TRUE), S_OK);          // SetBool
    ASSERT_EQ(CallSlot(p, 74, B(L"P").Get(), kLast, kShare, inner.Get()), S_OK);   // SetParams
    ASSERT_EQ(CallSlot(p, 77, B(L"S").Get(), kLast, kShare, stream.Get()), S_OK);  // SetStream
    ASSERT_EQ(CallSlot(p, 83, B(L"U").Get(), kLast, kShare, object.Get()), S_OK);  // SetUnknown
    ASSERT_EQ(p->SetString(B(L"T").Get(), kLast, B(L"clip.flv").Get()), S_OK);
    EXPECT_EQ(ReadValue<LONG>(p, 49, B(L"L").Get(), kLast), 7);                       // GetLong
    EXPECT_EQ(ReadValue<LONG>(p, 48, B(L"None").Get(), kLast, LONG{-5}), -5);         // GetLongDef
    EXPECT_EQ(ReadValue<ULONGLONG>(p, 58, B(L"L").Get(), kLast), 7u);                 // GetUInt64
    EXPECT_TRUE(std::signbit(ReadValue<double>(p, 61, B(L"D").Get(), kLast)));        // GetDouble
    EXPECT_EQ(ReadValue<VARIANT_BOOL>(p, 34, B(L"F").Get(), kLast), VARIANT_TRUE);    // GetBool
    EXPECT_EQ(ReadValue<VARIANT_BOOL>(p, 33, B(L"None").Get(), kLast, VARIANT_TRUE),  // GetBoolDef
              VARIANT_TRUE);
    EXPECT_EQ(ReadValue<Bstr>(p, 64, B(L"T").Get(), kLast).View(), L"clip.flv");  // GetString
    EXPECT_EQ(ReadValue<ComPtr<IMediaParams>>(p, 73, B(L"P").Get(), kLast, kShare).Get(),
              inner.Get());  // GetParams
    EXPECT_EQ(ReadValue<ComPtr<IStream>>(p, 76, B(L"S").Get(), kLast, kShare).Get(),
              stream.Get());  // GetStream
    EXPECT_EQ(ReadValue<ComPtr<IUnknown>>(p, 81, B(L"U").Get(), kLast, kShare).Get(),
              object.Get());  // GetUnknown
    ASSERT_EQ(p->SetLong(B(L"L").Get(), kLast, 8), S_OK);
    EXPECT_EQ(ReadValue<LONG>(p, 19, B(L"L").Get()), 2);          // GetCount
    auto copy = ReadValue<ComPtr<IMediaParams>>(p, 14, LONG{2});  // Duplicate
    EXPECT_EQ(ReadValue<LONG>(copy.Get(), &P::GetLong, B(L"L").Get(), 1), 8);
    auto other = Create<IMediaParams>(CLSID_MediaParams);
    ASSERT_EQ(other->SetLong(B(L"M").Get(), kLast, 3), S_OK);
    EXPECT_EQ(CallSlot(p, 15, LONG{0x101}, other.Get()), S_OK);  // Merge
    EXPECT_EQ(Long(L"M"), 3);

    TempDir dir;
    const Bstr path(dir.Wide("params.bin"));
    EXPECT_EQ(CallSlot(p, 7, path.Get()), S_OK);  // SaveToFile
    auto loaded = Create<IMediaParams>(CLSID_MediaParams);
    ASSERT_EQ(loaded->SetLong(B(L"Stale").Get(), 0, 1), S_OK);  // replaced by the load
    EXPECT_EQ(CallSlot(loaded.Get(), 8, path.Get()), S_OK);     // LoadFromFile
    IMediaParams* l = loaded.Get();
    EXPECT_EQ(ReadValue<LONG>(l, &P::GetNameCount), 7);  // all but the object "U"
    EXPECT_EQ(ReadValue<LONG>(l, &P::GetLong, B(L"L").Get(), 1), 8);
    EXPECT_EQ(ReadValue<Bstr>(l, &P::GetString, B(L"T").Get(), 0).View(), L"clip.flv");
    auto nested = ReadValue<ComPtr<IMediaParams>>(l, &P::GetParams, B(L"P").Get(), 0, kShare);
    EXPECT_EQ(ReadValue<Bstr>(nested.Get(), &P::GetString, B(L"Hash").Get(), 0).View(),
              L"Über-clip ✓");
    index = ReadValue<ComPtr<IStream>>(nested.Get(), &P::GetStream, B(L"Index").Get(), 0, 1);
    char bytes[16] = {};
    ULONG got = 0;
    ASSERT_EQ(index->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(index->Read(bytes, 16, &got), S_OK);
    EXPECT_EQ(std::string(bytes, got), std::string("in\0ner", 6));
    EXPECT_EQ(CallSlot(p, 20), S_OK);  // Clear
    EXPECT_EQ(ReadValue<LONG>(p, &P::GetNameCount), 0);
}

TEST_F(MediaParamsTest, SelectorsAppendReplaceAndRead) {
    // 0 on a missing name creates element 0; -1 appends; n replaces n or appends at n == count.
    EXPECT_EQ(params->SetLong(list.Get(), 0, 10), S_OK);
    EXPECT_EQ(params->SetLong(list.Get(), -1, 11), S_OK);
    EXPECT_EQ(params->SetLong(list.Get(), 2, 12), S_OK);
    EXPECT_EQ(params->SetLong(list.Get(), 1, 21), S_OK);
    EXPECT_EQ(params->SetLong(list.Get(), 0, 20), S_OK);
    EXPECT_EQ(params->SetLong(list.Get(), 4, 99), E_INVALIDARG);  // beyond count
    EXPECT_EQ(params->SetLong(B(L"Fresh").Get(), 1, 99), E_INVALIDARG);
    EXPECT_EQ((std::vector<LONG>{Count(L"List"), Long(L"List", 0), Long(L"List", 1),
                                 Long(L"List", 2), Long(L"List", -1)}),
              (std::vector<LONG>{3, 20, 21, 12, 20}));  // -1 reads element 0 of several

    // Failed reads leave the out value as preset; the *Def getters answer their default.
    ASSERT_EQ(params->SetDouble(B(L"Real").Get(), -1, 1.5), S_OK);
    LONG value = 42;
    EXPECT_EQ(params->GetLong(B(L"Missing").Get(), -1, &value), kParamNotFound);
    EXPECT_EQ(params->GetLong(list.Get(), 3, &value), kParamNotFound);
    EXPECT_EQ(params->GetLong(B(L"Real").Get(), -1, &value), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(value, 42);
    EXPECT_EQ(params->GetLongDef(B(L"Real").Get(), -1, 3, &value), S_OK);
    EXPECT_EQ(value, 3);
}

TEST_F(MediaParamsTest, ContainerHoldingItselfFailsCopiesInsteadOfRecursing) {
    ASSERT_EQ(params->SetParams(B(L"Self").Get(), 0, kShare, params.Get()), S_OK);
    ComPtr<IMediaParams> copy;
    EXPECT_EQ(params->Duplicate(2, copy.Put()), E_FAIL);
    EXPECT_FALSE(copy);
    EXPECT_EQ(params->SaveToStream(StreamOf("").Get()), E_FAIL);
    EXPECT_EQ(params->Merge(0x101, params.Get()), S_OK);  // with itself: no deadlock
    EXPECT_EQ(params->Clear(), S_OK);  // breaks the cycle so that the container is freed
}

// Writers appending to two names while containers are copied from it.
TEST_F(MediaParamsTest, ThreadsSettingAndCopyingTogether) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([this, t] {
            const Bstr name = B(t % 2 ? L"Odd" : L"Even");
            for (LONG i = 0; i < 500; ++i) {
                EXPECT_EQ(params->SetLong(name.Get(), -1, i), S_OK);
                ComPtr<IMediaParams> copy;
                EXPECT_EQ(i % 50 ? S_OK : params->Duplicate(2, copy.Put()), S_OK);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(Count(L"Odd") + Count(L"Even"), 2000);
}
