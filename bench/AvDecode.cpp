// bench_avdecode FILE video|audio [MS]: the bare decode loop that the component's decode is
// measured against (up to the first packet at MS milliseconds or later, when given).
// libavformat demuxes the file (the other kind of stream discarded) and libavcodec decodes every
// packet of the chosen stream, with the thread setting of mediakit's decoders (video:
// SetVideoDecoderThreads; audio: the defaults). "seconds" times the demux and decode loop; the
// opening of the file and the decoder before it is "open_seconds".
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "bench/BenchSupport.h"
#include "mediakit/DecoderSupport.h"
#include "mediakit/FfmpegPtr.h"

using mediakit::CodecContextPtr;
using mediakit::FramePtr;
using mediakit::PacketPtr;

namespace {
// Drains what the decoder holds; returns the number of frames received.
long long Receive(AVCodecContext* codec, AVFrame* frame) {
    long long frames = 0;
    while (avcodec_receive_frame(codec, frame) == 0) {
        ++frames;
        av_frame_unref(frame);
    }
    return frames;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4 ||
        (std::strcmp(argv[2], "video") != 0 && std::strcmp(argv[2], "audio") != 0)) {
        std::fprintf(stderr, "usage: bench_avdecode FILE video|audio [MS]\n");
        return 2;
    }
    const bool video = std::strcmp(argv[2], "video") == 0;
    const double limitMs = argc == 4 ? std::atof(argv[3]) : std::numeric_limits<double>::infinity();
    av_log_set_level(AV_LOG_FATAL);
    const double openStart = bench::Now();

    AVFormatContext* opened = nullptr;
    if (avformat_open_input(&opened, argv[1], nullptr, nullptr) < 0) return 1;
    mediakit::FormatContextPtr format(opened);
    if (avformat_find_stream_info(format.get(), nullptr) < 0) return 1;
    const AVCodec* decoder = nullptr;
    const int index = av_find_best_stream(
        format.get(), video ? AVMEDIA_TYPE_VIDEO : AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (index < 0 || decoder == nullptr) return 1;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        if (static_cast<int>(i) != index) format->streams[i]->discard = AVDISCARD_ALL;
    }
    CodecContextPtr codec(avcodec_alloc_context3(decoder));
    if (!codec ||
        avcodec_parameters_to_context(codec.get(), format->streams[index]->codecpar) < 0) {
        return 1;
    }
    if (video) {
        mediakit::SetVideoDecoderThreads(codec.get(), codec->width, codec->height);
    }
    // The component's audio decoder opens its codec at the first payload, inside the reading
    // that is timed; so is the opening of this audio decoder. A video decoder opens in both
    // before the reading.
    double start = bench::Now();
    double cpuStart = bench::CpuSeconds();
    if (avcodec_open2(codec.get(), decoder, nullptr) < 0) return 1;

    PacketPtr packet(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    if (video) {
        start = bench::Now();
        cpuStart = bench::CpuSeconds();
    }
    long long packets = 0;
    long long frames = 0;
    while (av_read_frame(format.get(), packet.get()) >= 0) {
        if (packet->stream_index == index) {
            const AVRational milliseconds{1, 1000};
            const AVRational base = format->streams[index]->time_base;
            if (packet->pts != AV_NOPTS_VALUE &&
                static_cast<double>(av_rescale_q(packet->pts, base, milliseconds)) >= limitMs) {
                av_packet_unref(packet.get());
                break;
            }
            ++packets;
            if (avcodec_send_packet(codec.get(), packet.get()) == AVERROR(EAGAIN)) {
                frames += Receive(codec.get(), frame.get());
                (void)avcodec_send_packet(codec.get(), packet.get());
            }
            frames += Receive(codec.get(), frame.get());
        }
        av_packet_unref(packet.get());
    }
    (void)avcodec_send_packet(codec.get(), nullptr);
    frames += Receive(codec.get(), frame.get());
    const double seconds = bench::Now() - start;

    bench::Report("seconds", seconds);
    bench::Report("cpu_seconds", bench::CpuSeconds() - cpuStart);
    bench::Report("open_seconds", start - openStart);
    bench::Report("total_seconds", bench::Now() - openStart);
    bench::Report("packets", packets);
    bench::Report("frames", frames);
    bench::Report("rss_kib", bench::PeakRssKiB());
    return 0;
}
