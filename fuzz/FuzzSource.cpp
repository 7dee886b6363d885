#include "fuzz/FuzzSource.h"

#include <limits>

#include "frame/ComponentModule.h"
#include "frame/ErrorSupport.h"
#include "fuzz/FuzzSupport.h"
#include "mediakit/MediaInterfaces.h"
#include "platform/Bstr.h"
#include "platform/Com.h"
#include "source/FlashFile5.h"
#include "streams/AudioStream.h"
#include "streams/VideoStream.h"

namespace {
constexpr LONG kCurrentTrack = -1;
constexpr double kAudioReadMs = 100.0;

template <class Class>
void RegisterClass(REFCLSID clsid) {
    ComPtr<IClassFactory> factory;
    factory.Attach(new ClassFactory<Class>(&ComponentModule()));
    DWORD cookie = 0;
    FUZZ_CHECK(CoRegisterClassObject(clsid, factory.Get(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                     &cookie) == S_OK);
}

void Check(HRESULT hr) {
    if (!IsKnownComponentResult(hr)) {
        std::fprintf(stderr, "unexpected result 0x%08X\n", static_cast<unsigned>(hr));
        FUZZ_CHECK(IsKnownComponentResult(hr));
    }
}

// Reads up to `limit` packets of one kind; stops at the end (no packet) or a failure. Packets
// follow each other on a timeline that never runs back, each lasting no less than nothing.
std::size_t ReadPackets(IMediaSource* source, bool video, std::size_t limit) {
    std::size_t count = 0;
    double previousTime = -std::numeric_limits<double>::infinity();
    for (; count < limit; ++count) {
        ComPtr<IUnknown> data;
        const HRESULT hr = video ? source->ReadVideo(kCurrentTrack, 0, data.Put())
                                 : source->ReadAudio(kCurrentTrack, 0, kAudioReadMs, data.Put());
        Check(hr);
        if (FAILED(hr) || !data) break;
        ComPtr<IMediaPacket> packet;
        FUZZ_CHECK(data.As(packet) == S_OK);
        double time = 0.0;
        double duration = 0.0;
        FUZZ_CHECK(packet->GetTime(&time) == S_OK && packet->GetDuration(&duration) == S_OK);
        FUZZ_CHECK(duration >= 0.0 && time >= previousTime);
        previousTime = time;
    }
    return count;
}

void SeekAndRead(IMediaSource* source, bool video, double time) {
    Check(video ? source->SeekVideo(kCurrentTrack, 0, time)
                : source->SeekAudio(kCurrentTrack, 0, time));
    (void)ReadPackets(source, video, 2);
}
}  // namespace

void RegisterComponent() {
    static const bool registered = [] {
        RegisterMediaKit();
        RegisterClass<CFlashFile5>(CLSID_FlashFile5);
        RegisterClass<CFlashVideoStream5>(CLSID_FlashVideoStream5);
        RegisterClass<CFlashAudioStream5>(CLSID_FlashAudioStream5);
        return true;
    }();
    (void)registered;
}

bool IsKnownComponentResult(HRESULT hr) {
    return hr == S_OK || hr == S_FALSE || hr == E_FAIL || hr == E_POINTER || hr == E_OUTOFMEMORY ||
           ErrorRowForResult(hr) != nullptr;
}

ComPtr<IMediaSource> OpenSource(const std::wstring& path, const wchar_t* hash) {
    ComPtr<IMediaSource> source;
    FUZZ_CHECK(CreateInstance(CLSID_FlashFile5, source) == S_OK);
    ComPtr<IMediaParams> params;
    FUZZ_CHECK(CreateInstance(CLSID_MediaParams, params) == S_OK);
    FUZZ_CHECK(params->SetLong(Bstr(L"OperationMode").Get(), 0, 1) == S_OK);
    FUZZ_CHECK(params->SetString(Bstr(L"FileName").Get(), 0, Bstr(path).Get()) == S_OK);
    if (hash != nullptr) {
        FUZZ_CHECK(params->SetString(Bstr(L"FileHash").Get(), 0, Bstr(hash).Get()) == S_OK);
    }
    const HRESULT hr = source->SendCommandEx(CFlashFile5::kCommandOpen, params.Get(), nullptr);
    Check(hr);
    if (FAILED(hr)) return {};
    return source;
}

TrackReading ReadTracks(IMediaSource* source, std::size_t limit) {
    TrackReading reading;
    LONG count = 0;
    Check(source->get_videoTracksCount(&count));
    reading.videoTracks = count;
    count = 0;
    Check(source->get_audioTracksCount(&count));
    reading.audioTracks = count;
    if (reading.videoTracks > 0) {
        Check(source->get_videoDuration(kCurrentTrack, &reading.videoDuration));
        reading.videoPackets = ReadPackets(source, true, limit);
        SeekAndRead(source, true, reading.videoDuration / 2);
        SeekAndRead(source, true, reading.videoDuration + 1000.0);
        SeekAndRead(source, true, -1000.0);
    }
    if (reading.audioTracks > 0) {
        Check(source->get_audioDuration(kCurrentTrack, &reading.audioDuration));
        reading.audioPackets = ReadPackets(source, false, limit);
        SeekAndRead(source, false, reading.audioDuration / 2);
        SeekAndRead(source, false, reading.audioDuration + 1000.0);
        SeekAndRead(source, false, -1000.0);
    }
    ComPtr<IFlashFile5> file;
    FUZZ_CHECK(ComPtr<IMediaSource>(source).As(file) == S_OK);
    Check(file->ReOpenFile());
    if (reading.videoTracks > 0) (void)ReadPackets(source, true, 2);
    if (reading.audioTracks > 0) (void)ReadPackets(source, false, 2);
    return reading;
}
