#include <gtest/gtest.h>

#include <thread>

#include "platform/ComPtr.h"
#include "platform/ErrorInfo.h"

namespace {
constexpr GUID kSomeInterface = MakeGuid("985477CD-0C1C-4176-A095-A78A80AC18E8");

ComPtr<IErrorInfo> MakeRecord(const wchar_t* description) {
    ComPtr<ICreateErrorInfo> builder;
    EXPECT_EQ(CreateErrorInfo(builder.Put()), S_OK);
    EXPECT_EQ(builder->SetDescription(const_cast<LPOLESTR>(description)), S_OK);
    return builder.As<IErrorInfo>();
}

// The calling thread's record, taken (and so cleared).
ComPtr<IErrorInfo> TakeRecord() {
    ComPtr<IErrorInfo> record;
    const HRESULT hr = GetErrorInfo(0, record.Put());
    EXPECT_EQ(hr, record ? S_OK : S_FALSE);
    return record;
}

Bstr Description(IErrorInfo* record) {
    Bstr text;
    EXPECT_EQ(record->GetDescription(text.Put()), S_OK);
    return text;
}
}  // namespace

TEST(ErrorInfo, RecordKeepsWhatTheBuilderSetAndEmptyFieldsReadAsNull) {
    ComPtr<ICreateErrorInfo> builder;
    ASSERT_EQ(CreateErrorInfo(builder.Put()), S_OK);
    EXPECT_EQ(builder->SetGUID(kSomeInterface), S_OK);
    EXPECT_EQ(builder->SetSource(const_cast<LPOLESTR>(L"Some.Class")), S_OK);
    EXPECT_EQ(builder->SetDescription(const_cast<LPOLESTR>(L"File access error.")), S_OK);
    EXPECT_EQ(builder->SetHelpFile(nullptr), S_OK);
    ComPtr<IErrorInfo> record = builder.As<IErrorInfo>();
    ASSERT_TRUE(record);
    GUID guid{};
    EXPECT_EQ(record->GetGUID(&guid), S_OK);
    EXPECT_EQ(guid, kSomeInterface);
    Bstr source, helpFile;
    EXPECT_EQ(record->GetSource(source.Put()), S_OK);
    EXPECT_EQ(source.View(), L"Some.Class");
    EXPECT_EQ(Description(record.Get()).View(), L"File access error.");
    EXPECT_EQ(record->GetHelpFile(helpFile.Put()), S_OK);
    EXPECT_FALSE(helpFile);
    DWORD context = 99;
    EXPECT_EQ(record->GetHelpContext(&context), S_OK);
    EXPECT_EQ(context, 0u);
    // Null out pointers.
    EXPECT_EQ(record->GetGUID(nullptr), E_INVALIDARG);
    EXPECT_EQ(record->GetSource(nullptr), E_INVALIDARG);
    EXPECT_EQ(record->GetDescription(nullptr), E_INVALIDARG);
    EXPECT_EQ(record->GetHelpFile(nullptr), E_INVALIDARG);
    EXPECT_EQ(record->GetHelpContext(nullptr), E_INVALIDARG);
    EXPECT_EQ(CreateErrorInfo(nullptr), E_INVALIDARG);
}

TEST(ErrorInfo, GetErrorInfoHandsTheRecordOverOnce) {
    ComPtr<IErrorInfo> record = MakeRecord(L"first");
    ASSERT_EQ(SetErrorInfo(0, record.Get()), S_OK);
    ComPtr<IErrorInfo> taken = TakeRecord();
    EXPECT_EQ(taken.Get(), record.Get());
    IErrorInfo* none = reinterpret_cast<IErrorInfo*>(1);
    EXPECT_EQ(GetErrorInfo(0, &none), S_FALSE);
    EXPECT_EQ(none, nullptr);
    // A later record replaces an earlier one; a null record clears.
    ASSERT_EQ(SetErrorInfo(0, MakeRecord(L"old").Get()), S_OK);
    ASSERT_EQ(SetErrorInfo(0, MakeRecord(L"new").Get()), S_OK);
    EXPECT_EQ(Description(TakeRecord().Get()).View(), L"new");
    ASSERT_EQ(SetErrorInfo(0, record.Get()), S_OK);
    ASSERT_EQ(SetErrorInfo(0, nullptr), S_OK);
    EXPECT_FALSE(TakeRecord());
    // Reserved arguments must be 0; a null out pointer is refused.
    EXPECT_EQ(SetErrorInfo(1, record.Get()), E_INVALIDARG);
    EXPECT_EQ(GetErrorInfo(1, &none), E_INVALIDARG);
    EXPECT_EQ(GetErrorInfo(0, nullptr), E_INVALIDARG);
    EXPECT_FALSE(TakeRecord());
}

TEST(ErrorInfo, RecordsBelongToTheThreadThatSetThem) {
    ComPtr<IErrorInfo> mine = MakeRecord(L"main thread");
    ASSERT_EQ(SetErrorInfo(0, mine.Get()), S_OK);
    bool otherSawNothing = false;
    ComPtr<IErrorInfo> leftBehind = MakeRecord(L"worker");
    std::thread worker([&] {
        IErrorInfo* seen = nullptr;
        otherSawNothing = GetErrorInfo(0, &seen) == S_FALSE && seen == nullptr;
        // Installed and never taken: released when the thread ends.
        SetErrorInfo(0, leftBehind.Get());
    });
    worker.join();
    EXPECT_TRUE(otherSawNothing);
    EXPECT_EQ(leftBehind->AddRef(), 2u);  // only ours and this one remain
    leftBehind->Release();
    EXPECT_EQ(TakeRecord().Get(), mine.Get());
}
