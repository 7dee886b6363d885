// What both decoders share: their result codes, the codec tables from host codes to libavcodec
// decoders, and the step from a host packet to an AVPacket.
#pragma once

#include <cstdint>
#include <new>
#include <span>
#include <vector>

#include "mediakit/FfmpegPtr.h"
#include "mediakit/MediaInterfaces.h"

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

// The data block of a host packet; empty when the packet has none.
std::span<const std::uint8_t> PacketBytes(IMediaPacket* packet) noexcept;

// Fills `packet` with a copy of `bytes` (with the zeroed padding libavcodec reads past the end).
// False when memory runs out.
[[nodiscard]] bool CopyToAvPacket(std::span<const std::uint8_t> bytes, AVPacket* packet) noexcept;

// Extradata for a codec context: a padded copy of `bytes`. False when memory runs out.
[[nodiscard]] bool SetCodecExtraData(AVCodecContext* context,
                                     const std::vector<std::uint8_t>& bytes) noexcept;

// libavcodec reports every damaged frame on standard error; these decoders report through their
// results instead. Lowers the process's FFmpeg log level to fatal messages, once.
void QuietCodecLog() noexcept;

// Runs `body` and turns an escaping exception into a result: the edge of every interface method.
template <class Body>
HRESULT GuardedCall(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

}  // namespace mediakit
