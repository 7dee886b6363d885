#include "tools/flvhost/StreamFacts.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <cstring>
#include <limits>

#include "platform/Bstr.h"
#include "platform/Folders.h"
#include "platform/TextConvert.h"

namespace flvhost {
namespace {
constexpr std::size_t kRecordSize = 36;
constexpr std::uint32_t kVideoKind = 1;
constexpr LONG kKeyFrame = 1;
// Where and under which name the component keeps a file's index cache:
// <application data>/Veltrano/FileCache/zevflashfile-5-0-1-207-<kind>-<hash>.cache
constexpr char kCacheFolder[] = "/Veltrano/FileCache/";
constexpr char kCachePrefix[] = "zevflashfile-5-0-1-207-";
constexpr char kCacheExtension[] = ".cache";

template <class T>
T LittleEndian(const char* bytes) {
    T value = 0;
    for (std::size_t i = sizeof(T); i > 0; --i) {
        value = static_cast<T>((value << 8) | static_cast<std::uint8_t>(bytes[i - 1]));
    }
    return value;
}

// Reads `count` bytes at `pos` if they are there; advances `pos`.
bool Take(std::string_view bytes, std::size_t& pos, std::size_t count, const char** field) {
    if (count > bytes.size() - pos) return false;
    *field = bytes.data() + pos;
    pos += count;
    return true;
}

std::string StreamBytes(IStream* stream) {
    std::string bytes;
    LARGE_INTEGER start{};
    if (FAILED(stream->Seek(start, STREAM_SEEK_SET, nullptr))) return bytes;
    char buffer[65536];
    for (;;) {
        ULONG got = 0;
        if (FAILED(stream->Read(buffer, sizeof buffer, &got)) || got == 0) break;
        bytes.append(buffer, got);
    }
    return bytes;
}

// The stored index of one kind in an information container.
std::vector<IndexRecord> IndexOf(IMediaParams* info, bool video) {
    std::vector<IndexRecord> records;
    ComPtr<IStream> stream;
    const Bstr name(video ? L"FileVideoIndexes" : L"FileAudioIndexes");
    if (FAILED(info->GetStream(name.Get(), -1, 0, stream.Put())) || !stream) return records;
    std::vector<IndexRecord> all;
    (void)ParseStoredIndex(StreamBytes(stream.Get()), all);
    for (const IndexRecord& record : all) {
        if (record.video == video) records.push_back(record);
    }
    return records;
}

LONG LongOf(IMediaParams* info, const wchar_t* name) {
    LONG value = 0;
    (void)info->GetLongDef(Bstr(name).Get(), -1, 0, &value);
    return value;
}

bool Holds(IMediaParams* info, const wchar_t* name) {
    LONG count = 0;
    return SUCCEEDED(info->GetCount(Bstr(name).Get(), &count)) && count > 0;
}

// The information container the open left under "FLVSettings"; null when there is none.
ComPtr<IMediaParams> SettingsOf(IMediaParams* params) {
    ComPtr<IMediaParams> info;
    (void)params->GetParams(Bstr(L"FLVSettings").Get(), -1, 1, info.Put());
    return info;
}

void FillVideo(VideoFacts& video, IMediaParams* info) {
    video.flvCodec = LongOf(info, L"VideoCodecType");
    video.width = LongOf(info, L"VideoWidth");
    video.height = LongOf(info, L"VideoHeight");
    (void)info->GetDoubleDef(Bstr(L"VideoFrameRate").Get(), -1, 0.0, &video.frameRate);
    video.dataRateKbps = LongOf(info, L"VideoDateRate");
    video.index = IndexOf(info, true);
    video.keyframes = static_cast<std::size_t>(
        std::count_if(video.index.begin(), video.index.end(),
                      [](const IndexRecord& r) { return r.frameType == kKeyFrame; }));
}

void FillAudio(AudioFacts& audio, IMediaParams* info) {
    audio.soundFormat = LongOf(info, L"AudioCodecType");
    audio.dataRateKbps = LongOf(info, L"AudioDataRate");
    audio.index = IndexOf(info, false);
}

// The track formats: the codec codes and what the decoded track looks like.
void FillFormats(IMediaSource* source, FileFacts& facts) {
    ComPtr<IUnknown> format;
    if (facts.video.present && SUCCEEDED(source->get_videoFormat(0, format.Put()))) {
        if (auto video = format.As<IVideoFormat>()) {
            (void)video->GetCodec(&facts.video.hostCodec);
            LONG width = 0, height = 0;
            // The stream's own size wins over the container's when the format knows it.
            if (SUCCEEDED(video->GetWidth(&width)) && width > 0 &&
                SUCCEEDED(video->GetHeight(&height)) && height > 0) {
                facts.video.width = width;
                facts.video.height = height;
            }
        }
    }
    if (facts.audio.present && SUCCEEDED(source->get_audioFormat(0, format.Put()))) {
        if (auto audio = format.As<IAudioFormat>()) {
            (void)audio->GetCodec(&facts.audio.hostCodec);
            WAVEFORMATEX wave{};
            if (SUCCEEDED(audio->GetWaveFormat(&wave))) {
                facts.audio.sampleRate = static_cast<LONG>(wave.nSamplesPerSec);
                facts.audio.channels = wave.nChannels;
                facts.audio.bitsPerSample = wave.wBitsPerSample;
            }
        }
    }
}

// What is known of a cache file before and after an open: whether the open wrote it anew.
struct FileStamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    std::int64_t modifiedNs = 0;
    bool operator==(const FileStamp&) const = default;
};
FileStamp StampOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return {};
#ifdef _WIN32
    // Windows' stat has whole seconds and no inode numbers: the write time in its own steps
    // (100 ns) tells a file written anew.
    std::error_code error;
    const auto written = std::filesystem::last_write_time(path, error);
    return {true, info.st_dev, info.st_ino,
            error ? 0 : static_cast<std::int64_t>(written.time_since_epoch().count())};
#else
    return {true, info.st_dev, info.st_ino,
            static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
#endif
}
}  // namespace

bool ParseStoredIndex(std::string_view bytes, std::vector<IndexRecord>& records) {
    std::size_t pos = 0;
    const char* field = nullptr;
    if (!Take(bytes, pos, 4, &field)) return false;
    const auto videoExtra = LittleEndian<std::int32_t>(field);
    if (!Take(bytes, pos, 4, &field)) return false;
    const auto audioExtra = LittleEndian<std::int32_t>(field);
    for (std::int32_t extra : {videoExtra, audioExtra}) {
        if (extra > 0 && !Take(bytes, pos, static_cast<std::size_t>(extra), &field)) return false;
    }
    if (!Take(bytes, pos, 4, &field)) return false;
    const auto count = LittleEndian<std::int32_t>(field);
    for (std::int32_t i = 0; i < count; ++i) {
        if (!Take(bytes, pos, kRecordSize, &field)) return false;
        IndexRecord record;
        record.position = LittleEndian<std::uint64_t>(field);
        record.timeMs = LittleEndian<std::uint64_t>(field + 8);
        record.frameType = LittleEndian<std::uint32_t>(field + 24);
        record.video = LittleEndian<std::uint32_t>(field + 32) == kVideoKind;
        records.push_back(record);
    }
    return true;
}

std::string CacheFilePath(const std::wstring& hash, char kind) {
    wchar_t folder[MAX_PATH];
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, folder))) return {};
    return WideToUtf8(folder) + kCacheFolder + kCachePrefix + kind + "-" + WideToUtf8(hash) +
           kCacheExtension;
}

std::optional<std::vector<IndexRecord>> CachedIndex(const std::string& cacheFile, bool video) {
    ComPtr<IMediaParams> cache = NewParams();
    if (cacheFile.empty() || cache->LoadFromFile(Bstr(Utf8ToWide(cacheFile)).Get()) != S_OK) {
        return std::nullopt;
    }
    return IndexOf(cache.Get(), video);
}

FileFacts CollectFacts(const OpenOptions& options) {
    CheckFlvFile(options.file);
    FileFacts facts;
    facts.file = options.file;
    struct stat info {};
    if (::stat(options.file.c_str(), &info) == 0)
        facts.size = static_cast<std::uint64_t>(info.st_size);

    std::wstring hash;
    if (options.useCache) {
        hash = Utf8ToWide(options.hash.empty() ? DefaultFileHash(options.file) : options.hash);
    }
    facts.hash = WideToUtf8(hash);
    const std::string videoCache = hash.empty() ? "" : CacheFilePath(hash, 'v');
    const std::string audioCache = hash.empty() ? "" : CacheFilePath(hash, 'a');
    const FileStamp videoBefore = StampOf(videoCache);
    const FileStamp audioBefore = StampOf(audioCache);

    OpenOptions both = options;
    both.onlyVideo = both.onlyAudio = false;
    const OpenedFile opened = OpenWith(CreateSource(), both, hash);
    IMediaSource* source = opened.source.Get();
    facts.video.present = opened.videoTracks > 0;
    facts.audio.present = opened.audioTracks > 0;

    if (hash.empty()) {
        facts.origin = IndexOrigin::kCacheOff;
    } else {
        // A walk writes the cache files anew; an open from the cache leaves them as they were.
        const bool videoKept =
            !facts.video.present || (videoBefore.exists && videoBefore == StampOf(videoCache));
        const bool audioKept =
            !facts.audio.present || (audioBefore.exists && audioBefore == StampOf(audioCache));
        const bool any = facts.video.present || facts.audio.present;
        facts.origin = any && videoKept && audioKept ? IndexOrigin::kCache : IndexOrigin::kWalk;
    }

    const ComPtr<IMediaParams> last = SettingsOf(opened.params.Get());
    if (last && Holds(last.Get(), L"FileAudioIndexes")) FillAudio(facts.audio, last.Get());
    if (last && Holds(last.Get(), L"FileVideoIndexes")) {
        FillVideo(facts.video, last.Get());
    } else if (facts.video.present) {
        OpenOptions videoOnly = options;
        videoOnly.onlyVideo = true;
        videoOnly.onlyAudio = false;
        const OpenedFile second = OpenWith(CreateSource(), videoOnly, hash);
        if (const ComPtr<IMediaParams> video = SettingsOf(second.params.Get())) {
            FillVideo(facts.video, video.Get());
        }
    }
    FillFormats(source, facts);
    if (facts.video.present) facts.video.durationMs = VideoDuration(source);
    if (facts.audio.present) facts.audio.durationMs = AudioDuration(source);
    return facts;
}

std::string VideoCodecName(LONG flvCodec) {
    switch (flvCodec) {
        case 1:
            return "JPEG";
        case 2:
            return "Sorenson H.263";
        case 3:
            return "Screen video";
        case 4:
            return "On2 VP6";
        case 5:
            return "On2 VP6 with alpha";
        case 6:
            return "Screen video version 2";
        case 7:
            return "H.264";
        default:
            return "unknown";
    }
}

std::string AudioCodecName(LONG soundFormat) {
    switch (soundFormat) {
        case 0:
            return "PCM, platform byte order";
        case 1:
            return "ADPCM";
        case 2:
            return "MP3";
        case 3:
            return "PCM, little-endian";
        case 4:
            return "Nellymoser 16 kHz mono";
        case 5:
            return "Nellymoser 8 kHz mono";
        case 6:
            return "Nellymoser";
        case 7:
            return "G.711 A-law";
        case 8:
            return "G.711 mu-law";
        case 10:
            return "AAC";
        case 11:
            return "Speex";
        case 14:
            return "MP3 8 kHz";
        default:
            return "unknown";
    }
}

}  // namespace flvhost
