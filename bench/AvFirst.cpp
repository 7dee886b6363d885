// bench_avfirst FILE: the bare program that the component's time to first picture is measured
// against. It does what a player on libavformat and libavcodec does before it can show
// anything: opens the file and learns its streams (avformat_find_stream_info), opens a video and
// an audio decoder (the video one with the thread setting of mediakit's decoder), and reads
// packets until the first picture and the first 100 ms of sound are decoded. "seconds" times all
// of it, from the open of the file.
#include <cstdio>

#include "bench/BenchSupport.h"
#include "mediakit/DecoderSupport.h"
#include "mediakit/FfmpegPtr.h"

using mediakit::CodecContextPtr;
using mediakit::FramePtr;
using mediakit::PacketPtr;

namespace {
constexpr double kSoundWantedMs = 100.0;

// Opens a decoder for stream `index` of `format`; null when it cannot be had.
CodecContextPtr OpenDecoder(AVFormatContext* format, int index, bool video) {
    const AVCodecParameters* parameters = format->streams[index]->codecpar;
    const AVCodec* decoder = avcodec_find_decoder(parameters->codec_id);
    if (decoder == nullptr) return nullptr;
    CodecContextPtr codec(avcodec_alloc_context3(decoder));
    if (!codec || avcodec_parameters_to_context(codec.get(), parameters) < 0) return nullptr;
    if (video) mediakit::SetVideoDecoderThreads(codec.get(), codec->width, codec->height);
    if (avcodec_open2(codec.get(), decoder, nullptr) < 0) return nullptr;
    return codec;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_avfirst FILE\n");
        return 2;
    }
    av_log_set_level(AV_LOG_FATAL);
    const double start = bench::Now();
    const double cpuStart = bench::CpuSeconds();

    AVFormatContext* opened = nullptr;
    if (avformat_open_input(&opened, argv[1], nullptr, nullptr) < 0) return 1;
    mediakit::FormatContextPtr format(opened);
    if (avformat_find_stream_info(format.get(), nullptr) < 0) return 1;
    const int videoIndex =
        av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const int audioIndex =
        av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (videoIndex < 0 || audioIndex < 0) return 1;
    CodecContextPtr video = OpenDecoder(format.get(), videoIndex, true);
    CodecContextPtr audio = OpenDecoder(format.get(), audioIndex, false);
    if (!video || !audio) return 1;

    PacketPtr packet(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    bool picture = false;
    long long samples = 0;
    const long long samplesWanted =
        static_cast<long long>(kSoundWantedMs * audio->sample_rate / 1000.0);
    while ((!picture || samples < samplesWanted) &&
           av_read_frame(format.get(), packet.get()) >= 0) {
        if (packet->stream_index == videoIndex && !picture) {
            (void)avcodec_send_packet(video.get(), packet.get());
            if (avcodec_receive_frame(video.get(), frame.get()) == 0) {
                picture = true;
                av_frame_unref(frame.get());
            }
        } else if (packet->stream_index == audioIndex && samples < samplesWanted) {
            (void)avcodec_send_packet(audio.get(), packet.get());
            while (avcodec_receive_frame(audio.get(), frame.get()) == 0) {
                samples += frame->nb_samples;
                av_frame_unref(frame.get());
            }
        }
        av_packet_unref(packet.get());
    }
    if (!picture) {
        // A decoder with frame threads hands out its first picture once its input ends.
        (void)avcodec_send_packet(video.get(), nullptr);
        picture = avcodec_receive_frame(video.get(), frame.get()) == 0;
    }
    if (!picture || samples < samplesWanted) return 1;
    bench::Report("seconds", bench::Now() - start);
    bench::Report("cpu_seconds", bench::CpuSeconds() - cpuStart);
    bench::Report("audio_samples", samples);
    bench::Report("rss_kib", bench::PeakRssKiB());
    return 0;
}
