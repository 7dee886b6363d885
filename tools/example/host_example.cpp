// A minimal host of the FlashFile5 component: it creates the component by class identifier
// through the registry (register it first: flvhost register --user), opens an FLV file, reads
// a few video frames and some audio, and closes.
//
//   host_example FILE.flv
#include <cstdio>

#include "frame/Interfaces.h"          // IMediaSource, CLSID_FlashFile5
#include "mediakit/MediaInterfaces.h"  // IMediaParams, IMediaPacket, formats
#include "mediakit/MediaKit.h"         // MediaKitRegisterClasses
#include "platform/Bstr.h"
#include "platform/Com.h"
#include "platform/TextConvert.h"

namespace {
constexpr ULONGLONG kOpen = 1;
constexpr ULONGLONG kClose = 3;
constexpr LONG kFirstTrack = 0;

// Prints one packet's times and size; false when there was none (end of the track).
bool Show(const char* kind, IUnknown* data) {
    ComPtr<IMediaPacket> packet;
    if (data == nullptr || FAILED(QueryTo(data, packet))) return false;
    double time = 0.0, duration = 0.0;
    LONG size = 0;
    packet->GetTime(&time);
    packet->GetDuration(&duration);
    packet->GetSize(&size);
    std::printf("%s at %8.3f ms for %7.3f ms: %ld bytes\n", kind, time, duration,
                static_cast<long>(size));
    return true;
}

int Run(const char* file) {
    // 1. The host framework's components (parameter container, packets, decoders) in this
    //    process, where the component finds them by class identifier.
    if (FAILED(MediaKitRegisterClasses())) return 1;

    // 2. The component, by class identifier: CoCreateInstance finds its module through
    //    HKEY_CLASSES_ROOT\CLSID\{4782B4A0-...}\InprocServer32 and loads it.
    ComPtr<IMediaSource> source;
    HRESULT hr = CreateInstance(CLSID_FlashFile5, source);
    if (FAILED(hr)) {
        std::fprintf(stderr, "FlashFile5 not available (0x%08X): flvhost register --user\n",
                     static_cast<unsigned>(hr));
        return 1;
    }

    // 3. Open: a parameter container with the operation mode and the file name.
    ComPtr<IMediaParams> params;
    if (FAILED(CreateInstance(CLSID_MediaParams, params))) return 1;
    params->SetLong(Bstr(L"OperationMode").Get(), 0, 1);  // 1: reading
    params->SetString(Bstr(L"FileName").Get(), 0, Bstr(Utf8ToWide(file)).Get());
    hr = source->SendCommandEx(kOpen, params.Get(), nullptr);
    if (FAILED(hr)) {
        std::fprintf(stderr, "open failed (0x%08X)\n", static_cast<unsigned>(hr));
        return 1;
    }
    LONG videoTracks = 0, audioTracks = 0;
    double videoDuration = 0.0, audioDuration = 0.0;
    source->get_videoTracksCount(&videoTracks);
    source->get_audioTracksCount(&audioTracks);
    source->get_videoDuration(kFirstTrack, &videoDuration);
    source->get_audioDuration(kFirstTrack, &audioDuration);
    std::printf("%ld video track(s), %.3f ms; %ld audio track(s), %.3f ms\n",
                static_cast<long>(videoTracks), videoDuration, static_cast<long>(audioTracks),
                audioDuration);

    // 4. Five decoded frames (planar YUV 4:2:0 unless "DecodeColorSpace" says otherwise).
    for (int i = 0; i < 5 && videoTracks > 0; ++i) {
        ComPtr<IUnknown> frame;
        if (FAILED(source->ReadVideo(kFirstTrack, 0, frame.Put())) || !Show("frame", frame.Get())) {
            break;
        }
    }
    // 5. Half a second of 16-bit PCM in blocks of 100 ms, then a seek back to 0.
    for (int i = 0; i < 5 && audioTracks > 0; ++i) {
        ComPtr<IUnknown> pcm;
        if (FAILED(source->ReadAudio(kFirstTrack, 0, 100.0, pcm.Put())) ||
            !Show("audio", pcm.Get())) {
            break;
        }
    }
    if (audioTracks > 0) source->SeekAudio(kFirstTrack, 0, 0.0);

    // 6. Close; the ComPtrs release the objects.
    source->SendCommandEx(kClose, nullptr, nullptr);
    return 0;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: host_example FILE.flv\n");
        return 2;
    }
    // 0. COM for this thread, in a single-threaded apartment (the component's classes are
    //    apartment-threaded); every object is released before COM is left.
    const HRESULT initialised = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(initialised)) return 1;
    const int code = Run(argv[1]);
    CoUninitialize();
    return code;
}
