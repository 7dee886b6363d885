#include <gtest/gtest.h>

#include <iterator>

#include "frame/ErrorSupport.h"
#include "frame/Interfaces.h"
#include "platform/ComPtr.h"
#include "platform/ErrorInfo.h"
#include "platform/Registry.h"
#include "tests/support/TempRegistry.h"

namespace {
using FileErrors = CZEVErrorSupport<CFlashFile5, IFlashFile5>;
using VideoErrors = CZEVErrorSupport<CFlashVideoStream5, IFlashVideoStream5>;
using AudioErrors = CZEVErrorSupport<CFlashAudioStream5, IFlashAudioStream5>;

// The code table, row by row.
struct Row {
    LONG code;
    std::uint32_t hr;
    const wchar_t* message;
};
constexpr Row kTable[] = {
    {1, 0x80040301, L"Busy error."},
    {2, 0x80040302, L"Memory error."},
    {3, 0x80040303, L"File access error."},
    {4, 0x80040304, L"File format error."},
    {5, 0x80040305, L"Video format unsupported."},
    {6, 0x80040306, L"Audio format unsupported."},
    {7, 0x80040307, L"Invalid operation."},
    {8, 0x80040308, L"Invalid argument."},
    {9, 0x80040309, L"Control not installed."},
    {10, 0x8004030A, L"Index out of range."},
    {11, 0x80040401, L"QuickTime container not correct."},
    {12, 0x80040402, L"QuickTime video description not correct."},
    {13, 0x80040403, L"QuickTime audio description not correct."},
    {14, 0x80040404, L"QuickTime audio codec not installed."},
    {15, 0x80040405, L"QuickTime video codec is not installed."},
    {16, 0x80040501, L"AVI container not correct."},
    {17, 0x80040502, L"ACM audio codec is not installed."},
    {18, 0x80040503, L"ACM video codec is not installed."},
    {19, 0x80040601, L"DVD content protected data."},
    {20, 0x80040701, L"Output Driver error."},
    {21, 0x80040702, L"Input Driver error."},
    {22, 0x80040703, L"Mixer Driver error."},
    {23, 0x80040704, L"Aspi Driver error."},
    {24, 0x80040705, L"The stream is closed or unavailable."},
    {37, 0x8004030C, L"Memory allocation error."},
};
constexpr std::uint32_t kUnexpected = 0x80040300;

// The calling thread's record, taken.
ComPtr<IErrorInfo> TakeRecord() {
    ComPtr<IErrorInfo> record;
    GetErrorInfo(0, record.Put());
    return record;
}

// What a host reads from a record.
struct Seen {
    GUID guid{};
    Bstr source, description, helpFile;
    DWORD helpContext = 99;
};
Seen Read(IErrorInfo* record) {
    Seen seen;
    EXPECT_EQ(record->GetGUID(&seen.guid), S_OK);
    EXPECT_EQ(record->GetSource(seen.source.Put()), S_OK);
    EXPECT_EQ(record->GetDescription(seen.description.Put()), S_OK);
    EXPECT_EQ(record->GetHelpFile(seen.helpFile.Put()), S_OK);
    EXPECT_EQ(record->GetHelpContext(&seen.helpContext), S_OK);
    return seen;
}

class ErrorSupport : public ::testing::Test {
  protected:
    TempRegistry registry;  // nothing registered: no ProgID
    void SetUp() override { SetErrorInfo(0, nullptr); }
    void TearDown() override { SetErrorInfo(0, nullptr); }
};
}  // namespace

TEST_F(ErrorSupport, MapResultRaisesEveryRowOfTheTable) {
    for (const Row& row : kTable) {
        EXPECT_EQ(FileErrors::MapResult(row.code), MakeHResult(row.hr)) << row.code;
        ComPtr<IErrorInfo> record = TakeRecord();
        ASSERT_TRUE(record) << row.code;
        const Seen seen = Read(record.Get());
        EXPECT_EQ(seen.description.View(), row.message) << row.code;
        EXPECT_EQ(seen.guid, IID_IFlashFile5);
        EXPECT_FALSE(seen.source) << "no ProgID is registered";
        EXPECT_FALSE(seen.helpFile);
        EXPECT_EQ(seen.helpContext, 0u);
    }
}

TEST_F(ErrorSupport, CodesWithoutARowAreUnexpected) {
    for (LONG code : {25, 30, 36, 38, 1000, 0x7FFFFFFF}) {
        EXPECT_EQ(FileErrors::MapResult(code), MakeHResult(kUnexpected)) << code;
        ComPtr<IErrorInfo> record = TakeRecord();
        ASSERT_TRUE(record);
        EXPECT_EQ(Read(record.Get()).description.View(), L"Unexpected error.") << code;
    }
    EXPECT_EQ(ErrorRowForResult(MakeHResult(0x8004030B)), nullptr);  // no such row
}

TEST_F(ErrorSupport, ZeroAndNegativeResultsPassWithoutARecord) {
    // An earlier record stays where it is.
    EXPECT_EQ(VideoErrors::RaiseError(L"Invalid argument.", ZEV_E_INVALIDARG), ZEV_E_INVALIDARG);
    EXPECT_EQ(FileErrors::MapResult(0), S_OK);
    EXPECT_EQ(FileErrors::MapResult(static_cast<LONG>(0x80004005)), E_FAIL);
    EXPECT_EQ(FileErrors::MapResult(ZEV_E_STREAMCLOSED), ZEV_E_STREAMCLOSED);
    ComPtr<IErrorInfo> record = TakeRecord();
    ASSERT_TRUE(record);
    const Seen seen = Read(record.Get());
    EXPECT_EQ(seen.guid, IID_IFlashVideoStream5);
    EXPECT_EQ(seen.description.View(), L"Invalid argument.");
    EXPECT_EQ(FileErrors::MapResult(-1), -1);
    EXPECT_FALSE(TakeRecord());
}

TEST_F(ErrorSupport, EachClassRaisesWithItsOwnInterface) {
    EXPECT_EQ(FileErrors::RaiseError(ZEV_E_INVALIDOPERATION), ZEV_E_INVALIDOPERATION);
    Seen seen = Read(TakeRecord().Get());
    EXPECT_EQ(seen.guid, MakeGuid("985477CD-0C1C-4176-A095-A78A80AC18E8"));
    EXPECT_EQ(seen.description.View(), L"Invalid operation.");
    EXPECT_EQ(VideoErrors::RaiseCode(3), ZEV_E_FILEACCESS);
    seen = Read(TakeRecord().Get());
    EXPECT_EQ(seen.guid, MakeGuid("29E64B4B-F8CD-4050-A28C-85F95ACF9EB5"));
    EXPECT_EQ(seen.description.View(), L"File access error.");
    EXPECT_EQ(AudioErrors::RaiseCode(2), ZEV_E_MEMORY);
    seen = Read(TakeRecord().Get());
    EXPECT_EQ(seen.guid, MakeGuid("6F43246F-CA1D-44B5-9691-B44CA800BC8A"));
    EXPECT_EQ(seen.description.View(), L"Memory error.");
}

TEST_F(ErrorSupport, ARegisteredProgIdBecomesTheSource) {
    HKEY raw = nullptr;
    ASSERT_EQ(
        RegCreateKeyExW(HKEY_CLASSES_ROOT, L"CLSID\\{2D955AA8-8E94-4A94-A669-C493B0730C20}\\ProgID",
                        0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &raw, nullptr),
        ERROR_SUCCESS);
    UniqueRegistryKey key(raw);
    const wchar_t progId[] = L"zevflashfile5.FlashVideoStream5.1";
    ASSERT_EQ(RegSetValueExW(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(progId),
                             sizeof progId),
              ERROR_SUCCESS);
    VideoErrors::RaiseCode(24);
    EXPECT_EQ(Read(TakeRecord().Get()).source.View(), progId);
    FileErrors::RaiseCode(24);  // another class: still none
    EXPECT_FALSE(Read(TakeRecord().Get()).source);
}

TEST_F(ErrorSupport, AZeroResultIsReportedAsAnException) {
    EXPECT_EQ(FileErrors::RaiseError(L"Unexpected error.", S_OK), DISP_E_EXCEPTION);
    EXPECT_EQ(Read(TakeRecord().Get()).description.View(), L"Unexpected error.");
}
