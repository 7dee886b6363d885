// What both decoders share: their result codes, the tables from host codec codes to libavcodec
// decoders, the step from a host packet to an AVPacket, the processor slots a decoder leaves
// empty, and the loop that collects decoded frames.
#pragma once

#include <cstdint>
#include <new>
#include <span>
#include <vector>

#include "mediakit/FfmpegPtr.h"
#include "mediakit/MediaInterfaces.h"
#include "platform/ComObject.h"

namespace mediakit {

// The host codec code names no codec these decoders can decode (0x80070032, "The request is
// not supported."). Configuration, start, Write and Read answer it until a new configuration.
constexpr HRESULT kDecoderUnsupportedCodec = HRESULT_FROM_WIN32(50);
// Write, Read or start before a configuration was accepted.
constexpr HRESULT kDecoderNotConfigured = E_UNEXPECTED;
// libavcodec refused to open the decoder (0x8007000D, "The data is invalid.").
constexpr HRESULT kDecoderOpenFailed = HRESULT_FROM_WIN32(13);

// Errors in a row after which a loop that collects decoded frames stops asking the decoder: a
// bound for decoders that keep answering errors.
constexpr int kMaxDecodeErrorsInARow = 32;

// libavcodec decoder of a host video codec code; AV_CODEC_ID_NONE for codes it does not know.
// Screen video (both versions share one code) maps to AV_CODEC_ID_FLASHSV; the decoder picks the
// version from the stream.
AVCodecID VideoCodecId(LONG hostCodec) noexcept;
// libavcodec decoder of a host audio codec code; linear PCM codes give 8-bit unsigned when
// `bitsPerSample` is 8 and 16-bit little-endian otherwise.
AVCodecID AudioCodecId(LONG hostCodec, int bitsPerSample) noexcept;

// Frames smaller than this many pixels are decoded on the calling thread alone: handing them
// between libavcodec's threads costs more than decoding them.
constexpr long long kThreadedFrameArea = 320 * 240;

// libavcodec's own threads for a video decoder of frames of `width` x `height` (0 when not
// known): frame and slice threads, which keep output order and content, unless the frames are
// known to be small. Inline, so that a bare decoding program can use the same setting.
inline void SetVideoDecoderThreads(AVCodecContext* context, int width, int height) noexcept {
    if (width > 0 && height > 0 && static_cast<long long>(width) * height < kThreadedFrameArea) {
        context->thread_count = 1;
        return;
    }
    context->thread_count = 0;
    context->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
}

// The largest picture a video decoder accepts, in pixels: a little more than 8K UHD (7680 x
// 4320). A picture header can claim up to 65535 x 65535; without this bound a few bytes of a
// damaged or crafted file make the decoder clear gigabytes for one picture.
constexpr long long kMaxFramePixels = 8192LL * 4096;

// The data block of a host packet; empty when the packet has none.
std::span<const std::uint8_t> PacketBytes(IMediaPacket* packet) noexcept;

// Fills `packet` with a copy of `bytes` (with the zeroed padding libavcodec reads past the end).
// False when memory runs out.
[[nodiscard]] bool CopyToAvPacket(std::span<const std::uint8_t> bytes, AVPacket* packet) noexcept;

// Extradata for a codec context: a padded copy of `bytes`. False when memory runs out.
[[nodiscard]] bool SetCodecExtraData(AVCodecContext* context,
                                     const std::vector<std::uint8_t>& bytes) noexcept;

// The processor slots that mean nothing to a decoder: it has no position, no capabilities and
// (unless it overrides GetDuration) no duration. `kStreamType` is 1 for video, 2 for audio.
template <class Interface, LONG kStreamType>
class DecoderSlots : public Interface {
  public:
    HRESULT STDMETHODCALLTYPE GetStreamType(LONG* type) override {
        if (type == nullptr) return E_POINTER;
        *type = kStreamType;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCapabilities(LONG, ULONGLONG* capabilities) override {
        if (capabilities == nullptr) return E_POINTER;
        *capabilities = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDuration(double* ms) override { return Zero(ms); }
    HRESULT STDMETHODCALLTYPE GetTime(double* ms) override { return Zero(ms); }
    HRESULT STDMETHODCALLTYPE Seek(LONG, double) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Skip(LONG, double) override { return E_NOTIMPL; }

  private:
    static HRESULT Zero(double* ms) {
        if (ms == nullptr) return E_POINTER;
        *ms = 0.0;
        return S_OK;
    }
};

// Hands every frame the decoder has ready to `deliver` (which answers a result; a failure ends
// the loop and is answered). A frame the decoder reports as damaged is skipped; after
// kMaxDecodeErrorsInARow such reports in a row the loop stops asking.
template <class Deliver>
HRESULT ReceiveFrames(AVCodecContext* codec, AVFrame* frame, Deliver&& deliver) {
    int errorsInARow = 0;
    for (;;) {
        const int result = avcodec_receive_frame(codec, frame);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return S_OK;
        if (result == AVERROR(ENOMEM)) return E_OUTOFMEMORY;
        if (result < 0) {
            if (++errorsInARow >= kMaxDecodeErrorsInARow) return S_OK;
            continue;
        }
        errorsInARow = 0;
        const HRESULT hr = deliver(static_cast<const AVFrame*>(frame));
        av_frame_unref(frame);
        if (FAILED(hr)) return hr;
    }
}

// libavcodec reports every damaged frame on standard error; these decoders report through their
// results instead. Lowers the process's FFmpeg log level to fatal messages, once.
void QuietCodecLog() noexcept;

}  // namespace mediakit
