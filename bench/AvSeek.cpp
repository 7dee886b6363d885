// bench_avseek FILE COUNT DURATION_MS: the bare seek that the component's SeekVideo + ReadVideo is
// measured against. libavformat's index is built first by one pass over the file (untimed, as
// the component's index is built by its open); then for each target (bench::SeekTargets) it
// seeks to the keyframe at or before the target, flushes the decoder and decodes forward until
// a frame covers the target. Same thread setting as mediakit's video decoder. Reports the median
// time of a seek and the processor time (all threads) of all of them.
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "bench/BenchSupport.h"
#include "mediakit/DecoderSupport.h"
#include "mediakit/FfmpegPtr.h"

using mediakit::CodecContextPtr;
using mediakit::FramePtr;
using mediakit::PacketPtr;

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench_avseek FILE COUNT DURATION_MS\n");
        return 2;
    }
    const int count = std::atoi(argv[2]);
    const double durationMs = std::atof(argv[3]);
    av_log_set_level(AV_LOG_FATAL);

    AVFormatContext* opened = nullptr;
    if (avformat_open_input(&opened, argv[1], nullptr, nullptr) < 0) return 1;
    mediakit::FormatContextPtr format(opened);
    if (avformat_find_stream_info(format.get(), nullptr) < 0) return 1;
    const AVCodec* decoder = nullptr;
    const int index = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (index < 0 || decoder == nullptr) return 1;
    AVStream* stream = format->streams[index];
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        if (static_cast<int>(i) != index) format->streams[i]->discard = AVDISCARD_ALL;
    }
    CodecContextPtr codec(avcodec_alloc_context3(decoder));
    if (!codec || avcodec_parameters_to_context(codec.get(), stream->codecpar) < 0) return 1;
    mediakit::SetVideoDecoderThreads(codec.get(), codec->width, codec->height);
    if (avcodec_open2(codec.get(), decoder, nullptr) < 0) return 1;

    PacketPtr packet(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    // The index: one pass over the file adds every keyframe.
    while (av_read_frame(format.get(), packet.get()) >= 0) av_packet_unref(packet.get());

    const AVRational rate =
        stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate : stream->r_frame_rate;
    const double frameMs = rate.num > 0 ? 1000.0 * rate.den / rate.num : 40.0;
    const AVRational milliseconds{1, 1000};
    std::vector<double> times;
    long long decoded = 0;
    const double cpuStart = bench::CpuSeconds();
    for (const double target : bench::SeekTargets(count, durationMs)) {
        const double start = bench::Now();
        const std::int64_t timestamp =
            av_rescale_q(static_cast<std::int64_t>(target), milliseconds, stream->time_base);
        if (av_seek_frame(format.get(), index, timestamp, AVSEEK_FLAG_BACKWARD) < 0) return 1;
        avcodec_flush_buffers(codec.get());
        bool covered = false;
        bool ended = false;
        while (!covered) {
            if (!ended && av_read_frame(format.get(), packet.get()) >= 0) {
                if (packet->stream_index == index)
                    (void)avcodec_send_packet(codec.get(), packet.get());
                av_packet_unref(packet.get());
            } else if (!ended) {
                ended = true;
                (void)avcodec_send_packet(codec.get(), nullptr);
            }
            bool received = false;
            while (!covered && avcodec_receive_frame(codec.get(), frame.get()) == 0) {
                received = true;
                ++decoded;
                const double time = static_cast<double>(
                    av_rescale_q(frame->best_effort_timestamp, stream->time_base, milliseconds));
                covered = time + frameMs > target;
                av_frame_unref(frame.get());
            }
            if (ended && !received) break;
        }
        times.push_back(bench::Now() - start);
    }
    double total = 0.0;
    for (const double time : times) total += time;
    bench::Report("median_seconds", bench::Median(times));
    bench::Report("mean_seconds", times.empty() ? 0.0 : total / static_cast<double>(times.size()));
    bench::Report("cpu_seconds", bench::CpuSeconds() - cpuStart);
    bench::Report("frames_decoded", decoded);
    bench::Report("rss_kib", bench::PeakRssKiB());
    return 0;
}
