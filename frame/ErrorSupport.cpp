#include "frame/ErrorSupport.h"

#include <iterator>

#include "platform/Com.h"
#include "platform/ComPtr.h"
#include "platform/ErrorInfo.h"

namespace {
// Internal codes 1 to 24 and 37; the last row stands for every other code.
constexpr ZevErrorRow kRows[] = {
    {1, ZEV_E_BUSY, L"Busy error."},
    {2, ZEV_E_MEMORY, L"Memory error."},
    {3, ZEV_E_FILEACCESS, L"File access error."},
    {4, ZEV_E_FILEFORMAT, L"File format error."},
    {5, ZEV_E_VIDEOFORMAT, L"Video format unsupported."},
    {6, ZEV_E_AUDIOFORMAT, L"Audio format unsupported."},
    {7, ZEV_E_INVALIDOPERATION, L"Invalid operation."},
    {8, ZEV_E_INVALIDARG, L"Invalid argument."},
    {9, ZEV_E_CONTROLNOTINSTALLED, L"Control not installed."},
    {10, ZEV_E_INDEXOUTOFRANGE, L"Index out of range."},
    {11, ZEV_E_QTCONTAINER, L"QuickTime container not correct."},
    {12, ZEV_E_QTVIDEODESCRIPTION, L"QuickTime video description not correct."},
    {13, ZEV_E_QTAUDIODESCRIPTION, L"QuickTime audio description not correct."},
    {14, ZEV_E_QTAUDIOCODEC, L"QuickTime audio codec not installed."},
    {15, ZEV_E_QTVIDEOCODEC, L"QuickTime video codec is not installed."},
    {16, ZEV_E_AVICONTAINER, L"AVI container not correct."},
    {17, ZEV_E_ACMAUDIOCODEC, L"ACM audio codec is not installed."},
    {18, ZEV_E_ACMVIDEOCODEC, L"ACM video codec is not installed."},
    {19, ZEV_E_DVDPROTECTED, L"DVD content protected data."},
    {20, ZEV_E_OUTPUTDRIVER, L"Output Driver error."},
    {21, ZEV_E_INPUTDRIVER, L"Input Driver error."},
    {22, ZEV_E_MIXERDRIVER, L"Mixer Driver error."},
    {23, ZEV_E_ASPIDRIVER, L"Aspi Driver error."},
    {24, ZEV_E_STREAMCLOSED, L"The stream is closed or unavailable."},
    {37, ZEV_E_ALLOCATION, L"Memory allocation error."},
    {0, ZEV_E_UNEXPECTED, L"Unexpected error."},
};
constexpr const ZevErrorRow& kUnexpectedRow = kRows[std::size(kRows) - 1];
}  // namespace

const ZevErrorRow& ErrorRowForCode(LONG code) noexcept {
    if (code <= 0) return kUnexpectedRow;
    for (const ZevErrorRow& row : kRows) {
        if (row.code == code) return row;
    }
    return kUnexpectedRow;
}

const ZevErrorRow* ErrorRowForResult(HRESULT hr) noexcept {
    for (const ZevErrorRow& row : kRows) {
        if (row.hr == hr) return &row;
    }
    return nullptr;
}

HRESULT RaiseErrorFor(REFCLSID clsid, REFIID iid, const wchar_t* message, HRESULT hr) noexcept {
    ComPtr<ICreateErrorInfo> builder;
    if (SUCCEEDED(CreateErrorInfo(builder.Put()))) {
        builder->SetGUID(iid);
        // No ProgID is registered for the component's classes, so the source normally stays empty.
        LPOLESTR progId = nullptr;
        if (SUCCEEDED(ProgIDFromCLSID(clsid, &progId)) && progId != nullptr)
            builder->SetSource(progId);
        CoTaskMemFree(progId);
        builder->SetDescription(const_cast<LPOLESTR>(message));
        if (ComPtr<IErrorInfo> record = builder.As<IErrorInfo>()) SetErrorInfo(0, record.Get());
    }
    return hr == S_OK ? DISP_E_EXCEPTION : hr;
}

HRESULT MapResultFor(REFCLSID clsid, REFIID iid, LONG result) noexcept {
    if (result == 0) return S_OK;
    if (result < 0) return result;  // already an HRESULT; the stream object set its own record
    const ZevErrorRow& row = ErrorRowForCode(result);
    return RaiseErrorFor(clsid, iid, row.message, row.hr);
}
