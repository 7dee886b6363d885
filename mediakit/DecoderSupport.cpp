#include "mediakit/DecoderSupport.h"

#include <cstring>
#include <limits>
#include <mutex>

namespace mediakit {

AVCodecID VideoCodecId(LONG hostCodec) noexcept {
    switch (hostCodec) {
        case kVideoCodecSorenson:
            return AV_CODEC_ID_FLV1;
        case kVideoCodecScreen:
            return AV_CODEC_ID_FLASHSV;
        case kVideoCodecVp6:
            return AV_CODEC_ID_VP6F;
        case kVideoCodecVp6Alpha:
            return AV_CODEC_ID_VP6A;
        case kVideoCodecH264:
            return AV_CODEC_ID_H264;
        default:
            return AV_CODEC_ID_NONE;
    }
}

AVCodecID AudioCodecId(LONG hostCodec, int bitsPerSample) noexcept {
    switch (hostCodec) {
        case kAudioCodecPcmLittleEndian16:
        case kAudioCodecPcmPlatform16:
            // "Platform" byte order is little-endian on every platform this runs on.
            return bitsPerSample == 8 ? AV_CODEC_ID_PCM_U8 : AV_CODEC_ID_PCM_S16LE;
        case kAudioCodecPcm8:
            return AV_CODEC_ID_PCM_U8;
        case kAudioCodecG711ALaw:
            return AV_CODEC_ID_PCM_ALAW;
        case kAudioCodecG711MuLaw:
            return AV_CODEC_ID_PCM_MULAW;
        case kAudioCodecAdpcm:
            return AV_CODEC_ID_ADPCM_SWF;
        case kAudioCodecMp3:
            return AV_CODEC_ID_MP3;
        case kAudioCodecAac:
            return AV_CODEC_ID_AAC;
        case kAudioCodecNellymoser:
            return AV_CODEC_ID_NELLYMOSER;
        case kAudioCodecSpeex:
            return AV_CODEC_ID_SPEEX;
        default:
            return AV_CODEC_ID_NONE;
    }
}

std::span<const std::uint8_t> PacketBytes(IMediaPacket* packet) noexcept {
    if (packet == nullptr) return {};
    BYTE* data = nullptr;
    LONG size = 0;
    if (FAILED(packet->GetSize(&size)) || size <= 0) return {};
    if (FAILED(packet->GetData(&data)) || data == nullptr) return {};
    return {data, static_cast<std::size_t>(size)};
}

bool CopyToAvPacket(std::span<const std::uint8_t> bytes, AVPacket* packet) noexcept {
    // The block of the last copy is taken again when nothing else holds it any more (the decoder
    // has let go of it) and it is large enough: no allocation and no zeroing a packet.
    AVBufferRef* block = packet->buf;
    packet->buf = nullptr;
    av_packet_unref(packet);
    if (bytes.size() >
        static_cast<std::size_t>(std::numeric_limits<int>::max()) - AV_INPUT_BUFFER_PADDING_SIZE) {
        av_buffer_unref(&block);
        return false;
    }
    const int size = static_cast<int>(bytes.size());
    if (block != nullptr &&
        (av_buffer_is_writable(block) == 0 ||
         static_cast<std::size_t>(block->size) < bytes.size() + AV_INPUT_BUFFER_PADDING_SIZE)) {
        av_buffer_unref(&block);
    }
    if (block == nullptr) {
        if (av_new_packet(packet, size) < 0) return false;
    } else {
        packet->buf = block;
        packet->data = block->data;
        packet->size = size;
        std::memset(packet->data + size, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    }
    if (!bytes.empty()) std::memcpy(packet->data, bytes.data(), bytes.size());
    return true;
}

bool SetCodecExtraData(AVCodecContext* context, const std::vector<std::uint8_t>& bytes) noexcept {
    av_freep(&context->extradata);
    context->extradata_size = 0;
    if (bytes.empty()) return true;
    if (bytes.size() >
        static_cast<std::size_t>(std::numeric_limits<int>::max()) - AV_INPUT_BUFFER_PADDING_SIZE) {
        return false;
    }
    auto* block =
        static_cast<std::uint8_t*>(av_mallocz(bytes.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (block == nullptr) return false;
    std::memcpy(block, bytes.data(), bytes.size());
    context->extradata = block;
    context->extradata_size = static_cast<int>(bytes.size());
    return true;
}

void QuietCodecLog() noexcept {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_FATAL); });
}

}  // namespace mediakit
