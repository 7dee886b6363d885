// reliability_worker: the other processes of the reliability tests.
//
//   reliability_worker append SOURCE TARGET SEED
//       Writes the FLV file SOURCE into TARGET as a recorder would: the file header at once,
//       then each tag when the clock reaches its time stamp, in one to three pieces cut at
//       random points (SEED) with short pauses between them, so that a reader meets tags that
//       are only partly written.
//   reliability_worker cache-clients SECONDS FILE HASH CHECKED [FILE HASH CHECKED]...
//       For SECONDS, opens every FILE through FlashFile5 with "FileHash" HASH, again and again:
//       each open must find the tracks of a walk and deliver the durations and video frames
//       (times and pictures) of an open without the cache. For a FILE with CHECKED
//       1 the cache files are also loaded directly, as the component does (under their named
//       mutex): whenever one exists it must load, and hold the walk's index.
//   The cache and lock folders are those of the environment (XDG_DATA_HOME, XDG_RUNTIME_DIR).
//
// Exit status 0 when everything held; otherwise 1, with what broke on standard error.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "flv/Manager.h"
#include "flv/StoredIndex.h"
#include "platform/Bstr.h"
#include "platform/TextConvert.h"
#include "source/Cache.h"
#include "tests/reliability/ReliabilityHarness.h"

namespace {
using Clock = std::chrono::steady_clock;
constexpr std::size_t kFirstTag = 13;

[[noreturn]] void Fail(const std::string& message) {
    std::cerr << "reliability_worker: " << message << std::endl;
    std::exit(1);
}

void WriteAt(int descriptor, const std::string& bytes, std::size_t from, std::size_t to) {
    while (from < to) {
        const ssize_t written = ::write(descriptor, bytes.data() + from, to - from);
        if (written <= 0) Fail("write failed");
        from += static_cast<std::size_t>(written);
    }
}

int Append(const std::string& sourcePath, const std::string& targetPath, unsigned seed) {
    const std::string flv = ReadWhole(sourcePath);
    if (flv.size() < kFirstTag) Fail("source too short");
    std::FILE* target = std::fopen(targetPath.c_str(), "wb");
    if (target == nullptr) Fail("cannot create " + targetPath);
    const int descriptor = ::fileno(target);
    std::mt19937 random(seed);
    WriteAt(descriptor, flv, 0, kFirstTag);

    const Clock::time_point start = Clock::now();
    std::size_t at = kFirstTag;
    while (at + 11 <= flv.size()) {
        const auto* header = reinterpret_cast<const unsigned char*>(flv.data() + at);
        const std::size_t dataSize = (header[1] << 16) | (header[2] << 8) | header[3];
        const std::uint32_t time =
            (std::uint32_t{header[7]} << 24) | (header[4] << 16) | (header[5] << 8) | header[6];
        const std::size_t end = std::min(flv.size(), at + 11 + dataSize + 4);
        std::this_thread::sleep_until(start + std::chrono::milliseconds(time));
        // One to three pieces, cut anywhere inside the tag.
        std::vector<std::size_t> cuts;
        const int pieces = std::uniform_int_distribution<int>(1, 3)(random);
        for (int i = 1; i < pieces; ++i) {
            cuts.push_back(std::uniform_int_distribution<std::size_t>(at + 1, end - 1)(random));
        }
        std::sort(cuts.begin(), cuts.end());
        cuts.push_back(end);
        std::size_t from = at;
        for (const std::size_t cut : cuts) {
            WriteAt(descriptor, flv, from, cut);
            from = cut;
            if (cut != end) {
                const int pause = std::uniform_int_distribution<int>(1, 15)(random);
                std::this_thread::sleep_for(std::chrono::milliseconds(pause));
            }
        }
        at = end;
    }
    std::fclose(target);
    return 0;
}

struct Client {
    std::filesystem::path file;
    std::wstring hash;
    bool checked = false;
    // A walk of the file, and what an open without the cache delivers.
    ScannedFile scanned;
    std::vector<DeliveredPacket> frames;
    double videoDuration = 0.0;
    double audioDuration = 0.0;
};

constexpr std::size_t kFrameLimit = 10000;

// Reads what an open of `client`'s file delivers: durations and every video frame.
void ReadReference(Client& client) {
    ComPtr<IMediaSource> source;
    const HRESULT hr = OpenThroughSource(client.file, nullptr, source);
    if (hr != S_OK) {
        Fail("open without the cache failed (" + std::to_string(hr) + "): " + client.file.string());
    }
    client.videoDuration = TrackDuration(source.Get(), true);
    client.audioDuration = TrackDuration(source.Get(), false);
    client.frames = ReadToCurrentEnd(source.Get(), true, kFrameLimit);
    if (client.frames.size() != client.scanned.video.size()) Fail("reference frames missing");
}

// Loads both cache files of a checked client directly; each one that exists must load and hold
// the walk's index. Returns the number of loads.
int CheckCacheFiles(const Client& client) {
    int loads = 0;
    for (const bool video : {true, false}) {
        const wchar_t* kind = video ? kCacheKindVideo : kCacheKindAudio;
        CacheHandle handle;
        if (!PrepareCache(handle, client.hash.c_str(), kCacheKey, kCacheVersion, kind)) continue;
        ComPtr<IMediaParams> loaded;
        if (!LoadCache(handle, loaded)) {
            // Gone between the test and the load is impossible: nothing deletes cache files.
            Fail("a cache file that exists did not load: " + WideToUtf8(handle.Path()));
        }
        ++loads;
        ComPtr<IStream> stream;
        const Bstr name(video ? L"FileVideoIndexes" : L"FileAudioIndexes");
        if (FAILED(loaded->GetStream(name.Get(), 0, 1, stream.Put())) || !stream) {
            Fail("a cache file without its index stream");
        }
        StoredIndexExtras extras;
        std::vector<IndexEntry> videoIndex, audioIndex;
        (void)ReadStoredIndex(stream.Get(), extras, videoIndex, audioIndex);
        if ((video ? videoIndex : audioIndex) !=
            (video ? client.scanned.video : client.scanned.audio)) {
            Fail("a cache file holds another index than a walk");
        }
    }
    return loads;
}

// An open with the hash (whose cache files other processes write and read meanwhile) delivers
// what an open of a walk does.
void CheckOpen(const Client& client) {
    ComPtr<IMediaSource> source;
    const HRESULT hr = OpenThroughSource(client.file, client.hash.c_str(), source);
    if (hr != S_OK) Fail("open failed");
    const StreamFacts& facts = client.scanned.facts;
    if (TrackCount(source.Get(), true) != (facts.hasVideo ? 1 : 0) ||
        TrackCount(source.Get(), false) != (facts.hasAudio ? 1 : 0)) {
        Fail("an open found other tracks than a walk");
    }
    if (TrackDuration(source.Get(), true) != client.videoDuration ||
        TrackDuration(source.Get(), false) != client.audioDuration) {
        Fail("an open found other durations than a walk");
    }
    const std::vector<DeliveredPacket> frames = ReadToCurrentEnd(source.Get(), true, kFrameLimit);
    if (frames.size() != client.frames.size()) Fail("frames missing or extra");
    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (frames[i].time != client.frames[i].time || frames[i].bytes != client.frames[i].bytes) {
            Fail("a frame differs from the one an open of a walk delivers");
        }
    }
    (void)source->SendCommandEx(3, nullptr, nullptr);
}

int CacheClients(int seconds, const std::vector<std::string>& arguments) {
    RegisterReliabilityClasses();
    std::vector<Client> clients;
    for (std::size_t i = 0; i + 2 < arguments.size(); i += 3) {
        Client client;
        client.file = arguments[i];
        client.hash = Utf8ToWide(arguments[i + 1]);
        client.checked = arguments[i + 2] == "1";
        client.scanned = ScanFile(client.file);
        ReadReference(client);
        clients.push_back(std::move(client));
    }
    int opens = 0;
    int loads = 0;
    const Clock::time_point end = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < end) {
        for (const Client& client : clients) {
            if (client.checked) loads += CheckCacheFiles(client);
            CheckOpen(client);
            ++opens;
        }
    }
    std::cout << "opens " << opens << " loads " << loads << std::endl;
    return 0;
}
}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.size() == 4 && arguments[0] == "append") {
        return Append(arguments[1], arguments[2],
                      static_cast<unsigned>(std::strtoul(arguments[3].c_str(), nullptr, 10)));
    }
    if (arguments.size() >= 5 && arguments[0] == "cache-clients") {
        return CacheClients(std::atoi(arguments[1].c_str()),
                            std::vector<std::string>(arguments.begin() + 2, arguments.end()));
    }
    std::cerr << "usage: reliability_worker append SOURCE TARGET SEED\n"
                 "       reliability_worker cache-clients SECONDS FILE HASH CHECKED...\n";
    return 2;
}
