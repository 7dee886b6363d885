// Per-thread error information: the record is handed over once and never seen by another
// thread. (What a record holds is checked through the component's own records,
// in tests/frame.)
#include <gtest/gtest.h>

#include <thread>

#include "platform/Bstr.h"
#include "platform/ComPtr.h"
#include "platform/ErrorInfo.h"

namespace {
ComPtr<IErrorInfo> MakeRecord(const wchar_t* description) {
    ComPtr<ICreateErrorInfo> builder;
    EXPECT_EQ(CreateErrorInfo(builder.Put()), S_OK);
    EXPECT_EQ(builder->SetDescription(const_cast<LPOLESTR>(description)), S_OK);
    return builder.As<IErrorInfo>();
}

// The calling thread's record as its description, taken (and so cleared); "" when there is none.
std::wstring TakeDescription() {
    ComPtr<IErrorInfo> record;
    Bstr text;
    if (GetErrorInfo(0, record.Put()) == S_OK) record->GetDescription(text.Put());
    return std::wstring(text.View());
}
}  // namespace

TEST(ErrorInfo, RecordsBelongToTheThreadThatSetThem) {
    ASSERT_EQ(SetErrorInfo(0, MakeRecord(L"main thread").Get()), S_OK);
    std::wstring otherSaw = L"(not run)";
    std::thread([&] {
        otherSaw = TakeDescription();
        // Never taken: released when the thread ends (the leak checker sees it otherwise).
        SetErrorInfo(0, MakeRecord(L"worker").Get());
    }).join();
    EXPECT_EQ(otherSaw, L"");
    EXPECT_EQ(TakeDescription(), L"main thread");
    EXPECT_EQ(TakeDescription(), L"");  // handed over once
}
