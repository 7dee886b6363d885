// CFlashVideoStream5: the video track of one FLV file as decoded frames (class
// FlashVideoStream5, interfaces IMediaStream and IFlashVideoStream5).
//
// The object opens the file by name on its own (command 1001), keeps its own CFLV_Manager whose
// video index it takes from the "FLVSettings" container the source object hands over, from the
// index cache, or from a walk of the file, and decodes through a VideoDecoder of the host
// framework. Read returns one frame per call, stamped with a start time and a duration in
// milliseconds such that the frames tile the timeline from 0 to Duration; Seek and Skip
// position it.
//
// Timeline. Each compressed frame goes to the decoder with its presentation time (the index
// entry's time: tag time plus composition time), and decoding always starts at a keyframe
// record (after an open, a seek and a reset), so that no packet the decoder cannot use is fed.
// The decoder hands frames out in presentation order; a decoded frame keeps the time the
// decoder gave it when that is one of the pending times (a packet that gave no frame then costs
// that frame only), else it takes the smallest pending time. Read starts each frame at the
// current time and lets it last until the next ready frame's time (or the end of the track):
// the first frame covers the track from 0. A frame longer than 500 ms is cut: it lasts one frame
// duration, and a copy starting one frame duration later carries the rest.
//
// Codec configuration: the decoder starts with the manager's extra data; before a record is
// fed, the latest change of configuration that lies before it in the file (an AVC sequence
// header that differs from the one before) is handed over with SetExtraData, so that decoding
// from any record, straight on or after a seek, uses the configuration its frames were made
// with.
//
// Locking: one recursive critical section per object, held for the whole run of every method.
// Open, Seek and Skip call the object's own read and skip while holding it.
#pragma once

#include <cstdint>
#include <memory>

#include "flv/Manager.h"
#include "frame/ErrorSupport.h"
#include "frame/Interfaces.h"
#include "io/InputStream.h"
#include "mediakit/MediaInterfaces.h"
#include "platform/ComObject.h"
#include "platform/ComPtr.h"
#include "platform/CriticalSection.h"
#include "streams/VideoFrames.h"

class CFlashVideoStream5 final : public ComObject<CFlashVideoStream5>,
                                 public IMediaStream,
                                 public IFlashVideoStream5,
                                 public CZEVErrorSupport<CFlashVideoStream5, IFlashVideoStream5> {
  public:
    COM_DELEGATING_IUNKNOWN

    // Stream-object commands (low 32 bits of SendCommandEx's code).
    static constexpr std::uint32_t kCommandOpen = 1001;
    static constexpr std::uint32_t kCommandClose = 1004;
    static constexpr std::uint32_t kCommandRefresh = 1006;
    static constexpr std::uint32_t kCommandInfo = 101;
    static constexpr std::uint32_t kCommandColorSpace = 100;
    static constexpr std::uint32_t kCommandFormat = 17;

    // Seek and Skip flag: a frame that covers the target is returned whole, from its start.
    static constexpr LONG kFlagWholeFrame = 2;

    explicit CFlashVideoStream5(ComObjectArgs args) : ComObject(args) {}
    ~CFlashVideoStream5();

    // Creates the VideoFormat and the VideoDecoder; "Memory error." when either cannot be had.
    HRESULT FinalConstruct();
    HRESULT InternalQueryInterface(REFIID riid, void** ppv) {
        return QueryInterfaceTable<IMediaStream, IFlashVideoStream5>(this, riid, ppv);
    }

    // IMediaStream
    HRESULT STDMETHODCALLTYPE SendCommandEx(ULONGLONG command, IUnknown* parameters,
                                            IUnknown** outInfo) override;
    HRESULT STDMETHODCALLTYPE get_Status(LONG* status) override;
    HRESULT STDMETHODCALLTYPE get_StreamType(LONG* type) override;
    HRESULT STDMETHODCALLTYPE get_Capabilities(LONG flags, ULONGLONG* capabilities) override;
    HRESULT STDMETHODCALLTYPE get_Duration(double* duration) override;
    HRESULT STDMETHODCALLTYPE get_Time(double* time) override;
    HRESULT STDMETHODCALLTYPE Seek(LONG flags, double time) override;
    HRESULT STDMETHODCALLTYPE Skip(LONG flags, double duration) override;
    HRESULT STDMETHODCALLTYPE Read(LONG flags, double duration, IUnknown** data) override;
    HRESULT STDMETHODCALLTYPE Write(LONG flags, IUnknown* data) override;
    HRESULT STDMETHODCALLTYPE Reset(LONG flags) override;
    HRESULT STDMETHODCALLTYPE SetParam(BSTR name, VARIANT value) override;
    HRESULT STDMETHODCALLTYPE GetParam(BSTR name, VARIANT* value) override;

  private:
    // Commands.
    HRESULT Open(IMediaParams* parameters);
    void Close() noexcept;
    HRESULT Refresh(IMediaParams* parameters);
    HRESULT Info(IUnknown** outInfo);
    HRESULT SetColorSpace(IMediaParams* parameters);
    HRESULT CopyFormat(IUnknown** outInfo);

    // Open steps: the index (from "FLVSettings", the cache or a walk), the format and decoder
    // set up for the track, and the probe read that learns the decoded frame size.
    void BuildIndex(IMediaParams* parameters);
    void ConfigureFormat();
    std::uint32_t CodecOfFirstVideoTag();
    void ConfigureDecoder(std::uint32_t codecId);
    void Probe();
    // Starts the decoder and runs the probe when the open left them for later: before anything
    // that decodes, or that tells the decoded size, is done.
    void ProbeIfPending();
    // The next record (the first keyframe) alone, then the end of the input: a decoder with
    // frame threads hands out that frame at once instead of after the frames it would decode
    // ahead of it. When no frame comes out, the decoder is stopped and started again (as fresh
    // as the open left it) and the answer is false; the probe then takes the read stage's first
    // frame.
    bool DecodeFirstRecordAlone(ComPtr<IMediaPacket>& frame);
    // The timeline of a fresh open: the first read returns the first frame, from 0. (The decoder
    // is reset after the probe, ProbeIfPending.)
    void Rewind();
    // Reset's work: the frame lists emptied, the decoder reset, the time -1 and feeding to go
    // on at the next keyframe record.
    void ResetDecoding(LONG flags);

    // The timeline (the lock is held).
    bool HasVideo() const noexcept { return manager_ && manager_->facts.hasVideo; }
    double VideoDuration() const noexcept { return manager_->facts.videoDuration; }
    double FrameDuration() const noexcept;
    // Feeds index records to the decoder until one decoded frame joins the ready list (true),
    // or the input has ended and the decoder holds nothing more (false).
    bool FillReady();
    void FeedRecord(const IndexEntry& entry);
    // Gives the decoder the codec configuration in effect at the record at `position` when it
    // is not the one the decoder has.
    void ApplyConfigurationFor(std::uint64_t position);
    void SetDecoderExtraData(const CExtraData* extra);
    // Takes the next frame off the ready list, stamped and remembered. A frame that stands for
    // a long time (a gap in the time stamps) is cut: a read takes one frame duration of it; a
    // skip towards `skipTarget` takes all the whole frame durations before the target at once.
    static constexpr double kNotSkipping = -1.0;
    void ReadFrame(ComPtr<IMediaPacket>& frame, double skipTarget = kNotSkipping);
    void SeekTo(LONG flags, double time);
    // Empties the frame lists and restarts the decoder at the keyframe record for `target`;
    // the current time becomes that record's time.
    void RestartDecodingAt(double target);
    // From the current time to `target`: skips forward, or stretches the first frame back.
    void MoveTo(LONG flags, double target);
    void SkipBy(LONG flags, double duration);
    // Reads the next frame and puts it back at the front of the ready list, stamped.
    void ReadAndPutBack(double skipTarget = kNotSkipping);
    // The index record a full seek to `time` starts decoding from: the last keyframe not after
    // it among the records up to the first one after it; when there is none (a recording that
    // starts inside a group of pictures), the first keyframe; record 0 when no record is one.
    std::size_t KeyRecordFor(double time) const;

    CriticalSection lock_;
    LONG status_ = 0;
    std::unique_ptr<CFLV_Manager> manager_;
    std::unique_ptr<CInputStream> input_;
    ComPtr<IVideoDecoder> decoder_;
    ComPtr<IVideoFormat> format_;
    bool discontinuityPending_ = false;
    bool repositionPending_ = true;
    bool endOfInput_ = false;
    // The open left the decoder's start and the probe for later (ProbeIfPending).
    bool probePending_ = false;
    // The manager's frame rate, or 30 where it gives no usable frame duration; 0 when closed.
    double frameRate_ = 0.0;
    std::size_t nextRecord_ = 0;
    // The configuration the decoder has: an index into the manager's videoConfigChanges, or -1
    // for its extra data.
    std::ptrdiff_t appliedConfiguration_ = -1;
    LONG colorSpace_ = 0;
    VideoFrames frames_;
    double currentTime_ = 0.0;
};
