// The component's error codes and the error records that go with them.
//
// Every failure that belongs to the component itself is one row of a fixed table: a small
// positive internal code (what stream objects may return from Read, Write and SendCommandEx),
// an HRESULT in the interface facility (0x8004xxxx) and one English message. A failing method
// returns the HRESULT and leaves the calling thread an error record naming its class:
//
//   class CFlashFile5 final : public ComObject<CFlashFile5>, ...,
//                             public CZEVErrorSupport<CFlashFile5, IFlashFile5> {
//       ...
//       if (!open) return RaiseError(ZEV_E_INVALIDOPERATION);   // the row's own message
//       return MapResult(stream->Read(...));                     // a stream object's result
//   };
//
// The class's CLSID comes from CLASS_ID_OF(Class) (DECLARE_CLASS_ID, frame/ClassId.h; the three
// component classes are declared in frame/Interfaces.h), the record's GUID is the IID of the
// private interface.
#pragma once

#include "frame/ClassId.h"
#include "platform/Types.h"

// The HRESULTs of the code table (internal code in the comment).
constexpr HRESULT ZEV_E_UNEXPECTED = MakeHResult(0x80040300u);           // any other code
constexpr HRESULT ZEV_E_BUSY = MakeHResult(0x80040301u);                 // 1
constexpr HRESULT ZEV_E_MEMORY = MakeHResult(0x80040302u);               // 2
constexpr HRESULT ZEV_E_FILEACCESS = MakeHResult(0x80040303u);           // 3
constexpr HRESULT ZEV_E_FILEFORMAT = MakeHResult(0x80040304u);           // 4
constexpr HRESULT ZEV_E_VIDEOFORMAT = MakeHResult(0x80040305u);          // 5
constexpr HRESULT ZEV_E_AUDIOFORMAT = MakeHResult(0x80040306u);          // 6
constexpr HRESULT ZEV_E_INVALIDOPERATION = MakeHResult(0x80040307u);     // 7
constexpr HRESULT ZEV_E_INVALIDARG = MakeHResult(0x80040308u);           // 8
constexpr HRESULT ZEV_E_CONTROLNOTINSTALLED = MakeHResult(0x80040309u);  // 9
constexpr HRESULT ZEV_E_INDEXOUTOFRANGE = MakeHResult(0x8004030Au);      // 10
constexpr HRESULT ZEV_E_ALLOCATION = MakeHResult(0x8004030Cu);           // 37
constexpr HRESULT ZEV_E_QTCONTAINER = MakeHResult(0x80040401u);          // 11
constexpr HRESULT ZEV_E_QTVIDEODESCRIPTION = MakeHResult(0x80040402u);   // 12
constexpr HRESULT ZEV_E_QTAUDIODESCRIPTION = MakeHResult(0x80040403u);   // 13
constexpr HRESULT ZEV_E_QTAUDIOCODEC = MakeHResult(0x80040404u);         // 14
constexpr HRESULT ZEV_E_QTVIDEOCODEC = MakeHResult(0x80040405u);         // 15
constexpr HRESULT ZEV_E_AVICONTAINER = MakeHResult(0x80040501u);         // 16
constexpr HRESULT ZEV_E_ACMAUDIOCODEC = MakeHResult(0x80040502u);        // 17
constexpr HRESULT ZEV_E_ACMVIDEOCODEC = MakeHResult(0x80040503u);        // 18
constexpr HRESULT ZEV_E_DVDPROTECTED = MakeHResult(0x80040601u);         // 19
constexpr HRESULT ZEV_E_OUTPUTDRIVER = MakeHResult(0x80040701u);         // 20
constexpr HRESULT ZEV_E_INPUTDRIVER = MakeHResult(0x80040702u);          // 21
constexpr HRESULT ZEV_E_MIXERDRIVER = MakeHResult(0x80040703u);          // 22
constexpr HRESULT ZEV_E_ASPIDRIVER = MakeHResult(0x80040704u);           // 23
constexpr HRESULT ZEV_E_STREAMCLOSED = MakeHResult(0x80040705u);         // 24

// One row of the code table.
struct ZevErrorRow {
    LONG code;  // the internal code; 0 for the row of every other code
    HRESULT hr;
    const wchar_t* message;
};

// The row of internal code `code`; every value without a row of its own (0, negative, 25 to 36,
// anything above 37) gives the row of 0x80040300 "Unexpected error.".
const ZevErrorRow& ErrorRowForCode(LONG code) noexcept;
// The row whose HRESULT is `hr`, or null for an HRESULT outside the table.
const ZevErrorRow* ErrorRowForResult(HRESULT hr) noexcept;

// Sets the calling thread's error record for class `clsid`: GUID `iid`, source the class's ProgID
// when one is registered (else none), description `message`, no help file or context. Returns
// `hr`, or DISP_E_EXCEPTION when `hr` is 0. The record is advisory: when it cannot be made the
// result is the same.
HRESULT RaiseErrorFor(REFCLSID clsid, REFIID iid, const wchar_t* message, HRESULT hr) noexcept;
// Translates a stream object's result for the class `clsid` with private interface `iid`: 0 is
// S_OK and a negative value is already an HRESULT (both set no record); a positive one raises
// its table row (the "Unexpected error." row for a code without one) and returns its HRESULT.
HRESULT MapResultFor(REFCLSID clsid, REFIID iid, LONG result) noexcept;

// The error support a creatable class derives from. Its members are static: they need nothing
// of the object but its class and private interface.
template <class Class, class PrivateInterface>
class CZEVErrorSupport {
  public:
    // Raises `message` with `hr`, which must be a matching pair of one table row.
    static HRESULT RaiseError(const wchar_t* message, HRESULT hr) noexcept {
        return RaiseErrorFor(CLASS_ID_OF(Class), IID_OF(PrivateInterface), message, hr);
    }
    // Raises the table row of `hr` with its own message (an HRESULT outside the table is
    // returned with a record that has no description).
    static HRESULT RaiseError(HRESULT hr) noexcept {
        const ZevErrorRow* row = ErrorRowForResult(hr);
        return RaiseError(row ? row->message : nullptr, hr);
    }
    // Raises the table row of internal code `code`.
    static HRESULT RaiseCode(LONG code) noexcept {
        const ZevErrorRow& row = ErrorRowForCode(code);
        return RaiseError(row.message, row.hr);
    }
    // A stream object's result as the HRESULT to pass on (see MapResultFor).
    static HRESULT MapResult(LONG result) noexcept {
        return MapResultFor(CLASS_ID_OF(Class), IID_OF(PrivateInterface), result);
    }

  protected:
    CZEVErrorSupport() = default;
    ~CZEVErrorSupport() = default;
};
