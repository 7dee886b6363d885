// The code table through MapResult, and the identity of the records each class raises.
#include <gtest/gtest.h>

#include "frame/ErrorSupport.h"
#include "frame/Interfaces.h"
#include "platform/ComPtr.h"
#include "platform/ErrorInfo.h"
#include "tests/support/TempRegistry.h"

namespace {
using FileErrors = CZEVErrorSupport<CFlashFile5, IFlashFile5>;
using VideoErrors = CZEVErrorSupport<CFlashVideoStream5, IFlashVideoStream5>;
using AudioErrors = CZEVErrorSupport<CFlashAudioStream5, IFlashAudioStream5>;

// What a host reads from the calling thread's record, which is taken.
struct Seen {
    GUID guid{};
    Bstr source, description;
};
Seen TakeRecord() {
    ComPtr<IErrorInfo> record;
    Seen seen;
    if (GetErrorInfo(0, record.Put()) == S_OK) {  // without a record every field reads empty
        EXPECT_EQ(record->GetGUID(&seen.guid), S_OK);
        EXPECT_EQ(record->GetSource(seen.source.Put()), S_OK);
        EXPECT_EQ(record->GetDescription(seen.description.Put()), S_OK);
    }
    return seen;
}

}  // namespace

TEST(ErrorSupport, MapResultRaisesTheTableRowWithTheFileIdentity) {
    TempRegistry registry;  // nothing registered: no ProgID
    const struct {
        LONG code;
        std::uint32_t hr;
        const wchar_t* message;  // null: no record is raised and an earlier one stays
    } rows[] = {
        {1, 0x80040301, L"Busy error."},                            // first row
        {10, 0x8004030A, L"Index out of range."},                   // end of the 0x0301 block
        {11, 0x80040401, L"QuickTime container not correct."},      // next block
        {24, 0x80040705, L"The stream is closed or unavailable."},  // last of the run
        {25, 0x80040300, L"Unexpected error."},                     // 25 to 36 have no row
        {36, 0x80040300, L"Unexpected error."},
        {37, 0x8004030C, L"Memory allocation error."},  // after the gap (no 0x8004030B)
        {1000, 0x80040300, L"Unexpected error."},
        {0, 0, nullptr},                          // success
        {LONG(0x80004005), 0x80004005, nullptr},  // negative: already an HRESULT
    };
    for (const auto& row : rows) {
        VideoErrors::RaiseError(L"Invalid argument.", ZEV_E_INVALIDARG);  // an earlier record
        EXPECT_EQ(FileErrors::MapResult(row.code), MakeHResult(row.hr)) << row.code;
        const Seen seen = TakeRecord();
        EXPECT_EQ(seen.description.View(), row.message ? row.message : L"Invalid argument.");
        EXPECT_EQ(seen.guid, row.message ? IID_IFlashFile5 : IID_IFlashVideoStream5) << row.code;
        EXPECT_FALSE(seen.source) << "no ProgID is registered";
    }
}

TEST(ErrorSupport, EachClassRaisesWithItsInterfaceAndItsRegisteredProgId) {
    TempRegistry registry;
    EXPECT_EQ(FileErrors::RaiseError(ZEV_E_INVALIDOPERATION), ZEV_E_INVALIDOPERATION);
    EXPECT_EQ(TakeRecord().guid, MakeGuid("985477CD-0C1C-4176-A095-A78A80AC18E8"));
    EXPECT_EQ(VideoErrors::RaiseCode(3), ZEV_E_FILEACCESS);
    EXPECT_EQ(TakeRecord().guid, MakeGuid("29E64B4B-F8CD-4050-A28C-85F95ACF9EB5"));
    EXPECT_EQ(AudioErrors::RaiseCode(2), ZEV_E_MEMORY);
    EXPECT_EQ(TakeRecord().guid, MakeGuid("6F43246F-CA1D-44B5-9691-B44CA800BC8A"));
    // A ProgID registered for the video stream's CLSID becomes its records' source.
    const std::wstring progId = L"zevflashfile5.FlashVideoStream5.1";
    const ScopedRegistryKey registered(
        HKEY_CLASSES_ROOT, L"CLSID\\{2D955AA8-8E94-4A94-A669-C493B0730C20}\\ProgID", progId);
    ASSERT_EQ(registered.Status(), ERROR_SUCCESS);
    VideoErrors::RaiseCode(24);
    EXPECT_EQ(TakeRecord().source.View(), progId);
    FileErrors::RaiseCode(24);  // another class: still none
    EXPECT_FALSE(TakeRecord().source);
    // A zero result would read as success: it is reported as an exception.
    EXPECT_EQ(FileErrors::RaiseError(L"Unexpected error.", S_OK), DISP_E_EXCEPTION);
}
