// CFlashFile5: the source object (class FlashFile5). It opens one FLV file at a time, indexes
// it (from the index cache or by a walk) and creates one stream object per kind of track that
// it hands the index to; the host then reads through the track methods, which pick stream
// objects by a Stream selector and forward to them, or talks to the stream objects directly.
//
// Interfaces: IMediaSource (read side), IMediaFileTemplate (write side; the methods it shares
// with IMediaSource have the same names and parameters, so one implementation serves both),
// IFlashFile5 (ReOpenFile) and IConnectionPointContainer (the _IFlashFile5Events point, on
// which no event is ever raised).
//
// Stream objects are reached only through COM (CLSID_FlashVideoStream5, CLSID_FlashAudioStream5
// and IMediaStream). Commands sent to them: 1001 open, 1004 close, 1006 refresh the index,
// 100 colour space, 16 set the format, 17 get the format, 20 get the transform.
//
// Locking: one recursive critical section guards every field. Open, close, re-open, SetParam
// and the profile setter call the stream objects while holding it. The track and forwarding
// methods hold it only to test the state and pick the stream objects (each with a reference),
// and call the stream objects after leaving it, so a slow Read on one stream object never holds
// up calls to another. Stream objects never call back into the source, so the two kinds of
// lock are always taken in the same order.
//
// Out pointers: every method that writes through one refuses a null one with E_POINTER, the
// fixed answers (IsSeekable, ContainerType, ...) included; the methods that do nothing never
// look at theirs. The duration and time getters answer 0.0 with S_OK while no file is open,
// whatever the selector; with a file open the selector must name exactly one stream object.
//
// Sources: FlashFile5.cpp (commands, open, close, parameters), FlashFile5Tracks.cpp (track
// lists and forwarding), FlashFile5Writing.cpp (container description, profile, writes),
// ReOpen.cpp (ReOpenFile).
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "flv/Manager.h"
#include "frame/ErrorSupport.h"
#include "frame/Interfaces.h"
#include "io/InputStream.h"
#include "mediakit/MediaInterfaces.h"
#include "platform/ComObject.h"
#include "platform/ComPtr.h"
#include "platform/CriticalSection.h"
#include "source/ConnectionPoint.h"

class CacheHandle;

class CFlashFile5 final : public ComObject<CFlashFile5>,
                          public IMediaSource,
                          public IMediaFileTemplate,
                          public IFlashFile5,
                          public IConnectionPointContainer,
                          public CZEVErrorSupport<CFlashFile5, IFlashFile5> {
  public:
    COM_DELEGATING_IUNKNOWN

    // Source commands (the low 32 bits of SendCommandEx's code).
    static constexpr std::uint32_t kCommandOpen = 1;
    static constexpr std::uint32_t kCommandClose = 3;
    static constexpr std::uint32_t kCommandPutContainerDesc = 14;
    static constexpr std::uint32_t kCommandGetContainerDesc = 15;
    // Stream-object commands.
    static constexpr std::uint32_t kStreamOpen = 1001;
    static constexpr std::uint32_t kStreamClose = 1004;
    static constexpr std::uint32_t kStreamRefresh = 1006;
    static constexpr std::uint32_t kStreamColorSpace = 100;
    static constexpr std::uint32_t kStreamSetFormat = 16;
    static constexpr std::uint32_t kStreamGetFormat = 17;
    static constexpr std::uint32_t kStreamGetTransform = 20;

    static constexpr LONG kContainerTypeFlv = 141;
    // The most stream objects of one kind that put videoTracksCount / audioTracksCount creates.
    static constexpr LONG kMaxTracksPerKind = 1024;

    explicit CFlashFile5(ComObjectArgs args)
        : ComObject(args),
          events_(static_cast<IConnectionPointContainer*>(this), DIID__IFlashFile5Events, lock_) {}
    // Final release: the file is closed with final true (no placeholders are made).
    ~CFlashFile5();

    HRESULT InternalQueryInterface(REFIID riid, void** ppv) {
        return QueryInterfaceTable<IMediaSource, IMediaFileTemplate, IFlashFile5,
                                   IConnectionPointContainer>(this, riid, ppv);
    }

    // IMediaSource, and the IMediaFileTemplate methods of the same names.
    HRESULT STDMETHODCALLTYPE SendCommandEx(ULONGLONG command, IUnknown* cmdParams,
                                            IUnknown** outInfo) override;
    HRESULT STDMETHODCALLTYPE get_videoTracksCount(LONG* count) override;
    HRESULT STDMETHODCALLTYPE put_videoTracksCount(LONG count) override;
    HRESULT STDMETHODCALLTYPE get_audioTracksCount(LONG* count) override;
    HRESULT STDMETHODCALLTYPE put_audioTracksCount(LONG count) override;
    HRESULT STDMETHODCALLTYPE get_dataTracksCount(LONG* count) override;
    HRESULT STDMETHODCALLTYPE put_dataTracksCount(LONG count) override;
    HRESULT STDMETHODCALLTYPE get_videoTrack(LONG* track) override;
    HRESULT STDMETHODCALLTYPE put_videoTrack(LONG track) override;
    HRESULT STDMETHODCALLTYPE get_audioTrack(LONG* track) override;
    HRESULT STDMETHODCALLTYPE put_audioTrack(LONG track) override;
    HRESULT STDMETHODCALLTYPE get_dataTrack(LONG* track) override;
    HRESULT STDMETHODCALLTYPE put_dataTrack(LONG track) override;
    HRESULT STDMETHODCALLTYPE get_videoStream(LONG mode, LONG stream,
                                              IUnknown** streamObject) override;
    HRESULT STDMETHODCALLTYPE get_audioStream(LONG mode, LONG stream,
                                              IUnknown** streamObject) override;
    HRESULT STDMETHODCALLTYPE get_dataStream(LONG mode, LONG stream,
                                             IUnknown** streamObject) override;
    HRESULT STDMETHODCALLTYPE ResetBuffers(LONG stream, LONG flags) override;
    HRESULT STDMETHODCALLTYPE get_IsSeekable(LONG stream, LONG flags,
                                             VARIANT_BOOL* seekable) override;
    HRESULT STDMETHODCALLTYPE SeekVideo(LONG stream, LONG flags, double time) override;
    HRESULT STDMETHODCALLTYPE SeekAudio(LONG stream, LONG flags, double time) override;
    HRESULT STDMETHODCALLTYPE SeekData(LONG stream, LONG flags, double time) override;
    HRESULT STDMETHODCALLTYPE SkipVideo(LONG stream, LONG flags, double duration) override;
    HRESULT STDMETHODCALLTYPE SkipAudio(LONG stream, LONG flags, double duration) override;
    HRESULT STDMETHODCALLTYPE SkipData(LONG stream, LONG flags, double duration) override;
    HRESULT STDMETHODCALLTYPE ReadVideo(LONG stream, LONG flags, IUnknown** data) override;
    HRESULT STDMETHODCALLTYPE ReadAudio(LONG stream, LONG flags, double duration,
                                        IUnknown** data) override;
    HRESULT STDMETHODCALLTYPE ReadData(LONG stream, LONG flags, IUnknown** data) override;
    HRESULT STDMETHODCALLTYPE get_videoDuration(LONG stream, double* duration) override;
    HRESULT STDMETHODCALLTYPE get_audioDuration(LONG stream, double* duration) override;
    HRESULT STDMETHODCALLTYPE get_dataDuration(LONG stream, double* duration) override;
    HRESULT STDMETHODCALLTYPE get_videoTime(LONG stream, double* time) override;
    HRESULT STDMETHODCALLTYPE get_audioTime(LONG stream, double* time) override;
    HRESULT STDMETHODCALLTYPE get_dataTime(LONG stream, double* time) override;
    HRESULT STDMETHODCALLTYPE get_videoFormat(LONG stream, IUnknown** format) override;
    HRESULT STDMETHODCALLTYPE put_videoFormat(LONG stream, IUnknown* format) override;
    HRESULT STDMETHODCALLTYPE get_audioFormat(LONG stream, IUnknown** format) override;
    HRESULT STDMETHODCALLTYPE put_audioFormat(LONG stream, IUnknown* format) override;
    HRESULT STDMETHODCALLTYPE get_dataFormat(LONG stream, IUnknown** format) override;
    HRESULT STDMETHODCALLTYPE put_dataFormat(LONG stream, IUnknown* format) override;
    HRESULT STDMETHODCALLTYPE get_videoTransform(LONG stream, IUnknown** transform) override;
    HRESULT STDMETHODCALLTYPE get_audioTransform(LONG stream, IUnknown** transform) override;
    HRESULT STDMETHODCALLTYPE get_dataTransform(LONG stream, IUnknown** transform) override;
    HRESULT STDMETHODCALLTYPE SetParam(BSTR name, VARIANT value) override;
    HRESULT STDMETHODCALLTYPE GetParam(BSTR name, VARIANT* value) override;

    // IMediaFileTemplate's own methods.
    HRESULT STDMETHODCALLTYPE get_availableVideoCodecsCount(LONG* count) override;
    HRESULT STDMETHODCALLTYPE get_availableAudioCodecsCount(LONG* count) override;
    HRESULT STDMETHODCALLTYPE get_availableDataCodecsCount(LONG* count) override;
    HRESULT STDMETHODCALLTYPE get_availableVideoFormatsCount(LONG codec, LONG* count) override;
    HRESULT STDMETHODCALLTYPE get_availableAudioFormatsCount(LONG codec, LONG* count) override;
    HRESULT STDMETHODCALLTYPE get_availableDataFormatsCount(LONG codec, LONG* count) override;
    HRESULT STDMETHODCALLTYPE get_availableVideoFormat(LONG codec, LONG index,
                                                       IUnknown** format) override;
    HRESULT STDMETHODCALLTYPE get_availableAudioFormat(LONG codec, LONG index,
                                                       IUnknown** format) override;
    HRESULT STDMETHODCALLTYPE get_availableDataFormat(LONG codec, LONG index,
                                                      IUnknown** format) override;
    HRESULT STDMETHODCALLTYPE get_Status(LONG* status) override;
    HRESULT STDMETHODCALLTYPE get_ContainerType(LONG* type) override;
    HRESULT STDMETHODCALLTYPE put_ContainerType(LONG type) override;
    HRESULT STDMETHODCALLTYPE get_ContainerDesc(IUnknown** description) override;
    HRESULT STDMETHODCALLTYPE put_ContainerDesc(IUnknown* description) override;
    HRESULT STDMETHODCALLTYPE WriteVideo(LONG stream, LONG flags, IUnknown* data) override;
    HRESULT STDMETHODCALLTYPE WriteAudio(LONG stream, LONG flags, IUnknown* data) override;
    HRESULT STDMETHODCALLTYPE WriteData(LONG stream, LONG flags, IUnknown* data) override;
    HRESULT STDMETHODCALLTYPE get_Profile(IUnknown** profile) override;
    HRESULT STDMETHODCALLTYPE put_Profile(IUnknown* profile) override;

    // IFlashFile5
    HRESULT STDMETHODCALLTYPE ReOpenFile() override;

    // IConnectionPointContainer
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** points) override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** point) override;

  private:
    enum class Kind { kVideo, kAudio };
    using StreamList = std::vector<ComPtr<IMediaStream>>;

    // Open and close (FlashFile5.cpp).
    HRESULT OpenFile(IMediaParams* params);
    // Creates the stream object of one kind, sets its information container into the host's
    // container as "FLVSettings" (`loaded` from the cache, else a new one filled from the manager
    // and saved through `cache`), opens it (command 1001) and appends it to `opened`.
    HRESULT OpenStream(Kind kind, IMediaParams* params, IMediaParams* loaded, CacheHandle& cache,
                       StreamList& opened);
    void CloseFile(bool final) noexcept;
    void ResetState(bool final) noexcept;
    // A new stream object of `kind`, or null when it cannot be created.
    static ComPtr<IMediaStream> NewStream(Kind kind) noexcept;
    // Sends `command` with `params` to every stream object, video first; results are ignored.
    void SendToAll(std::uint32_t command, IUnknown* params);

    // Track access (FlashFile5Tracks.cpp).
    StreamList& Streams(Kind kind) noexcept {
        return kind == Kind::kVideo ? videoStreams_ : audioStreams_;
    }
    LONG& CurrentTrack(Kind kind) noexcept {
        return kind == Kind::kVideo ? currentVideoTrack_ : currentAudioTrack_;
    }
    HRESULT GetTracksCount(Kind kind, LONG* count);
    HRESULT PutTracksCount(Kind kind, LONG count);
    HRESULT GetTrack(Kind kind, LONG* track);
    HRESULT PutTrack(Kind kind, LONG track);
    // The stream objects that `selector` names (-2 all, -1 the current track, 0 to n-1 one),
    // each with a reference, picked under the lock.
    StreamList SelectStreams(Kind kind, LONG selector);
    // Exactly one stream object of the selection, else "Invalid argument." raised.
    HRESULT SelectOne(Kind kind, LONG selector, ComPtr<IMediaStream>& stream);
    // S_OK while a file is open for reading, else "Invalid operation." raised.
    HRESULT RequireOpen();
    bool IsOpen();
    HRESULT GetStreamObject(Kind kind, LONG selector, IUnknown** streamObject);
    // Seek or Skip (`move`) on every selected stream object; their results are not looked at.
    HRESULT MoveStreams(Kind kind, LONG selector, LONG flags, double value,
                        HRESULT (STDMETHODCALLTYPE IMediaStream::*move)(LONG, double));
    HRESULT ReadStream(Kind kind, LONG selector, LONG flags, double duration, IUnknown** data);
    // The duration (or the time) of one stream object; 0.0 while no file is open.
    HRESULT GetStreamTiming(Kind kind, LONG selector, bool duration, double* value);
    HRESULT GetStreamObjectOut(Kind kind, LONG selector, std::uint32_t command, IUnknown** out);

    // Writing side (FlashFile5Writing.cpp).
    // Creates one stream object of `kind` per entry of the profile's "VideoStreamInfo" or
    // "AudioStreamInfo" list that holds a format of that kind, and hands each its format.
    HRESULT CreateProfileStreams(Kind kind, IMediaParams* profile);
    // Appends to `profile` one entry per stream object of `streams` that has a format.
    static void DescribeStreams(Kind kind, const StreamList& streams, IMediaParams* profile);

    // Re-open (ReOpen.cpp): the refreshed index of one kind to the first stream object of it.
    HRESULT RefreshStreams(Kind kind, IMediaParams* outer);

    CriticalSection lock_;
    // 0: no file open; 1: a file is open for reading.
    LONG state_ = 0;
    // The container description; null until the first close.
    ComPtr<IMediaParams> containerDesc_;
    std::unique_ptr<CFLV_Manager> manager_;
    std::unique_ptr<CInputStream> input_;
    LONG colourSpace_ = 0;
    LONG currentAudioTrack_ = 0;
    LONG currentVideoTrack_ = 0;
    // Stream objects in creation order; the track number is the index.
    StreamList videoStreams_;
    StreamList audioStreams_;
    // The "FileHash" of the last open when the cache could use it; empty otherwise.
    std::wstring fileHash_;
    CConnectionPoint events_;
};
