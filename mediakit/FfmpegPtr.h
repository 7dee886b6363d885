// Owners of FFmpeg objects: each deleter calls the library's own free function, so that a
// decoder's codec context, frames, packets, scalers and resamplers are released on every path.
#pragma once

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace mediakit {

struct CodecContextDeleter {
    void operator()(AVCodecContext* context) const noexcept { avcodec_free_context(&context); }
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const noexcept { av_frame_free(&frame); }
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const noexcept { av_packet_free(&packet); }
};
struct ParserDeleter {
    void operator()(AVCodecParserContext* parser) const noexcept { av_parser_close(parser); }
};
struct ScaleContextDeleter {
    void operator()(SwsContext* context) const noexcept { sws_freeContext(context); }
};
struct ResampleContextDeleter {
    void operator()(SwrContext* context) const noexcept { swr_free(&context); }
};

using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using ParserPtr = std::unique_ptr<AVCodecParserContext, ParserDeleter>;
using ScaleContextPtr = std::unique_ptr<SwsContext, ScaleContextDeleter>;
using ResampleContextPtr = std::unique_ptr<SwrContext, ResampleContextDeleter>;

}  // namespace mediakit

// The demuxer's context, for the benchmark programs (the Windows build has no libavformat).
#if __has_include(<libavformat/avformat.h>)
extern "C" {
#include <libavformat/avformat.h>
}

namespace mediakit {
struct FormatContextDeleter {
    void operator()(AVFormatContext* context) const noexcept { avformat_close_input(&context); }
};
using FormatContextPtr = std::unique_ptr<AVFormatContext, FormatContextDeleter>;
}  // namespace mediakit
#endif
