// The host framework's video decoder on libavcodec: compressed FLV video frames in, decoded
// frames out in presentation order, in the colour space that "DecodeColorSpace" names.
//
// Use: Command(16, IVideoFormat) names the codec by its host code; SetExtraData gives the AVC
// configuration record or the VP6 adjustment byte; Command(5) opens the decoder (Write opens it
// too when that was skipped); Write(0, packet) feeds one frame; Write(1, null) ends the input,
// after which Read hands out every frame still held; Reset drops everything held and resumes at the
// next keyframe fed; Command(6) closes the decoder.
//
// Times: each decoded frame carries the time (GetTime, whole milliseconds) of the packet it was
// decoded from, through libavcodec's packet and frame pts; a packet that yields no frame takes
// its time with it. A frame whose packet had no usable time keeps the default time 0.
//
// A new AVC configuration record given to an open H.264 decoder goes to libavcodec with the next
// frame, as new extradata side data (the FLV demuxer's way for a later sequence header): the
// frames held for reordering stay, and the frames after it decode with the new parameter sets.
#pragma once

#include <deque>
#include <vector>

#include "mediakit/DecoderBitstream.h"
#include "mediakit/DecoderSupport.h"
#include "mediakit/FfmpegPtr.h"
#include "mediakit/MediaInterfaces.h"
#include "mediakit/Reserved.h"
#include "platform/ComObject.h"
#include "platform/CriticalSection.h"

namespace mediakit {

class VideoDecoder final : public ComObject<VideoDecoder>, public DecoderSlots<IVideoDecoder, 1> {
  public:
    COM_DELEGATING_IUNKNOWN
    explicit VideoDecoder(ComObjectArgs args) : ComObject(args) {}
    HRESULT FinalConstruct();
    HRESULT InternalQueryInterface(REFIID riid, void** ppv) {
        return QueryInterfaceTable<IVideoDecoder>(this, riid, ppv);
    }

    // IMediaProcessor
    HRESULT STDMETHODCALLTYPE Command(ULONGLONG code, IUnknown* parameter,
                                      IUnknown** outInfo) override;
    HRESULT STDMETHODCALLTYPE GetStatus(LONG* status) override;
    HRESULT STDMETHODCALLTYPE Read(LONG flags, double duration, IUnknown** packet) override;
    HRESULT STDMETHODCALLTYPE Write(LONG flags, IUnknown* packet) override;
    HRESULT STDMETHODCALLTYPE Reset(LONG flags) override;
    // IVideoDecoder
    MEDIAKIT_RESERVED(14)
    HRESULT STDMETHODCALLTYPE SetExtraData(const BYTE* data, LONG size) override;
    MEDIAKIT_RESERVED(16)
    MEDIAKIT_RESERVED(17)
    HRESULT STDMETHODCALLTYPE SetParam(BSTR name, VARIANT* value) override;
    HRESULT STDMETHODCALLTYPE GetParam(BSTR name, VARIANT* value) override;

  private:
    HRESULT Configure(IUnknown* parameter);
    HRESULT Start();
    void Stop();
    void DropHeldFrames();
    HRESULT OpenCodec(AVCodecID id);
    HRESULT WriteFrame(IUnknown* packet);
    // Hands a pending configuration record to libavcodec with the prepared packet.
    bool AttachNewExtraData();
    HRESULT EndInput();
    bool IsKeyFrame(std::span<const std::uint8_t> frame, bool marked) const;
    // Screen video: picks the version on the first keyframes, and starts a fresh decoder for a
    // keyframe the open one refuses.
    HRESULT WriteScreenVideo(bool keyFrame);
    // Sends the prepared packet (null: end of input) and collects what comes out. Answers the
    // number of frames collected, or a failure result.
    HRESULT Decode(const AVPacket* packet, int* collected);
    HRESULT CollectFrames(int* collected);
    HRESULT Deliver(const AVFrame* frame);
    // Gives `output` the frame's format, key mark and time and appends it to the ready frames.
    HRESULT DescribeFrame(const AVFrame* frame, IMediaPacket* output);

    CriticalSection lock_;
    // Configuration.
    bool configured_ = false;
    HRESULT configureResult_ = kDecoderNotConfigured;
    LONG hostCodec_ = 0;
    AVCodecID codecId_ = AV_CODEC_ID_NONE;
    double frameRate_ = 0.0;
    // The frame size the format names (0 when it names none); it chooses the thread setting.
    LONG frameWidth_ = 0;
    LONG frameHeight_ = 0;
    LONG colorSpace_ = kColorSpaceYuv420;
    std::vector<std::uint8_t> extraData_;
    // A configuration record given while the H.264 decoder was open: it goes with the next frame.
    std::vector<std::uint8_t> newExtraData_;
    int nalLengthSize_ = 4;  // of the AVC configuration record
    // Decoding.
    bool started_ = false;
    CodecContextPtr codec_;
    AVCodecID openCodecId_ = AV_CODEC_ID_NONE;
    bool draining_ = false;          // end of input sent to the decoder
    bool awaitingKeyFrame_ = false;  // after Reset: frames are dropped until a keyframe
    bool keyMarksSeen_ = false;      // the source marks keyframes on its packets
    ScreenVideoVersion screenVersion_ = ScreenVideoVersion::kUnknown;
    bool screenVersionSettled_ = false;
    bool screenLastTryDecoded_ = false;  // the open screen decoder took the last frame tried
    PacketPtr packet_;
    FramePtr frame_;
    FramePtr converted_;      // scaler output, before packing into a packet
    ScaleContextPtr scaler_;  // for frames of this size and these formats:
    int scalerWidth_ = 0;
    int scalerHeight_ = 0;
    AVPixelFormat scalerSource_ = AV_PIX_FMT_NONE;
    AVPixelFormat scalerTarget_ = AV_PIX_FMT_NONE;
    std::deque<ComPtr<IMediaPacket>> ready_;
};

}  // namespace mediakit
