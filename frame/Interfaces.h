// The component's interface catalogue: the three creatable classes and their identifiers, and
// every interface the host is compiled against, in exact slot order with the Windows parameter
// types (a COM `long` is LONG, uint64 is ULONGLONG). Property accessors carry the names MIDL
// gives them (get_X, put_X). frame/zevflashfile5.idl describes the same type library for hosts.
//
// Slot numbers count the vtable from 0 (QueryInterface, AddRef and Release are 0 to 2), so the
// first method of each interface is slot 3.
#pragma once

#include "frame/ClassId.h"
#include "platform/ConnectionPoint.h"
#include "platform/Dispatch.h"
#include "platform/Variant.h"

// ---------------------------------------------------------------------------------------------
// Identifiers
// ---------------------------------------------------------------------------------------------
constexpr GUID LIBID_zevflashfile5Lib = MakeGuid("7D647A2A-F2CF-4518-9AC3-D0217098D2E5");
constexpr GUID APPID_zevflashfile5 = MakeGuid("517A11AE-F7DE-4CA9-8E8F-D34D8977384C");
constexpr WORD kTypeLibMajorVersion = 1;
constexpr WORD kTypeLibMinorVersion = 0;

constexpr CLSID CLSID_FlashFile5 = MakeGuid("4782B4A0-9258-40BD-8739-54432C6407A2");
constexpr CLSID CLSID_FlashVideoStream5 = MakeGuid("2D955AA8-8E94-4A94-A669-C493B0730C20");
constexpr CLSID CLSID_FlashAudioStream5 = MakeGuid("5E470577-C2B2-4451-9A88-10E1493C8126");

// The C++ classes behind the three coclasses.
DECLARE_CLASS_ID(CFlashFile5, CLSID_FlashFile5);
DECLARE_CLASS_ID(CFlashVideoStream5, CLSID_FlashVideoStream5);
DECLARE_CLASS_ID(CFlashAudioStream5, CLSID_FlashAudioStream5);

// ---------------------------------------------------------------------------------------------
// IMediaSource: the read side of FlashFile5.
// `Stream` selects the stream objects of a kind: -2 all, -1 the current track, 0 to n-1 one.
// ---------------------------------------------------------------------------------------------
DECLARE_INTERFACE_ID(IMediaSource, "6EAE28E0-424E-4642-A408-BC118DE35F45");
struct IMediaSource : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SendCommandEx(ULONGLONG lCommand, IUnknown* pCmdParams,
                                                    IUnknown** pOutInfo) = 0;  // 3
    virtual HRESULT STDMETHODCALLTYPE get_videoTracksCount(LONG* pVal) = 0;    // 4
    virtual HRESULT STDMETHODCALLTYPE put_videoTracksCount(LONG newVal) = 0;   // 5
    virtual HRESULT STDMETHODCALLTYPE get_audioTracksCount(LONG* pVal) = 0;    // 6
    virtual HRESULT STDMETHODCALLTYPE put_audioTracksCount(LONG newVal) = 0;   // 7
    virtual HRESULT STDMETHODCALLTYPE get_dataTracksCount(LONG* pVal) = 0;     // 8
    virtual HRESULT STDMETHODCALLTYPE put_dataTracksCount(LONG newVal) = 0;    // 9
    virtual HRESULT STDMETHODCALLTYPE get_videoTrack(LONG* pVal) = 0;          // 10
    virtual HRESULT STDMETHODCALLTYPE put_videoTrack(LONG newVal) = 0;         // 11
    virtual HRESULT STDMETHODCALLTYPE get_audioTrack(LONG* pVal) = 0;          // 12
    virtual HRESULT STDMETHODCALLTYPE put_audioTrack(LONG newVal) = 0;         // 13
    virtual HRESULT STDMETHODCALLTYPE get_dataTrack(LONG* pVal) = 0;           // 14
    virtual HRESULT STDMETHODCALLTYPE put_dataTrack(LONG newVal) = 0;          // 15
    virtual HRESULT STDMETHODCALLTYPE get_videoStream(LONG Mode, LONG Stream,
                                                      IUnknown** ppStream) = 0;  // 16
    virtual HRESULT STDMETHODCALLTYPE get_audioStream(LONG Mode, LONG Stream,
                                                      IUnknown** ppStream) = 0;  // 17
    virtual HRESULT STDMETHODCALLTYPE get_dataStream(LONG Mode, LONG Stream,
                                                     IUnknown** ppStream) = 0;    // 18
    virtual HRESULT STDMETHODCALLTYPE ResetBuffers(LONG Stream, LONG Flags) = 0;  // 19
    virtual HRESULT STDMETHODCALLTYPE get_IsSeekable(LONG Stream, LONG Flags,
                                                     VARIANT_BOOL* Seekable) = 0;           // 20
    virtual HRESULT STDMETHODCALLTYPE SeekVideo(LONG Stream, LONG Flags, double Time) = 0;  // 21
    virtual HRESULT STDMETHODCALLTYPE SeekAudio(LONG Stream, LONG Flags, double Time) = 0;  // 22
    virtual HRESULT STDMETHODCALLTYPE SeekData(LONG Stream, LONG Flags, double Time) = 0;   // 23
    virtual HRESULT STDMETHODCALLTYPE SkipVideo(LONG Stream, LONG Flags,
                                                double Duration) = 0;  // 24
    virtual HRESULT STDMETHODCALLTYPE SkipAudio(LONG Stream, LONG Flags,
                                                double Duration) = 0;                          // 25
    virtual HRESULT STDMETHODCALLTYPE SkipData(LONG Stream, LONG Flags, double Duration) = 0;  // 26
    virtual HRESULT STDMETHODCALLTYPE ReadVideo(LONG Stream, LONG Flags,
                                                IUnknown** pVideoData) = 0;  // 27
    virtual HRESULT STDMETHODCALLTYPE ReadAudio(LONG Stream, LONG Flags, double Duration,
                                                IUnknown** pAudioData) = 0;  // 28
    virtual HRESULT STDMETHODCALLTYPE ReadData(LONG Stream, LONG Flags,
                                               IUnknown** pDataData) = 0;                    // 29
    virtual HRESULT STDMETHODCALLTYPE get_videoDuration(LONG Stream, double* pVal) = 0;      // 30
    virtual HRESULT STDMETHODCALLTYPE get_audioDuration(LONG Stream, double* pVal) = 0;      // 31
    virtual HRESULT STDMETHODCALLTYPE get_dataDuration(LONG Stream, double* pVal) = 0;       // 32
    virtual HRESULT STDMETHODCALLTYPE get_videoTime(LONG Stream, double* pVal) = 0;          // 33
    virtual HRESULT STDMETHODCALLTYPE get_audioTime(LONG Stream, double* pVal) = 0;          // 34
    virtual HRESULT STDMETHODCALLTYPE get_dataTime(LONG Stream, double* pVal) = 0;           // 35
    virtual HRESULT STDMETHODCALLTYPE get_videoFormat(LONG Stream, IUnknown** pVal) = 0;     // 36
    virtual HRESULT STDMETHODCALLTYPE put_videoFormat(LONG Stream, IUnknown* newVal) = 0;    // 37
    virtual HRESULT STDMETHODCALLTYPE get_audioFormat(LONG Stream, IUnknown** pVal) = 0;     // 38
    virtual HRESULT STDMETHODCALLTYPE put_audioFormat(LONG Stream, IUnknown* newVal) = 0;    // 39
    virtual HRESULT STDMETHODCALLTYPE get_dataFormat(LONG Stream, IUnknown** pVal) = 0;      // 40
    virtual HRESULT STDMETHODCALLTYPE put_dataFormat(LONG Stream, IUnknown* newVal) = 0;     // 41
    virtual HRESULT STDMETHODCALLTYPE get_videoTransform(LONG Stream, IUnknown** pVal) = 0;  // 42
    virtual HRESULT STDMETHODCALLTYPE get_audioTransform(LONG Stream, IUnknown** pVal) = 0;  // 43
    virtual HRESULT STDMETHODCALLTYPE get_dataTransform(LONG Stream, IUnknown** pVal) = 0;   // 44
    virtual HRESULT STDMETHODCALLTYPE SetParam(BSTR ParamName, VARIANT ParamValue) = 0;      // 45
    virtual HRESULT STDMETHODCALLTYPE GetParam(BSTR ParamName, VARIANT* ParamValue) = 0;     // 46
};

// ---------------------------------------------------------------------------------------------
// IMediaFileTemplate: the write side of FlashFile5. The methods it shares with IMediaSource have
// the same names and parameters, so that one implementation serves both.
// ---------------------------------------------------------------------------------------------
DECLARE_INTERFACE_ID(IMediaFileTemplate, "62AC1BD0-8E78-4663-8514-4DE92AEC9268");
struct IMediaFileTemplate : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SendCommandEx(ULONGLONG lCommand, IUnknown* pCmdParams,
                                                    IUnknown** pOutInfo) = 0;         // 3
    virtual HRESULT STDMETHODCALLTYPE get_availableVideoCodecsCount(LONG* pVal) = 0;  // 4
    virtual HRESULT STDMETHODCALLTYPE get_availableAudioCodecsCount(LONG* pVal) = 0;  // 5
    virtual HRESULT STDMETHODCALLTYPE get_availableDataCodecsCount(LONG* pVal) = 0;   // 6
    virtual HRESULT STDMETHODCALLTYPE get_availableVideoFormatsCount(LONG Codec,
                                                                     LONG* pVal) = 0;  // 7
    virtual HRESULT STDMETHODCALLTYPE get_availableAudioFormatsCount(LONG Codec,
                                                                     LONG* pVal) = 0;  // 8
    virtual HRESULT STDMETHODCALLTYPE get_availableDataFormatsCount(LONG Codec,
                                                                    LONG* pVal) = 0;  // 9
    virtual HRESULT STDMETHODCALLTYPE get_availableVideoFormat(LONG Codec, LONG Index,
                                                               IUnknown** pVal) = 0;  // 10
    virtual HRESULT STDMETHODCALLTYPE get_availableAudioFormat(LONG Codec, LONG Index,
                                                               IUnknown** pVal) = 0;  // 11
    virtual HRESULT STDMETHODCALLTYPE get_availableDataFormat(LONG Codec, LONG Index,
                                                              IUnknown** pVal) = 0;  // 12
    virtual HRESULT STDMETHODCALLTYPE get_Status(LONG* Status) = 0;                  // 13
    virtual HRESULT STDMETHODCALLTYPE get_ContainerType(LONG* pType) = 0;            // 14
    virtual HRESULT STDMETHODCALLTYPE put_ContainerType(LONG newVal) = 0;            // 15
    virtual HRESULT STDMETHODCALLTYPE get_ContainerDesc(IUnknown** pType) = 0;       // 16
    virtual HRESULT STDMETHODCALLTYPE put_ContainerDesc(IUnknown* newVal) = 0;       // 17
    virtual HRESULT STDMETHODCALLTYPE get_videoTracksCount(LONG* pVal) = 0;          // 18
    virtual HRESULT STDMETHODCALLTYPE put_videoTracksCount(LONG newVal) = 0;         // 19
    virtual HRESULT STDMETHODCALLTYPE get_audioTracksCount(LONG* pVal) = 0;          // 20
    virtual HRESULT STDMETHODCALLTYPE put_audioTracksCount(LONG newVal) = 0;         // 21
    virtual HRESULT STDMETHODCALLTYPE get_dataTracksCount(LONG* pVal) = 0;           // 22
    virtual HRESULT STDMETHODCALLTYPE put_dataTracksCount(LONG newVal) = 0;          // 23
    virtual HRESULT STDMETHODCALLTYPE get_videoTrack(LONG* pVal) = 0;                // 24
    virtual HRESULT STDMETHODCALLTYPE put_videoTrack(LONG newVal) = 0;               // 25
    virtual HRESULT STDMETHODCALLTYPE get_audioTrack(LONG* pVal) = 0;                // 26
    virtual HRESULT STDMETHODCALLTYPE put_audioTrack(LONG newVal) = 0;               // 27
    virtual HRESULT STDMETHODCALLTYPE get_dataTrack(LONG* pVal) = 0;                 // 28
    virtual HRESULT STDMETHODCALLTYPE put_dataTrack(LONG newVal) = 0;                // 29
    virtual HRESULT STDMETHODCALLTYPE get_videoStream(LONG Mode, LONG Stream,
                                                      IUnknown** ppStream) = 0;  // 30
    virtual HRESULT STDMETHODCALLTYPE get_audioStream(LONG Mode, LONG Stream,
                                                      IUnknown** ppStream) = 0;  // 31
    virtual HRESULT STDMETHODCALLTYPE get_dataStream(LONG Mode, LONG Stream,
                                                     IUnknown** ppStream) = 0;    // 32
    virtual HRESULT STDMETHODCALLTYPE ResetBuffers(LONG Stream, LONG Flags) = 0;  // 33
    virtual HRESULT STDMETHODCALLTYPE get_IsSeekable(LONG Stream, LONG Flags,
                                                     VARIANT_BOOL* Seekable) = 0;           // 34
    virtual HRESULT STDMETHODCALLTYPE SeekVideo(LONG Stream, LONG Flags, double Time) = 0;  // 35
    virtual HRESULT STDMETHODCALLTYPE SeekAudio(LONG Stream, LONG Flags, double Time) = 0;  // 36
    virtual HRESULT STDMETHODCALLTYPE SeekData(LONG Stream, LONG Flags, double Time) = 0;   // 37
    virtual HRESULT STDMETHODCALLTYPE SkipVideo(LONG Stream, LONG Flags,
                                                double Duration) = 0;  // 38
    virtual HRESULT STDMETHODCALLTYPE SkipAudio(LONG Stream, LONG Flags,
                                                double Duration) = 0;                          // 39
    virtual HRESULT STDMETHODCALLTYPE SkipData(LONG Stream, LONG Flags, double Duration) = 0;  // 40
    virtual HRESULT STDMETHODCALLTYPE ReadVideo(LONG Stream, LONG Flags,
                                                IUnknown** pVideoData) = 0;  // 41
    virtual HRESULT STDMETHODCALLTYPE ReadAudio(LONG Stream, LONG Flags, double Duration,
                                                IUnknown** pAudioData) = 0;  // 42
    virtual HRESULT STDMETHODCALLTYPE ReadData(LONG Stream, LONG Flags,
                                               IUnknown** pDataData) = 0;  // 43
    virtual HRESULT STDMETHODCALLTYPE WriteVideo(LONG Stream, LONG Flags,
                                                 IUnknown* pVideoData) = 0;  // 44
    virtual HRESULT STDMETHODCALLTYPE WriteAudio(LONG Stream, LONG Flags,
                                                 IUnknown* pAudioData) = 0;  // 45
    virtual HRESULT STDMETHODCALLTYPE WriteData(LONG Stream, LONG Flags,
                                                IUnknown* pDataData) = 0;                    // 46
    virtual HRESULT STDMETHODCALLTYPE get_videoDuration(LONG Stream, double* pVal) = 0;      // 47
    virtual HRESULT STDMETHODCALLTYPE get_audioDuration(LONG Stream, double* pVal) = 0;      // 48
    virtual HRESULT STDMETHODCALLTYPE get_dataDuration(LONG Stream, double* pVal) = 0;       // 49
    virtual HRESULT STDMETHODCALLTYPE get_videoTime(LONG Stream, double* pVal) = 0;          // 50
    virtual HRESULT STDMETHODCALLTYPE get_audioTime(LONG Stream, double* pVal) = 0;          // 51
    virtual HRESULT STDMETHODCALLTYPE get_dataTime(LONG Stream, double* pVal) = 0;           // 52
    virtual HRESULT STDMETHODCALLTYPE get_Profile(IUnknown** pVal) = 0;                      // 53
    virtual HRESULT STDMETHODCALLTYPE put_Profile(IUnknown* newVal) = 0;                     // 54
    virtual HRESULT STDMETHODCALLTYPE get_videoFormat(LONG Stream, IUnknown** pVal) = 0;     // 55
    virtual HRESULT STDMETHODCALLTYPE put_videoFormat(LONG Stream, IUnknown* newVal) = 0;    // 56
    virtual HRESULT STDMETHODCALLTYPE get_audioFormat(LONG Stream, IUnknown** pVal) = 0;     // 57
    virtual HRESULT STDMETHODCALLTYPE put_audioFormat(LONG Stream, IUnknown* newVal) = 0;    // 58
    virtual HRESULT STDMETHODCALLTYPE get_dataFormat(LONG Stream, IUnknown** pVal) = 0;      // 59
    virtual HRESULT STDMETHODCALLTYPE put_dataFormat(LONG Stream, IUnknown* newVal) = 0;     // 60
    virtual HRESULT STDMETHODCALLTYPE get_videoTransform(LONG Stream, IUnknown** pVal) = 0;  // 61
    virtual HRESULT STDMETHODCALLTYPE get_audioTransform(LONG Stream, IUnknown** pVal) = 0;  // 62
    virtual HRESULT STDMETHODCALLTYPE get_dataTransform(LONG Stream, IUnknown** pVal) = 0;   // 63
    virtual HRESULT STDMETHODCALLTYPE SetParam(BSTR ParamName, VARIANT ParamValue) = 0;      // 64
    virtual HRESULT STDMETHODCALLTYPE GetParam(BSTR ParamName, VARIANT* ParamValue) = 0;     // 65
};

// ---------------------------------------------------------------------------------------------
// IMediaStream: both stream classes.
// ---------------------------------------------------------------------------------------------
DECLARE_INTERFACE_ID(IMediaStream, "49D73883-2969-41A6-B6B3-01EF8A02F463");
struct IMediaStream : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SendCommandEx(ULONGLONG lCommand, IUnknown* pCmdParams,
                                                    IUnknown** pOutInfo) = 0;  // 3
    virtual HRESULT STDMETHODCALLTYPE get_Status(LONG* Status) = 0;            // 4
    virtual HRESULT STDMETHODCALLTYPE get_StreamType(LONG* pType) = 0;         // 5
    virtual HRESULT STDMETHODCALLTYPE get_Capabilities(LONG Flags,
                                                       ULONGLONG* pCapabilities) = 0;  // 6
    virtual HRESULT STDMETHODCALLTYPE get_Duration(double* pVal) = 0;                  // 7
    virtual HRESULT STDMETHODCALLTYPE get_Time(double* pVal) = 0;                      // 8
    virtual HRESULT STDMETHODCALLTYPE Seek(LONG Flags, double Time) = 0;               // 9
    virtual HRESULT STDMETHODCALLTYPE Skip(LONG Flags, double Duration) = 0;           // 10
    virtual HRESULT STDMETHODCALLTYPE Read(LONG Flags, double Duration,
                                           IUnknown** pData) = 0;                         // 11
    virtual HRESULT STDMETHODCALLTYPE Write(LONG Flags, IUnknown* pData) = 0;             // 12
    virtual HRESULT STDMETHODCALLTYPE Reset(LONG Flags) = 0;                              // 13
    virtual HRESULT STDMETHODCALLTYPE SetParam(BSTR ParamName, VARIANT ParamValue) = 0;   // 14
    virtual HRESULT STDMETHODCALLTYPE GetParam(BSTR ParamName, VARIANT* ParamValue) = 0;  // 15
};

// ---------------------------------------------------------------------------------------------
// The private interfaces: FlashFile5's default interface, and the two marker interfaces of the
// stream classes. Their IIDs are also the GUIDs of the classes' error records.
// ---------------------------------------------------------------------------------------------
DECLARE_INTERFACE_ID(IFlashFile5, "985477CD-0C1C-4176-A095-A78A80AC18E8");
struct IFlashFile5 : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE ReOpenFile() = 0;  // 3
};

DECLARE_INTERFACE_ID(IFlashVideoStream5, "29E64B4B-F8CD-4050-A28C-85F95ACF9EB5");
struct IFlashVideoStream5 : IUnknown {};

DECLARE_INTERFACE_ID(IFlashAudioStream5, "6F43246F-CA1D-44B5-9691-B44CA800BC8A");
struct IFlashAudioStream5 : IUnknown {};

// ---------------------------------------------------------------------------------------------
// _IFlashFile5Events: the outgoing dispinterface of FlashFile5. A sink implements it through
// IDispatch::Invoke: OnParsing is dispatch identifier 1 with the arguments long Percent (by
// value) and short* Cancel (VT_BYREF | VT_I2, in and out). The struct only names the
// interface, so that its IID travels with it like any other's.
// ---------------------------------------------------------------------------------------------
DECLARE_INTERFACE_ID(_IFlashFile5Events, "28591EB4-B1A9-429D-A95A-1DECEDCFC688");
struct _IFlashFile5Events : IDispatch {};

constexpr DISPID DISPID_OnParsing = 1;

// The identifiers under the names MIDL gives them.
constexpr IID IID_IMediaSource = IID_OF(IMediaSource);
constexpr IID IID_IMediaFileTemplate = IID_OF(IMediaFileTemplate);
constexpr IID IID_IMediaStream = IID_OF(IMediaStream);
constexpr IID IID_IFlashFile5 = IID_OF(IFlashFile5);
constexpr IID IID_IFlashVideoStream5 = IID_OF(IFlashVideoStream5);
constexpr IID IID_IFlashAudioStream5 = IID_OF(IFlashAudioStream5);
constexpr IID DIID__IFlashFile5Events = IID_OF(_IFlashFile5Events);
