// CFlashAudioStream5: the audio track of one FLV file as 16-bit PCM (class FlashAudioStream5).
//
// Opened by the source object with command 1001, it then works on its own: its own input
// stream on the file, its own CFLV_Manager with the audio index, an AudioDecoder of the host
// framework that turns tag payloads into PCM, and an AudioPacketQueue that cuts the PCM into
// packets of the duration each Read asks for. Every packet is stamped with its start time and
// duration in milliseconds; the times of consecutive packets tile the timeline.
//
// Threads: one recursive critical section guards every method for its whole run. Seek and Skip
// call the object's own Read while holding it. No exception leaves an interface method.
//
// Memory: what the object allocates is bounded by the duration a Read asks for (plus one
// decoded tag). Silence that a Seek owes before the first audio tag is not queued at once: it
// is counted in sample frames and written into the queue piece by piece, ahead of any decoded
// audio, as Reads ask for it, so that the queue delivers exactly what one block would have.
#pragma once

#include <cstdint>
#include <memory>

#include "flv/Manager.h"
#include "frame/ErrorSupport.h"
#include "frame/Interfaces.h"
#include "io/InputStream.h"
#include "mediakit/MediaInterfaces.h"
#include "platform/ComObject.h"
#include "platform/CriticalSection.h"

class CFlashAudioStream5 final : public ComObject<CFlashAudioStream5>,
                                 public IMediaStream,
                                 public IFlashAudioStream5,
                                 public CZEVErrorSupport<CFlashAudioStream5, IFlashAudioStream5> {
  public:
    // Stream-object commands (the low 32 bits of a command code select).
    static constexpr std::uint32_t kCommandOpen = 1001;
    static constexpr std::uint32_t kCommandReadyForUse = 1002;
    static constexpr std::uint32_t kCommandClose = 1004;
    static constexpr std::uint32_t kCommandRefresh = 1006;
    static constexpr std::uint32_t kCommandInfo = 101;
    static constexpr std::uint32_t kCommandConfigure = 16;
    static constexpr std::uint32_t kCommandCopyFormat = 17;
    static constexpr std::uint32_t kCommandCheckParams = 100;
    static constexpr std::uint32_t kCommandContainerGet = 14;
    static constexpr std::uint32_t kCommandContainerSet = 15;

    static constexpr LONG kStreamTypeAudio = 2;
    static constexpr LONG kContainerTypeFlv = 141;

    COM_DELEGATING_IUNKNOWN
    explicit CFlashAudioStream5(ComObjectArgs args) : ComObject(args) {}
    ~CFlashAudioStream5();
    // Creates the decoder, the queue and the two formats (input first, then output).
    HRESULT FinalConstruct();
    HRESULT InternalQueryInterface(REFIID riid, void** ppv) {
        return QueryInterfaceTable<IMediaStream, IFlashAudioStream5>(this, riid, ppv);
    }

    // IMediaStream
    HRESULT STDMETHODCALLTYPE SendCommandEx(ULONGLONG lCommand, IUnknown* pCmdParams,
                                            IUnknown** pOutInfo) override;
    HRESULT STDMETHODCALLTYPE get_Status(LONG* Status) override;
    HRESULT STDMETHODCALLTYPE get_StreamType(LONG* pType) override;
    HRESULT STDMETHODCALLTYPE get_Capabilities(LONG Flags, ULONGLONG* pCapabilities) override;
    HRESULT STDMETHODCALLTYPE get_Duration(double* pVal) override;
    HRESULT STDMETHODCALLTYPE get_Time(double* pVal) override;
    HRESULT STDMETHODCALLTYPE Seek(LONG Flags, double Time) override;
    HRESULT STDMETHODCALLTYPE Skip(LONG Flags, double Duration) override;
    // Without an open file *pData is left as it was; otherwise it is null unless a packet comes.
    // A Duration of 0 or less (or less than one sample frame), and the end of the track, give
    // S_OK with no packet.
    HRESULT STDMETHODCALLTYPE Read(LONG Flags, double Duration, IUnknown** pData) override;
    HRESULT STDMETHODCALLTYPE Write(LONG Flags, IUnknown* pData) override;
    HRESULT STDMETHODCALLTYPE Reset(LONG Flags) override;
    HRESULT STDMETHODCALLTYPE SetParam(BSTR ParamName, VARIANT ParamValue) override;
    HRESULT STDMETHODCALLTYPE GetParam(BSTR ParamName, VARIANT* ParamValue) override;

  private:
    // Commands (the lock is held).
    HRESULT Open(IMediaParams* params);
    void Close();
    // Takes the PCM layout from `format` (an IAudioFormat; anything else changes nothing) and
    // sets the decoder up for it.
    void Configure(IUnknown* format);
    HRESULT Refresh(IMediaParams* params);
    HRESULT Info(IUnknown** outInfo);
    HRESULT CopyInputFormat(IUnknown** outInfo);

    // Read without the checks of the interface method: the next packet of up to `duration`
    // ms, or none.
    HRESULT ReadPacket(double duration, ComPtr<IUnknown>& packet);
    // Decodes the next audio record (if it holds a payload) into `pcm` (null when the decoder
    // gave nothing).
    void DecodeNextRecord(ComPtr<IUnknown>& pcm);
    // Writes as much of the silence owed into the queue as it needs to hold `frames`.
    HRESULT SupplyOwedSilence(std::uint64_t frames);
    // Appends `frames` sample frames of silence in the output format to the queue.
    HRESULT QueueSilence(std::uint64_t frames);
    // Whole sample frames of PCM the queue holds.
    std::uint64_t QueuedFrames() const;
    // Whole sample frames in `ms` at the output rate, as the queue counts them:
    // trunc(ms × rate / 1000 + 1e-6). 0 for a non-positive or unusable value or format.
    double FramesIn(double ms) const;
    // The output rate and block align, or 0 when the output format cannot describe PCM (a rate
    // of 0 or beyond a LONG, a channel count of 0 from a damaged file).
    LONG OutputRate() const noexcept;
    LONG OutputBlockAlign() const noexcept;
    bool OutputUsable() const noexcept { return OutputRate() > 0 && OutputBlockAlign() > 0; }
    // Empties the decoder and the queue (and the silence owed with it).
    void ResetDecoding(LONG flags);
    bool HasAudio() const noexcept { return manager && manager->facts.hasAudio; }

    CriticalSection lock;
    LONG status = 0;  // 0 closed, 1 open, 2 after command 1002
    std::unique_ptr<CFLV_Manager> manager;
    std::unique_ptr<CInputStream> input;
    ComPtr<IAudioDecoder> decoder;
    ComPtr<IAudioPacketQueue> queue;
    ComPtr<IAudioFormat> inputFormat;   // the compressed audio; copied out by command 17
    ComPtr<IAudioFormat> outputFormat;  // the PCM delivered
    WAVEFORMATEX outputWave{};          // 16-bit PCM, the channels and rate of the input format
    bool discontinuityPending = false;  // the next packet carries the discontinuity mark
    bool repositionPending = true;      // the next Seek acts even on the current time
    std::size_t nextRecord = 0;         // the next audio index record to decode
    double currentTime = 0.0;           // start (ms) of the next packet; -1 after Reset
    // Sample frames of silence that belong in the queue ahead of any decoded audio.
    std::uint64_t silenceOwed = 0;
};
