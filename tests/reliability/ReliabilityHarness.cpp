#include "tests/reliability/ReliabilityHarness.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "flv/Header.h"
#include "flv/Manager.h"
#include "flv/StoredIndex.h"
#include "fuzz/FuzzSource.h"
#include "mediakit/MediaInterfaces.h"
#include "platform/Bstr.h"
#include "platform/Com.h"
#include "platform/TextConvert.h"

void RegisterReliabilityClasses() {
    RegisterComponent();
}

HRESULT OpenThroughSource(const std::filesystem::path& file, const wchar_t* hash,
                          ComPtr<IMediaSource>& source) {
    source = nullptr;
    HRESULT hr = CreateInstance(CLSID_FlashFile5, source);
    if (FAILED(hr)) return hr;
    ComPtr<IMediaParams> params;
    hr = CreateInstance(CLSID_MediaParams, params);
    if (FAILED(hr)) return hr;
    (void)params->SetLong(Bstr(L"OperationMode").Get(), 0, 1);
    (void)params->SetString(Bstr(L"FileName").Get(), 0, Bstr(Utf8ToWide(file.string())).Get());
    if (hash != nullptr) (void)params->SetString(Bstr(L"FileHash").Get(), 0, Bstr(hash).Get());
    return source->SendCommandEx(1, params.Get(), nullptr);
}

long TrackCount(IMediaSource* source, bool video) {
    LONG count = -1;
    const HRESULT hr =
        video ? source->get_videoTracksCount(&count) : source->get_audioTracksCount(&count);
    return SUCCEEDED(hr) ? count : -1;
}

double TrackDuration(IMediaSource* source, bool video) {
    double duration = -1.0;
    (void)(video ? source->get_videoDuration(-1, &duration)
                 : source->get_audioDuration(-1, &duration));
    return duration;
}

std::vector<DeliveredPacket> ReadToCurrentEnd(IMediaSource* source, bool video, std::size_t limit,
                                              double audioMs, bool* failed) {
    std::vector<DeliveredPacket> packets;
    if (failed != nullptr) *failed = false;
    while (packets.size() < limit) {
        ComPtr<IUnknown> data;
        const HRESULT hr = video ? source->ReadVideo(-1, 0, data.Put())
                                 : source->ReadAudio(-1, 0, audioMs, data.Put());
        if (FAILED(hr) && failed != nullptr) *failed = true;
        ComPtr<IMediaPacket> packet;
        if (FAILED(hr) || !data || FAILED(data.As(packet))) break;
        DeliveredPacket delivered;
        (void)packet->GetTime(&delivered.time);
        (void)packet->GetDuration(&delivered.duration);
        LONG size = 0;
        BYTE* bytes = nullptr;
        if (SUCCEEDED(packet->GetSize(&size)) && size > 0 && SUCCEEDED(packet->GetData(&bytes)) &&
            bytes != nullptr) {
            delivered.bytes.assign(reinterpret_cast<const char*>(bytes),
                                   static_cast<std::size_t>(size));
        }
        packets.push_back(std::move(delivered));
    }
    return packets;
}

ScannedFile ScanFile(const std::filesystem::path& file) {
    ScannedFile scanned;
    CInputStream input;
    input.Open(Utf8ToWide(file.string()));
    CFLV_Manager manager;
    if (input.SeekTo(CFLV_Header::kFirstTagOffset)) manager.BuildIndex(nullptr, input);
    scanned.video = manager.videoIndex;
    scanned.audio = manager.audioIndex;
    scanned.facts = manager.facts;
    return scanned;
}

std::filesystem::path CacheFilePath(const std::filesystem::path& dataHome, char kind,
                                    const std::string& hash) {
    return dataHome / "Veltrano" / "FileCache" /
           (std::string("zevflashfile-5-0-1-207-") + kind + "-" + hash + ".cache");
}

bool StoredIndexOf(const std::filesystem::path& cacheFile, std::vector<IndexEntry>& video,
                   std::vector<IndexEntry>& audio) {
    video.clear();
    audio.clear();
    ComPtr<IMediaParams> cache;
    if (FAILED(CreateInstance(CLSID_MediaParams, cache))) return false;
    if (cache->LoadFromFile(Bstr(Utf8ToWide(cacheFile.string())).Get()) != S_OK) return false;
    for (const wchar_t* name : {L"FileVideoIndexes", L"FileAudioIndexes"}) {
        ComPtr<IStream> stream;
        if (FAILED(cache->GetStream(Bstr(name).Get(), 0, 1, stream.Put())) || !stream) continue;
        StoredIndexExtras extras;
        (void)ReadStoredIndex(stream.Get(), extras, video, audio);
    }
    return true;
}

std::string ReadWhole(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void WriteWhole(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

int StartWorker(const std::vector<std::string>& arguments) {
    const std::string program = FLV_BINARY_DIR "/bin/reliability_worker";
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    return pid;
}

int WaitForWorker(int pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

bool WorkerEnded(int pid, int& status) {
    int raw = 0;
    const pid_t ended = ::waitpid(pid, &raw, WNOHANG);
    if (ended == 0) return false;
    status = ended == pid && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return true;
}
