// CFlashAudioStream5: the audio track of one FLV file as 16-bit PCM (class FlashAudioStream5).
//
// Opened by the source object with command 1001, it then works on its own: its own input
// stream on the file, its own CFLV_Manager with the audio index, an AudioDecoder of the host
// framework that turns tag payloads into PCM, and an AudioPacketQueue that cuts the PCM into
// packets of the duration each Read asks for. Every packet is stamped with its start time and
// duration in milliseconds; the times of consecutive packets tile the timeline.
//
// Timeline. The sound keeps to the tags' times as FFmpeg's
// `aresample=async=1:min_hard_comp=0.1:first_pts=0` keeps it: the track starts at 0, and the
// first decoded sound is placed at its tag's time when that lies more than a millisecond after
// 0 (silence before it); later sound follows on without a seam unless its tag's time lies more
// than 100 ms after the end of the sound so far (silence fills the gap) or before it (that much
// of the new sound is dropped). Positions are counted in sample frames at the output rate; a
// tag's time is its frame rounded to the nearest. The track ends where its sound ends: at the
// end of what was decoded, or, when that falls more than 100 ms short of the end of the latest
// tag's sound (the manager's audioDuration), at that end, with silence up to it. Nothing is
// drained or padded at the end of what the index holds, so that a file that grows (command
// 1006) goes on exactly as one read of the finished file.
//
// Seek decodes a few tags before its target and discards their sound (MP3 frames borrow bits
// from earlier frames, and the transform codecs overlap one frame with the next), and places the
// target's tag where reading straight through puts it: from the decoded lengths of those tags
// and their rounded times, to within what the times tell (exact for tags in step with their
// sound). Seek, Skip and Read move along the same timeline.
//
// Threads: one recursive critical section guards every method for its whole run. Seek and Skip
// call the object's own helpers while holding it. No exception leaves an interface method.
//
// Memory: what the object allocates is bounded by the duration a Read asks for (plus one
// decoded tag). Silence (before the first tag, in a gap, at the end) is never allocated in
// one block: it is counted in sample frames and written into the queue piece by piece as Reads
// need it, and decoded sound that follows it waits behind it; Seek and Skip step over silence
// by counting and over sound in pieces of at most a second.
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
    // Brings the queue to `frames` sample frames when the track holds that many more: hands it
    // the silence owed, the sound waiting behind it, and decodes further records.
    HRESULT Fill(std::uint64_t frames);
    // Steps `frames` sample frames ahead on the timeline without delivering them (silence is
    // only counted, sound is taken from the queue in pieces). Stops at the end of the track.
    HRESULT Discard(std::uint64_t frames);
    // Decodes the next audio record and places its sound on the timeline. False when there is
    // no record left.
    bool DecodeAndPlace();
    // Decodes the next audio record (if it holds a payload) into `pcm` (null when the decoder
    // gave nothing) and gives its tag time.
    void DecodeNextRecord(ComPtr<IMediaPacket>& pcm, std::uint64_t& tagTime);
    // Gives the decoder the AAC configuration in effect at the record at `position`: the
    // latest later sequence header before it that differs from the one before (the manager's
    // audioConfigChanges), or the stream's first (audioExtra). Nothing when it has it already.
    void ApplyConfigurationFor(std::uint64_t position);
    void SetDecoderExtraData(const CExtraData* extra);
    // Puts decoded sound of a tag of `tagTime` on the timeline (the rules above).
    HRESULT Place(ComPtr<IMediaPacket> pcm, std::uint64_t tagTime);
    // Once every record is decoded: owes the silence up to the end of the track, if any.
    void OweSilenceToTheEnd();
    // Decodes records [from, to) for the decoder's sake, discarding their sound, and answers
    // where the sound of record `to` starts on the timeline.
    std::int64_t PreRoll(std::size_t from, std::size_t to);
    // Writes as much of the silence owed into the queue as it needs to hold `frames`.
    HRESULT SupplyOwedSilence(std::uint64_t frames);
    // Appends `frames` sample frames of silence in the output format to the queue.
    HRESULT QueueSilence(std::uint64_t frames);
    // Whole sample frames of PCM the queue holds.
    std::uint64_t QueuedFrames() const;
    // Whole sample frames in `ms` at the output rate, as the queue counts them:
    // trunc(ms × rate / 1000 + 1e-6). 0 for a non-positive or unusable value or format.
    double FramesIn(double ms) const;
    // The sample frame of a tag time at the output rate, rounded to the nearest.
    std::int64_t TagFrame(std::uint64_t ms) const;
    // Once every record is decoded, where the track ends in sample frames: the end of the
    // sound placed, or the end of the latest tag's sound when the sound falls short of it by
    // more than the timeline leaves alone. Before that, the end of the sound placed so far.
    std::int64_t TrackEndFrames() const;
    // The track's duration in ms (what get_Duration answers): the end of the latest tag's
    // sound, or the end of the track found once every record was decoded when that is later.
    double TrackDurationMs() const;
    bool AllRecordsDecoded() const { return nextRecord >= manager->audioIndex.size(); }
    // The output rate and block align, or 0 when the output format cannot describe PCM (a rate
    // of 0 or beyond a LONG, a channel count of 0 from a damaged file).
    LONG OutputRate() const noexcept;
    LONG OutputBlockAlign() const noexcept;
    bool OutputUsable() const noexcept { return OutputRate() > 0 && OutputBlockAlign() > 0; }
    // Empties the decoder and the queue (and what is owed or waiting with them): the timeline
    // ends where the next packet starts.
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
    // The AAC configuration the decoder has: an index into the manager's audioConfigChanges, or
    // -1 for the stream's first.
    std::ptrdiff_t appliedConfiguration = -1;
    double currentTime = 0.0;  // start (ms) of the next packet; -1 after Reset
    // The timeline, in sample frames at the output rate: where the next packet starts, and the
    // end of everything placed so far (delivered, queued, owed as silence, waiting behind it).
    std::int64_t position = 0;
    std::int64_t placedEnd = 0;
    // Sample frames of silence that belong in the queue ahead of the sound decoded after them.
    std::uint64_t silenceOwed = 0;
    // Decoded sound that waits behind the silence owed.
    ComPtr<IMediaPacket> waiting;
    // Sample frames of decoded sound still to be dropped (a tag laid over earlier sound).
    std::uint64_t dropOwed = 0;
    // The end of the track (ms) as found the last time every record was decoded: the sound
    // can run a little past the end of the latest tag's sound.
    double soundEndMs = 0.0;
};
