#include "fuzz/FuzzSupport.h"

#ifndef _WIN32
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <limits>

#include "frame/ComponentModule.h"
#include "frame/ErrorSupport.h"
#include "mediakit/MediaKit.h"
#include "platform/Com.h"
#include "platform/TextConvert.h"
#include "source/FlashFile5.h"
#include "streams/AudioStream.h"
#include "streams/VideoStream.h"

namespace {
#ifndef _WIN32
// The private folder, removed at exit. (The fuzz targets run on the stand-in only; the Windows
// test programs use the rest of this file.)
struct PrivateFolders {
    PrivateFolders() {
        const char* tmp = std::getenv("TMPDIR");
        const std::filesystem::path base =
            std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : (tmp ? tmp : "/tmp");
        root = base / ("flv-fuzz-" + std::to_string(::getpid()));
        std::filesystem::remove_all(root);
        std::filesystem::create_directories(root / "data");
        std::filesystem::create_directories(root / "run");
        data = (root / "data").string();
        ::setenv("XDG_DATA_HOME", data.c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", (root / "run").c_str(), 1);
    }
    ~PrivateFolders() {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    std::filesystem::path root;
    std::string data;
};
#endif

constexpr LONG kCurrentTrack = -1;

template <class Class>
bool RegisterClass(REFCLSID clsid) {
    ComPtr<IClassFactory> factory;
    factory.Attach(new ClassFactory<Class>(&ComponentModule()));
    DWORD cookie = 0;
    return CoRegisterClassObject(clsid, factory.Get(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                 &cookie) == S_OK;
}

HRESULT Check(HRESULT hr) {
    if (!IsKnownComponentResult(hr)) {
        std::fprintf(stderr, "unexpected result 0x%08X\n", static_cast<unsigned>(hr));
        FUZZ_CHECK(IsKnownComponentResult(hr));
    }
    return hr;
}
}  // namespace

#ifndef _WIN32
MemoryFile::MemoryFile() {
    descriptor_ = ::memfd_create("fuzz-input", 0);
    FUZZ_CHECK(descriptor_ >= 0);
    path_ = L"/proc/self/fd/" + std::to_wstring(descriptor_);
}

MemoryFile::~MemoryFile() {
    if (descriptor_ >= 0) ::close(descriptor_);
}

void MemoryFile::Assign(const std::uint8_t* data, std::size_t size) {
    FUZZ_CHECK(::ftruncate(descriptor_, 0) == 0);
    size_ = 0;
    Append(data, size);
}

void MemoryFile::Open(CInputStream& input) const {
    input.Open(path_);
    FUZZ_CHECK(input.IsOpen());
}

// A memory file takes every write whole.
void MemoryFile::Append(const std::uint8_t* data, std::size_t size) {
    FUZZ_CHECK(::pwrite(descriptor_, data, size, static_cast<off_t>(size_)) ==
               static_cast<ssize_t>(size));
    size_ += size;
}

const std::string& UsePrivateFolders() {
    static const PrivateFolders folders;
    return folders.data;
}
#endif

void RegisterMediaKit() {
    static const bool registered = MediaKitRegisterClasses() == S_OK;
    FUZZ_CHECK(registered);
}

std::filesystem::path CacheFilePath(const std::filesystem::path& dataHome, char kind,
                                    const std::string& hash) {
    return dataHome / "Veltrano" / "FileCache" /
           (std::string("zevflashfile-5-0-1-207-") + kind + "-" + hash + ".cache");
}

ComPtr<IMediaParams> NewContainer() {
    RegisterMediaKit();
    ComPtr<IMediaParams> params;
    FUZZ_CHECK(CreateInstance(CLSID_MediaParams, params) == S_OK);
    return params;
}

std::string StreamBytes(IStream* stream) {
    ULARGE_INTEGER end{};
    FUZZ_CHECK(stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_END, &end) == S_OK);
    FUZZ_CHECK(stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr) == S_OK);
    std::string bytes(end.QuadPart, '\0');
    ULONG read = 0;
    FUZZ_CHECK(stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read) == S_OK);
    FUZZ_CHECK(read == bytes.size());
    return bytes;
}

ComPtr<IStream> MemoryStreamOf(std::string_view bytes) {
    ComPtr<IStream> stream;
    FUZZ_CHECK(CreateStreamOnHGlobal(nullptr, TRUE, stream.Put()) == S_OK);
    FUZZ_CHECK(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr) == S_OK);
    FUZZ_CHECK(stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr) == S_OK);
    return stream;
}

void WalkFile(const std::filesystem::path& path, CFLV_Manager& manager) {
    CInputStream input;
    input.Open(Utf8ToWide(path.string()));
    if (input.SeekTo(CFLV_Header::kFirstTagOffset)) manager.BuildIndex(nullptr, input);
}

void RegisterComponent() {
    RegisterMediaKit();
    static const bool registered = RegisterClass<CFlashFile5>(CLSID_FlashFile5) &&
                                   RegisterClass<CFlashVideoStream5>(CLSID_FlashVideoStream5) &&
                                   RegisterClass<CFlashAudioStream5>(CLSID_FlashAudioStream5);
    FUZZ_CHECK(registered);
}

bool IsKnownComponentResult(HRESULT hr) {
    return hr == S_OK || hr == S_FALSE || hr == E_FAIL || hr == E_POINTER || hr == E_OUTOFMEMORY ||
           ErrorRowForResult(hr) != nullptr;
}

ComPtr<IMediaSource> OpenSource(const std::wstring& path, const wchar_t* hash, HRESULT* result) {
    ComPtr<IMediaSource> source;
    FUZZ_CHECK(CreateInstance(CLSID_FlashFile5, source) == S_OK);
    ComPtr<IMediaParams> params = NewContainer();
    FUZZ_CHECK(params->SetLong(Bstr(L"OperationMode").Get(), 0, 1) == S_OK);
    FUZZ_CHECK(params->SetString(Bstr(L"FileName").Get(), 0, Bstr(path).Get()) == S_OK);
    if (hash != nullptr) {
        FUZZ_CHECK(params->SetString(Bstr(L"FileHash").Get(), 0, Bstr(hash).Get()) == S_OK);
    }
    const HRESULT hr =
        Check(source->SendCommandEx(CFlashFile5::kCommandOpen, params.Get(), nullptr));
    if (result != nullptr) *result = hr;
    if (FAILED(hr)) return {};
    return source;
}

LONG TrackCount(IMediaSource* source, bool video) {
    LONG count = 0;
    Check(video ? source->get_videoTracksCount(&count) : source->get_audioTracksCount(&count));
    return count;
}

double TrackDuration(IMediaSource* source, bool video) {
    double duration = 0.0;
    Check(video ? source->get_videoDuration(kCurrentTrack, &duration)
                : source->get_audioDuration(kCurrentTrack, &duration));
    return duration;
}

std::vector<Packet> ReadPackets(IMediaSource* source, bool video, std::size_t limit, bool keepBytes,
                                double audioMs, bool* failed) {
    std::vector<Packet> packets;
    double previousTime = -std::numeric_limits<double>::infinity();
    if (failed != nullptr) *failed = false;
    while (packets.size() < limit) {
        ComPtr<IUnknown> data;
        const HRESULT hr = Check(video ? source->ReadVideo(kCurrentTrack, 0, data.Put())
                                       : source->ReadAudio(kCurrentTrack, 0, audioMs, data.Put()));
        if (FAILED(hr) && failed != nullptr) *failed = true;
        if (FAILED(hr) || !data) break;
        ComPtr<IMediaPacket> packet;
        FUZZ_CHECK(data.As(packet) == S_OK);
        Packet& read = packets.emplace_back();
        FUZZ_CHECK(packet->GetTime(&read.time) == S_OK &&
                   packet->GetDuration(&read.duration) == S_OK);
        FUZZ_CHECK(read.duration >= 0.0 && read.time >= previousTime);
        previousTime = read.time;
        LONG size = 0;
        BYTE* bytes = nullptr;
        if (keepBytes && packet->GetSize(&size) == S_OK && size > 0 &&
            packet->GetData(&bytes) == S_OK && bytes != nullptr) {
            read.bytes.assign(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(size));
        }
    }
    return packets;
}

TrackReading ReadTracks(IMediaSource* source, std::size_t limit) {
    TrackReading reading;
    for (const bool video : {true, false}) {
        const int kind = video ? 0 : 1;
        reading.tracks[kind] = TrackCount(source, video);
        if (reading.tracks[kind] <= 0) continue;
        const double duration = reading.duration[kind] = TrackDuration(source, video);
        reading.packets[kind] = ReadPackets(source, video, limit).size();
        for (const double time : {duration / 2, duration + 1000.0, -1000.0}) {
            Check(video ? source->SeekVideo(kCurrentTrack, 0, time)
                        : source->SeekAudio(kCurrentTrack, 0, time));
            (void)ReadPackets(source, video, 2);
        }
    }
    ComPtr<IFlashFile5> file;
    FUZZ_CHECK(ComPtr<IMediaSource>(source).As(file) == S_OK);
    Check(file->ReOpenFile());
    for (const bool video : {true, false}) {
        if (reading.tracks[video ? 0 : 1] > 0) (void)ReadPackets(source, video, 2);
    }
    return reading;
}

TrackReading OpenAndRead(const std::wstring& path, const wchar_t* hash, std::size_t limit) {
    TrackReading reading;
    if (ComPtr<IMediaSource> source = OpenSource(path, hash)) {
        reading = ReadTracks(source.Get(), limit);
        FUZZ_CHECK(source->SendCommandEx(CFlashFile5::kCommandClose, nullptr, nullptr) == S_OK);
    }
    return reading;
}
