// The host framework's interfaces that the component uses: the parameter container, packets,
// formats, decoders and the PCM queue. Header only; the component includes it as it would the
// framework's SDK headers and reaches the objects only by class identifier.
//
// Slot numbers count the vtable from 0 (QueryInterface, AddRef, Release are 0 to 2). The slots
// the component calls are fixed; the others are ours, and placeholder methods named
// ReservedN keep the fixed ones in place (they return E_NOTIMPL).
#pragma once

#include "platform/MemoryStream.h"
#include "platform/Variant.h"

// ---------------------------------------------------------------------------------------------
// Identifiers
// ---------------------------------------------------------------------------------------------
constexpr CLSID CLSID_MediaParams = MakeGuid("2363E3B2-BBE5-4670-ABA9-6C89079DF009");
constexpr CLSID CLSID_AudioPacket = MakeGuid("4275D5BA-C230-4EBE-8E44-CA4C9C47B17D");
constexpr CLSID CLSID_VideoPacket = MakeGuid("A4051182-F7D9-427C-B437-EB4A0D55C57A");
constexpr CLSID CLSID_AudioFormat = MakeGuid("6E970212-5604-4E4D-903C-91383C12A8B9");
constexpr CLSID CLSID_VideoFormat = MakeGuid("4A71BB83-29AB-4A00-A9BE-E82E03B77945");
constexpr CLSID CLSID_AudioDecoder = MakeGuid("E1595DDB-070C-41ED-A890-AC131A7267A8");
constexpr CLSID CLSID_VideoDecoder = MakeGuid("BA40BD13-B9F2-4943-8780-4D0664AA794A");
constexpr CLSID CLSID_AudioPacketQueue = MakeGuid("1C0422A2-BF7A-4068-BCA9-5FFF80D5F167");

// Element types of a MediaParams name (GetType).
enum MediaParamType : LONG {
    kParamBool = 1,
    kParamLong = 2,
    kParamUInt64 = 3,
    kParamDouble = 4,
    kParamString = 5,
    kParamParams = 6,
    kParamStream = 7,
    kParamUnknown = 8,
};

// ---------------------------------------------------------------------------------------------
// IMediaParams: ordered names, each holding a list of typed elements.
//
// Selector `sel` of the element methods:
//   reads:  -1 the name's single element (element 0 when there are several); n element n.
//   writes: -1 append a new element; 0 create or replace element 0; n replace element n, or
//           append when n equals the count; beyond that E_INVALIDARG.
// A failed read leaves the out value as the caller preset it. Names are zero-terminated wide
// strings compared exactly (case-sensitive); a null name is E_INVALIDARG.
// The `flags` of the object methods (73, 74, 76, 77, 81, 83): 1 shares the reference; 0 stores
// or returns an independent copy where one can be made (containers and streams).
//
// Results: E_POINTER for a null out pointer or object argument; E_INVALIDARG for a null name or a
// selector outside the rules above; kParamNotFound when a read finds no such name or element;
// DISP_E_TYPEMISMATCH when the element cannot be read as the type asked for, DISP_E_OVERFLOW when
// its value does not fit. The *Def getters answer their default with S_OK in those three cases.
// Numbers convert: bool reads as 1 or 0, integers read as bool (nonzero is VARIANT_TRUE) and as
// double, a long reads as an unsigned 64-bit value sign-extended (its low 32 bits are the long),
// and an unsigned 64-bit value reads as a long when it fits. Objects read through any of the
// object getters that their QueryInterface answers.
// SaveToFile/SaveToStream write a versioned, checksummed binary form (mediakit/ParamsFile.h);
// object (IUnknown) elements cannot be saved and are left out. LoadFromFile/LoadFromStream
// replace the whole content, or leave it unchanged on failure:
// HRESULT_FROM_WIN32(ERROR_CANTREAD) when the file cannot be read,
// HRESULT_FROM_WIN32(ERROR_INVALID_DATA) when its bytes are damaged.
// ---------------------------------------------------------------------------------------------
constexpr HRESULT kParamNotFound = MakeHResult(0x80020003u);  // DISP_E_MEMBERNOTFOUND
DECLARE_INTERFACE_ID(IMediaParams, "FEB371B6-4D5C-493F-B78D-BB59CE1F8CE4");
struct IMediaParams : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE
    GetVersion(LONG* version) = 0;  // 3: format version of SaveToFile
    virtual HRESULT STDMETHODCALLTYPE Reserved4() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved5() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved6() = 0;
    virtual HRESULT STDMETHODCALLTYPE SaveToFile(BSTR path) = 0;            // 7
    virtual HRESULT STDMETHODCALLTYPE LoadFromFile(BSTR path) = 0;          // 8
    virtual HRESULT STDMETHODCALLTYPE SaveToStream(IStream* stream) = 0;    // 9
    virtual HRESULT STDMETHODCALLTYPE LoadFromStream(IStream* stream) = 0;  // 10
    virtual HRESULT STDMETHODCALLTYPE Reserved11() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved12() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved13() = 0;
    virtual HRESULT STDMETHODCALLTYPE Duplicate(LONG flags, IMediaParams** copy) = 0;  // 14
    virtual HRESULT STDMETHODCALLTYPE Merge(LONG flags, IMediaParams* source) = 0;     // 15
    virtual HRESULT STDMETHODCALLTYPE GetNameCount(LONG* count) = 0;                   // 16
    virtual HRESULT STDMETHODCALLTYPE GetNameAt(LONG index, BSTR* name) = 0;           // 17
    virtual HRESULT STDMETHODCALLTYPE Remove(BSTR name) = 0;                           // 18
    virtual HRESULT STDMETHODCALLTYPE GetCount(BSTR name, LONG* count) = 0;            // 19
    virtual HRESULT STDMETHODCALLTYPE Clear() = 0;                                     // 20
    virtual HRESULT STDMETHODCALLTYPE GetType(BSTR name, LONG sel, LONG* type) = 0;    // 21
    virtual HRESULT STDMETHODCALLTYPE Reserved22() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved23() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved24() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved25() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved26() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved27() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved28() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved29() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved30() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved31() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved32() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBoolDef(BSTR name, LONG sel, VARIANT_BOOL fallback,
                                                 VARIANT_BOOL* value) = 0;                    // 33
    virtual HRESULT STDMETHODCALLTYPE GetBool(BSTR name, LONG sel, VARIANT_BOOL* value) = 0;  // 34
    virtual HRESULT STDMETHODCALLTYPE SetBool(BSTR name, LONG sel, VARIANT_BOOL value) = 0;   // 35
    virtual HRESULT STDMETHODCALLTYPE Reserved36() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved37() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved38() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved39() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved40() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved41() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved42() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved43() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved44() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved45() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved46() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved47() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetLongDef(BSTR name, LONG sel, LONG fallback,
                                                 LONG* value) = 0;                    // 48
    virtual HRESULT STDMETHODCALLTYPE GetLong(BSTR name, LONG sel, LONG* value) = 0;  // 49
    virtual HRESULT STDMETHODCALLTYPE SetLong(BSTR name, LONG sel, LONG value) = 0;   // 50
    virtual HRESULT STDMETHODCALLTYPE Reserved51() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved52() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved53() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved54() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved55() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved56() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetUInt64Def(BSTR name, LONG sel, ULONGLONG fallback,
                                                   ULONGLONG* value) = 0;                    // 57
    virtual HRESULT STDMETHODCALLTYPE GetUInt64(BSTR name, LONG sel, ULONGLONG* value) = 0;  // 58
    virtual HRESULT STDMETHODCALLTYPE SetUInt64(BSTR name, LONG sel, ULONGLONG value) = 0;   // 59
    virtual HRESULT STDMETHODCALLTYPE GetDoubleDef(BSTR name, LONG sel, double fallback,
                                                   double* value) = 0;                    // 60
    virtual HRESULT STDMETHODCALLTYPE GetDouble(BSTR name, LONG sel, double* value) = 0;  // 61
    virtual HRESULT STDMETHODCALLTYPE SetDouble(BSTR name, LONG sel, double value) = 0;   // 62
    virtual HRESULT STDMETHODCALLTYPE GetStringDef(BSTR name, LONG sel, BSTR fallback,
                                                   BSTR* value) = 0;  // 63
    virtual HRESULT STDMETHODCALLTYPE GetString(BSTR name, LONG sel,
                                                BSTR* value) = 0;  // 64: caller frees
    virtual HRESULT STDMETHODCALLTYPE SetString(BSTR name, LONG sel, BSTR value) = 0;  // 65
    virtual HRESULT STDMETHODCALLTYPE Reserved66() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved67() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved68() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved69() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved70() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved71() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved72() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetParams(BSTR name, LONG sel, LONG flags,
                                                IMediaParams** value) = 0;  // 73
    virtual HRESULT STDMETHODCALLTYPE SetParams(BSTR name, LONG sel, LONG flags,
                                                IMediaParams* value) = 0;  // 74
    virtual HRESULT STDMETHODCALLTYPE Reserved75() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStream(BSTR name, LONG sel, LONG flags,
                                                IStream** value) = 0;  // 76
    virtual HRESULT STDMETHODCALLTYPE SetStream(BSTR name, LONG sel, LONG flags,
                                                IStream* value) = 0;  // 77
    virtual HRESULT STDMETHODCALLTYPE Reserved78() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved79() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved80() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetUnknown(BSTR name, LONG sel, LONG flags,
                                                 IUnknown** value) = 0;  // 81
    virtual HRESULT STDMETHODCALLTYPE Reserved82() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetUnknown(BSTR name, LONG sel, LONG flags,
                                                 IUnknown* value) = 0;  // 83
};

// ---------------------------------------------------------------------------------------------
// IMediaPacket: one data block (compressed payload, decoded frame or PCM) with its format and
// times. A decoded video frame holds its planes packed one after the other without padding
// (Y, U, V for planar 4:2:0; rows of BGR24 or BGRA32), as its VideoFormat describes.
// ---------------------------------------------------------------------------------------------
DECLARE_INTERFACE_ID(IMediaPacket, "B09503D4-FBED-4788-B3AF-0794A78BB3AF");
struct IMediaPacket : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Reserved3() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved4() = 0;
    // 5: a new packet with a copy of the data, the same format object and the same times and
    // marks; the copy's times change independently.
    virtual HRESULT STDMETHODCALLTYPE Duplicate(LONG flags, IUnknown** copy) = 0;
    // 6: a data block of `size` bytes replaces the old one; `fill` 0 zeroes it, -1 fills it with
    // silence in the packet's format (0x80 for 8-bit PCM, zero otherwise). Negative size:
    // E_INVALIDARG.
    virtual HRESULT STDMETHODCALLTYPE Allocate(LONG size, LONG fill) = 0;
    // 7: copies `count` bytes into the block at `offset`; E_INVALIDARG when they do not fit.
    virtual HRESULT STDMETHODCALLTYPE CopyIn(LONG offset, const BYTE* source, LONG count) = 0;
    // 8: copies `count` bytes out of the block at `offset`; E_INVALIDARG when out of range.
    virtual HRESULT STDMETHODCALLTYPE CopyOut(LONG offset, BYTE* target, LONG count) = 0;
    // 9: the address of the block (valid until the next Allocate or the packet's release).
    virtual HRESULT STDMETHODCALLTYPE GetData(BYTE** data) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved10() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved11() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved12() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved13() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSize(LONG* bytes) = 0;  // 14
    // 15: shortens the block, or lengthens it with zero bytes.
    virtual HRESULT STDMETHODCALLTYPE SetSize(LONG bytes) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved16() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved17() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved18() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved19() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved20() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved21() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved22() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFormat(IUnknown** format) = 0;           // 23
    virtual HRESULT STDMETHODCALLTYPE SetFormat(IUnknown* format) = 0;            // 24
    virtual HRESULT STDMETHODCALLTYPE GetDiscontinuity(VARIANT_BOOL* value) = 0;  // 25
    virtual HRESULT STDMETHODCALLTYPE SetDiscontinuity(VARIANT_BOOL value) = 0;   // 26
    virtual HRESULT STDMETHODCALLTYPE GetKeyFrame(VARIANT_BOOL* value) = 0;       // 27
    virtual HRESULT STDMETHODCALLTYPE SetKeyFrame(VARIANT_BOOL value) = 0;        // 28
    virtual HRESULT STDMETHODCALLTYPE Reserved29() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved30() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTime(double* ms) = 0;       // 31
    virtual HRESULT STDMETHODCALLTYPE SetTime(double ms) = 0;        // 32
    virtual HRESULT STDMETHODCALLTYPE GetTimestamp(double* ms) = 0;  // 33
    virtual HRESULT STDMETHODCALLTYPE SetTimestamp(double ms) = 0;   // 34
    virtual HRESULT STDMETHODCALLTYPE Reserved35() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved36() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDuration(double* ms) = 0;  // 37
    virtual HRESULT STDMETHODCALLTYPE SetDuration(double ms) = 0;   // 38
    virtual HRESULT STDMETHODCALLTYPE Reserved39() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved40() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved41() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved42() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved43() = 0;
};

// IAudioPacket: an IMediaPacket (same slots 3 to 43) with the payload facts of a compressed
// audio tag.
DECLARE_INTERFACE_ID(IAudioPacket, "3A2BC6EE-6DFE-432A-B8ED-6D7E985D0C71");
struct IAudioPacket : IMediaPacket {
    virtual HRESULT STDMETHODCALLTYPE SetPayloadInfo(LONG payloadBytes,
                                                     double tagTimeMs) = 0;  // 44
    virtual HRESULT STDMETHODCALLTYPE GetPayloadInfo(LONG* payloadBytes,
                                                     double* tagTimeMs) = 0;  // 45
};

// ---------------------------------------------------------------------------------------------
// Formats. Properties come in get/put pairs: get at the even slot, put at the odd one.
// ---------------------------------------------------------------------------------------------

// Colour spaces of decoded frames (IVideoFormat::GetColorSpace, "DecodeColorSpace").
enum VideoColorSpace : LONG {
    kColorSpaceYuv420 = 0,  // planar Y, U, V; chroma planes (width+1)/2 × (height+1)/2
    kColorSpaceBgr24 = 1,
    kColorSpaceBgra32 = 2,
};

DECLARE_INTERFACE_ID(IVideoFormat, "5B262933-CE9B-4623-8849-528EDBCB3FD6");
struct IVideoFormat : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Reserved3() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved4() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved5() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved6() = 0;
    virtual HRESULT STDMETHODCALLTYPE Duplicate(IUnknown** copy) = 0;  // 7
    virtual HRESULT STDMETHODCALLTYPE Reserved8() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved9() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved10() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved11() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved12() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved13() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved14() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved15() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFlags(LONG* value) = 0;       // 16
    virtual HRESULT STDMETHODCALLTYPE SetFlags(LONG value) = 0;        // 17
    virtual HRESULT STDMETHODCALLTYPE GetCodec(LONG* value) = 0;       // 18
    virtual HRESULT STDMETHODCALLTYPE SetCodec(LONG value) = 0;        // 19: host video codec code
    virtual HRESULT STDMETHODCALLTYPE GetCodecTag(LONG* value) = 0;    // 20
    virtual HRESULT STDMETHODCALLTYPE SetCodecTag(LONG value) = 0;     // 21
    virtual HRESULT STDMETHODCALLTYPE GetBitRate(LONG* value) = 0;     // 22
    virtual HRESULT STDMETHODCALLTYPE SetBitRate(LONG value) = 0;      // 23: bits per second
    virtual HRESULT STDMETHODCALLTYPE GetColorSpace(LONG* value) = 0;  // 24: VideoColorSpace
    virtual HRESULT STDMETHODCALLTYPE SetColorSpace(LONG value) = 0;   // 25
    virtual HRESULT STDMETHODCALLTYPE
    GetAlpha(LONG* value) = 0;  // 26: 1 when the stream carries alpha
    virtual HRESULT STDMETHODCALLTYPE SetAlpha(LONG value) = 0;           // 27
    virtual HRESULT STDMETHODCALLTYPE GetWidth(LONG* value) = 0;          // 28
    virtual HRESULT STDMETHODCALLTYPE SetWidth(LONG value) = 0;           // 29
    virtual HRESULT STDMETHODCALLTYPE GetHeight(LONG* value) = 0;         // 30
    virtual HRESULT STDMETHODCALLTYPE SetHeight(LONG value) = 0;          // 31
    virtual HRESULT STDMETHODCALLTYPE GetFrameRate(double* value) = 0;    // 32
    virtual HRESULT STDMETHODCALLTYPE SetFrameRate(double value) = 0;     // 33
    virtual HRESULT STDMETHODCALLTYPE GetDisplayWidth(LONG* value) = 0;   // 34
    virtual HRESULT STDMETHODCALLTYPE SetDisplayWidth(LONG value) = 0;    // 35
    virtual HRESULT STDMETHODCALLTYPE GetDisplayHeight(LONG* value) = 0;  // 36
    virtual HRESULT STDMETHODCALLTYPE SetDisplayHeight(LONG value) = 0;   // 37
    virtual HRESULT STDMETHODCALLTYPE GetFieldOrder(LONG* value) = 0;     // 38
    virtual HRESULT STDMETHODCALLTYPE SetFieldOrder(LONG value) = 0;      // 39
    virtual HRESULT STDMETHODCALLTYPE GetRotation(LONG* value) = 0;       // 40
    virtual HRESULT STDMETHODCALLTYPE SetRotation(LONG value) = 0;        // 41
};

DECLARE_INTERFACE_ID(IAudioFormat, "34957411-3552-4BC3-8AAF-8C12CD017E65");
struct IAudioFormat : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Reserved3() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved4() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved5() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved6() = 0;
    virtual HRESULT STDMETHODCALLTYPE Duplicate(IUnknown** copy) = 0;  // 7
    virtual HRESULT STDMETHODCALLTYPE Reserved8() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved9() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved10() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved11() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved12() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved13() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved14() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved15() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved16() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved17() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCodec(LONG* value) = 0;  // 18
    virtual HRESULT STDMETHODCALLTYPE SetCodec(LONG value) = 0;   // 19: host audio codec code
    virtual HRESULT STDMETHODCALLTYPE GetWaveFormat(WAVEFORMATEX* value) = 0;        // 20
    virtual HRESULT STDMETHODCALLTYPE SetWaveFormat(const WAVEFORMATEX* value) = 0;  // 21
    virtual HRESULT STDMETHODCALLTYPE Reserved22() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved23() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetChannels(LONG* value) = 0;        // 24
    virtual HRESULT STDMETHODCALLTYPE SetChannels(LONG value) = 0;         // 25
    virtual HRESULT STDMETHODCALLTYPE GetSampleRate(LONG* value) = 0;      // 26
    virtual HRESULT STDMETHODCALLTYPE SetSampleRate(LONG value) = 0;       // 27
    virtual HRESULT STDMETHODCALLTYPE GetBytesPerSecond(LONG* value) = 0;  // 28
    virtual HRESULT STDMETHODCALLTYPE SetBytesPerSecond(LONG value) = 0;   // 29
    virtual HRESULT STDMETHODCALLTYPE GetBitsPerSample(LONG* value) = 0;   // 30
    virtual HRESULT STDMETHODCALLTYPE SetBitsPerSample(LONG value) = 0;    // 31
    virtual HRESULT STDMETHODCALLTYPE GetBlockAlign(LONG* value) = 0;      // 32
    virtual HRESULT STDMETHODCALLTYPE SetBlockAlign(LONG value) = 0;       // 33
};

// ---------------------------------------------------------------------------------------------
// Processors: decoders and the PCM queue share the first slots of a media stream (3 to 13):
// Command has the signature of SendCommandEx, and Read, Write and Reset those of the stream's
// methods. IMediaProcessor is only this shared layout; it has no identifier of its own.
// ---------------------------------------------------------------------------------------------
struct IMediaProcessor : IUnknown {
    // 3: code 16 with a format configures; 5 starts decoding; 6 ends it (video).
    virtual HRESULT STDMETHODCALLTYPE Command(ULONGLONG code, IUnknown* parameter,
                                              IUnknown** outInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStatus(LONG* status) = 0;    // 4
    virtual HRESULT STDMETHODCALLTYPE GetStreamType(LONG* type) = 0;  // 5
    virtual HRESULT STDMETHODCALLTYPE GetCapabilities(LONG flags,
                                                      ULONGLONG* capabilities) = 0;  // 6
    virtual HRESULT STDMETHODCALLTYPE GetDuration(double* ms) = 0;                   // 7
    virtual HRESULT STDMETHODCALLTYPE GetTime(double* ms) = 0;                       // 8
    virtual HRESULT STDMETHODCALLTYPE Seek(LONG flags, double ms) = 0;               // 9
    virtual HRESULT STDMETHODCALLTYPE Skip(LONG flags, double ms) = 0;               // 10
    // 11: the next output packet, or null (S_OK) when more input is needed.
    virtual HRESULT STDMETHODCALLTYPE Read(LONG flags, double duration, IUnknown** packet) = 0;
    // 12: flags 0 with a packet feeds input; flags 1 with null marks the end of input (video).
    virtual HRESULT STDMETHODCALLTYPE Write(LONG flags, IUnknown* packet) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset(LONG flags) = 0;  // 13
};

DECLARE_INTERFACE_ID(IVideoDecoder, "A13B73AB-BF76-4490-B996-221150665BBA");
struct IVideoDecoder : IMediaProcessor {
    virtual HRESULT STDMETHODCALLTYPE Reserved14() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetExtraData(const BYTE* data, LONG size) = 0;  // 15
    virtual HRESULT STDMETHODCALLTYPE Reserved16() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved17() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetParam(BSTR name, VARIANT* value) = 0;  // 18
    virtual HRESULT STDMETHODCALLTYPE GetParam(BSTR name, VARIANT* value) = 0;  // 19
};

DECLARE_INTERFACE_ID(IAudioDecoder, "84212910-6C06-4244-8AEB-B0C7B0A87CC1");
struct IAudioDecoder : IMediaProcessor {
    virtual HRESULT STDMETHODCALLTYPE Reserved14() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetExtraData(const BYTE* data, LONG size) = 0;  // 15
    virtual HRESULT STDMETHODCALLTYPE Reserved16() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved17() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetParam(BSTR name, VARIANT* value) = 0;  // 18
    virtual HRESULT STDMETHODCALLTYPE GetParam(BSTR name, VARIANT* value) = 0;  // 19
};

DECLARE_INTERFACE_ID(IAudioPacketQueue, "6BEE42AE-CDAC-4C92-8970-A8395B679EB6");
struct IAudioPacketQueue : IMediaProcessor {
    virtual HRESULT STDMETHODCALLTYPE Reserved14() = 0;
    // 15: removes and returns a packet of exactly `ms` of PCM (whole sample frames) when at
    // least that much is held; otherwise null (S_OK).
    virtual HRESULT STDMETHODCALLTYPE ReadDuration(double ms, IUnknown** packet) = 0;
};

// Command codes of the processors.
constexpr ULONGLONG kProcessorConfigure = 16;
constexpr ULONGLONG kProcessorStart = 5;
constexpr ULONGLONG kProcessorStop = 6;
// Write flags.
constexpr LONG kWriteData = 0;
constexpr LONG kWriteEndOfInput = 1;

// Host codec codes that formats carry.
constexpr LONG kVideoCodecSorenson = 22;
constexpr LONG kVideoCodecScreen = 89;
constexpr LONG kVideoCodecVp6 = 95;
constexpr LONG kVideoCodecVp6Alpha = 110;
constexpr LONG kVideoCodecH264 = 28;
constexpr LONG kAudioCodecPcmLittleEndian16 = 0x10000;
constexpr LONG kAudioCodecPcmPlatform16 = 0x10001;
constexpr LONG kAudioCodecPcm8 = 0x10004;
constexpr LONG kAudioCodecG711ALaw = 0x10006;  // G.711, 8 kHz
constexpr LONG kAudioCodecG711MuLaw = 0x10007;
constexpr LONG kAudioCodecAdpcm = 0x1100D;
constexpr LONG kAudioCodecMp3 = 0x15001;
constexpr LONG kAudioCodecAac = 0x15002;
constexpr LONG kAudioCodecNellymoser = 0x15025;
constexpr LONG kAudioCodecSpeex = 0x15027;
