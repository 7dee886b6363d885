// bench_component MODE FILE [...]: the component measured in-process. mediakit and the three
// component classes are registered in this process and FlashFile5 is created by class
// identifier, as a host creates it. Modes:
//   open FILE [HASH]          one open (command 1), with "FileHash" HASH when given
//   walk FILE                 the index walk alone: CFLV_Manager::BuildIndex on an input stream
//   decode-video FILE [MS]    open with "OnlyVideoOpen", then ReadVideo until the end (or
//                             until a packet starts at MS milliseconds or later)
//   decode-audio FILE [MS]    open with "OnlyAudioOpen", then ReadAudio(100 ms) likewise
//   seek FILE COUNT DURATION  COUNT SeekVideo + ReadVideo pairs at bench::SeekTargets (the
//                             median of each pair's time, and the processor time of all)
//   first FILE HASH           time to first picture: an open with "FileHash" HASH, the first
//                             ReadVideo and the first ReadAudio of 100 ms
// Each prints "name=value" lines: the timed part's seconds and the peak resident memory. The
// decode modes time the reading alone ("seconds") and the open before it ("open_seconds").
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "flv/Header.h"
#include "flv/Manager.h"
#include "frame/ComponentModule.h"
#include "frame/Interfaces.h"
#include "io/InputStream.h"
#include "mediakit/MediaKit.h"
#include "platform/Bstr.h"
#include "platform/Com.h"
#include "platform/TextConvert.h"
#include "source/FlashFile5.h"
#include "streams/AudioStream.h"
#include "streams/VideoStream.h"

namespace {

template <class Class>
bool Register(REFCLSID clsid) {
    ComPtr<IClassFactory> factory;
    factory.Attach(new ClassFactory<Class>(&ComponentModule()));
    DWORD cookie = 0;
    return SUCCEEDED(CoRegisterClassObject(clsid, factory.Get(), CLSCTX_INPROC_SERVER,
                                           REGCLS_MULTIPLEUSE, &cookie));
}

bool RegisterClasses() {
    return SUCCEEDED(MediaKitRegisterClasses()) && Register<CFlashFile5>(CLSID_FlashFile5) &&
           Register<CFlashVideoStream5>(CLSID_FlashVideoStream5) &&
           Register<CFlashAudioStream5>(CLSID_FlashAudioStream5);
}

// Opens `file` in a new source object; null when anything fails.
ComPtr<IMediaSource> OpenSource(const char* file, const char* hash, const wchar_t* only) {
    ComPtr<IMediaSource> source;
    ComPtr<IMediaParams> params;
    if (FAILED(CreateInstance(CLSID_FlashFile5, source)) ||
        FAILED(CreateInstance(CLSID_MediaParams, params))) {
        return nullptr;
    }
    (void)params->SetLong(Bstr(L"OperationMode").Get(), 0, 1);
    (void)params->SetString(Bstr(L"FileName").Get(), 0, Bstr(Utf8ToWide(file)).Get());
    if (hash != nullptr) {
        (void)params->SetString(Bstr(L"FileHash").Get(), 0, Bstr(Utf8ToWide(hash)).Get());
    }
    if (only != nullptr) (void)params->SetBool(Bstr(only).Get(), 0, VARIANT_TRUE);
    if (FAILED(source->SendCommandEx(1, params.Get(), nullptr))) return nullptr;
    return source;
}

LONG Count(HRESULT (IMediaSource::*getter)(LONG*), IMediaSource* source) {
    LONG count = 0;
    (void)(source->*getter)(&count);
    return count;
}

int Open(const char* file, const char* hash) {
    const double start = bench::Now();
    const double cpuStart = bench::CpuSeconds();
    ComPtr<IMediaSource> source = OpenSource(file, hash, nullptr);
    const double seconds = bench::Now() - start;
    if (!source) return 1;
    bench::Report("seconds", seconds);
    bench::Report("cpu_seconds", bench::CpuSeconds() - cpuStart);
    bench::Report("video_tracks", Count(&IMediaSource::get_videoTracksCount, source.Get()));
    bench::Report("audio_tracks", Count(&IMediaSource::get_audioTracksCount, source.Get()));
    return 0;
}

int Walk(const char* file) {
    const double start = bench::Now();
    const double cpuStart = bench::CpuSeconds();
    CInputStream input;
    input.Open(Utf8ToWide(file));
    CFLV_Header header;
    std::uint32_t previousTagSize = 0;
    if (!header.Read(input) || !input.ReadValue(previousTagSize, FieldType::UI32)) return 1;
    CFLV_Manager manager;
    manager.BuildIndex(nullptr, input);
    const double seconds = bench::Now() - start;
    bench::Report("seconds", seconds);
    bench::Report("cpu_seconds", bench::CpuSeconds() - cpuStart);
    bench::Report("entries",
                  static_cast<long long>(manager.videoIndex.size() + manager.audioIndex.size()));
    return 0;
}

// The start time of a packet; 0 when it has none.
double StartOf(IUnknown* data) {
    ComPtr<IMediaPacket> packet;
    double time = 0.0;
    if (SUCCEEDED(ComPtr<IUnknown>(data).As(packet))) (void)packet->GetTime(&time);
    return time;
}

int DecodeVideo(const char* file, double limitMs) {
    const double openStart = bench::Now();
    ComPtr<IMediaSource> source = OpenSource(file, nullptr, L"OnlyVideoOpen");
    if (!source) return 1;
    const double start = bench::Now();
    const double cpuStart = bench::CpuSeconds();
    long long frames = 0;
    for (;;) {
        ComPtr<IUnknown> data;
        if (FAILED(source->ReadVideo(0, 0, data.Put())) || !data) break;
        if (StartOf(data.Get()) >= limitMs) break;
        ++frames;
    }
    bench::Report("seconds", bench::Now() - start);
    bench::Report("cpu_seconds", bench::CpuSeconds() - cpuStart);
    bench::Report("open_seconds", start - openStart);
    bench::Report("total_seconds", bench::Now() - openStart);
    bench::Report("frames", frames);
    return 0;
}

int DecodeAudio(const char* file, double limitMs) {
    const double openStart = bench::Now();
    ComPtr<IMediaSource> source = OpenSource(file, nullptr, L"OnlyAudioOpen");
    if (!source) return 1;
    const double start = bench::Now();
    const double cpuStart = bench::CpuSeconds();
    long long packets = 0;
    long long bytes = 0;
    for (;;) {
        ComPtr<IUnknown> data;
        if (FAILED(source->ReadAudio(0, 0, 100.0, data.Put())) || !data) break;
        if (StartOf(data.Get()) >= limitMs) break;
        ComPtr<IMediaPacket> packet;
        LONG size = 0;
        if (SUCCEEDED(data.As(packet))) (void)packet->GetSize(&size);
        ++packets;
        bytes += size;
    }
    bench::Report("seconds", bench::Now() - start);
    bench::Report("cpu_seconds", bench::CpuSeconds() - cpuStart);
    bench::Report("open_seconds", start - openStart);
    bench::Report("total_seconds", bench::Now() - openStart);
    bench::Report("packets", packets);
    bench::Report("pcm_bytes", bytes);
    return 0;
}

int Seek(const char* file, int count, double durationMs) {
    ComPtr<IMediaSource> source = OpenSource(file, nullptr, L"OnlyVideoOpen");
    if (!source) return 1;
    std::vector<double> times;
    const double cpuStart = bench::CpuSeconds();
    for (const double target : bench::SeekTargets(count, durationMs)) {
        const double start = bench::Now();
        ComPtr<IUnknown> data;
        if (FAILED(source->SeekVideo(0, 0, target)) ||
            FAILED(source->ReadVideo(0, 0, data.Put())) || !data) {
            std::fprintf(stderr, "seek to %.0f ms failed\n", target);
            return 1;
        }
        times.push_back(bench::Now() - start);
    }
    double total = 0.0;
    for (const double time : times) total += time;
    bench::Report("median_seconds", bench::Median(times));
    bench::Report("mean_seconds", times.empty() ? 0.0 : total / static_cast<double>(times.size()));
    bench::Report("cpu_seconds", bench::CpuSeconds() - cpuStart);
    return 0;
}

int First(const char* file, const char* hash) {
    const double start = bench::Now();
    const double cpuStart = bench::CpuSeconds();
    ComPtr<IMediaSource> source = OpenSource(file, hash, nullptr);
    if (!source) return 1;
    ComPtr<IUnknown> picture;
    ComPtr<IUnknown> sound;
    if (FAILED(source->ReadVideo(0, 0, picture.Put())) || !picture ||
        FAILED(source->ReadAudio(0, 0, 100.0, sound.Put())) || !sound) {
        return 1;
    }
    bench::Report("seconds", bench::Now() - start);
    bench::Report("cpu_seconds", bench::CpuSeconds() - cpuStart);
    return 0;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: bench_component open FILE [HASH] | walk FILE | decode-video FILE [MS] |\n"
                 "       decode-audio FILE [MS] | seek FILE COUNT DURATION_MS | first FILE HASH\n");
    return 2;
}

int Run(int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string mode = argv[1];
    const char* file = argv[2];
    if (mode == "walk" && argc == 3) return Walk(file);
    if (!RegisterClasses()) {
        std::fprintf(stderr, "class registration failed\n");
        return 1;
    }
    if (mode == "open" && argc <= 4) return Open(file, argc == 4 ? argv[3] : nullptr);
    if (mode == "first" && argc == 4) return First(file, argv[3]);
    const double limitMs = argc == 4 ? std::atof(argv[3]) : std::numeric_limits<double>::infinity();
    if (mode == "decode-video" && argc <= 4) return DecodeVideo(file, limitMs);
    if (mode == "decode-audio" && argc <= 4) return DecodeAudio(file, limitMs);
    if (mode == "seek" && argc == 5) return Seek(file, std::atoi(argv[3]), std::atof(argv[4]));
    return Usage();
}

}  // namespace

int main(int argc, char** argv) {
    const int result = Run(argc, argv);
    if (result == 0) bench::Report("rss_kib", bench::PeakRssKiB());
    return result;
}
