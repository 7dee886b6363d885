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
// Exit status 0 when everything held; otherwise 1 (or an abort of a broken check), with what
// broke on standard error.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <random>
#include <thread>

#include "platform/TextConvert.h"
#include "source/Cache.h"
#include "tests/reliability/ReliabilityHarness.h"
#include "tests/support/ComponentTestSupport.h"

namespace {
using Clock = std::chrono::steady_clock;
constexpr std::size_t kFrameLimit = 10000;

[[noreturn]] void Fail(const std::string& message) {
    std::cerr << "reliability_worker: " << message << std::endl;
    std::exit(1);
}

int Append(const std::string& sourcePath, const std::string& targetPath, unsigned seed) {
    const std::string flv = FileBytes(sourcePath);
    std::FILE* target = std::fopen(targetPath.c_str(), "wb");
    if (flv.size() < 13 || target == nullptr) Fail("cannot copy " + sourcePath);
    std::mt19937 random(seed);
    const auto write = [&](std::size_t from, std::size_t to) {
        if (::write(::fileno(target), flv.data() + from, to - from) != ssize_t(to - from)) {
            Fail("write failed");
        }
    };
    write(0, 13);
    const Clock::time_point start = Clock::now();
    for (const FlvTag& tag : TagsOf(flv)) {
        const std::size_t end = std::min(flv.size(), tag.offset + 11 + tag.body.size() + 4);
        std::this_thread::sleep_until(start + std::chrono::milliseconds(tag.time));
        // One to three pieces, cut anywhere inside the tag, with pauses of 1 to 15 ms between.
        std::vector<std::size_t> cuts = {end};
        for (int i = std::uniform_int_distribution<int>(1, 3)(random); i > 1; --i) {
            cuts.push_back(
                std::uniform_int_distribution<std::size_t>(tag.offset + 1, end - 1)(random));
        }
        std::sort(cuts.begin(), cuts.end());
        for (std::size_t from = tag.offset, i = 0; i < cuts.size(); from = cuts[i++]) {
            if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(random() % 15 + 1));
            write(from, cuts[i]);
        }
    }
    std::fclose(target);
    return 0;
}

// What an open delivers: the durations and every video frame (time and picture).
struct Delivery {
    double duration[2] = {};
    std::vector<std::pair<double, std::string>> frames;
    bool operator==(const Delivery&) const = default;
};

// One file that a worker opens, and what an open without the cache delivers.
struct Client {
    std::filesystem::path file;
    std::wstring hash;
    bool checked = false;
    ScannedFile scanned;
    Delivery walked;
};

// Opens the client's file (with `hash`; null: without the cache), which must find the tracks of
// a walk.
Delivery Deliver(const Client& client, const wchar_t* hash) {
    const ComPtr<IMediaSource> source = OpenFile(client.file, hash);
    if (!source) Fail("an open failed: " + client.file.string());
    Delivery delivery;
    for (const bool video : {true, false}) {
        const bool has = video ? client.scanned.facts.hasVideo : client.scanned.facts.hasAudio;
        if (TrackCount(source.Get(), video) != (has ? 1 : 0)) Fail("other tracks than a walk's");
        delivery.duration[video ? 0 : 1] = has ? TrackDuration(source.Get(), video) : 0.0;
    }
    for (Packet& frame : ReadPackets(source.Get(), true, kFrameLimit, true)) {
        delivery.frames.emplace_back(frame.time, std::move(frame.bytes));
    }
    (void)source->SendCommandEx(3, nullptr, nullptr);
    return delivery;
}

// Loads both cache files of a checked client directly; each one that exists must load and hold
// the walk's index.
void CheckCacheFiles(const Client& client) {
    for (const bool video : {true, false}) {
        CacheHandle handle;
        if (!PrepareCache(handle, client.hash.c_str(), kCacheKey, kCacheVersion,
                          video ? kCacheKindVideo : kCacheKindAudio)) {
            continue;
        }
        ComPtr<IMediaParams> loaded;
        // Gone between the test and the load is impossible: nothing deletes cache files.
        if (!LoadCache(handle, loaded)) Fail("a cache file that exists did not load");
        std::vector<IndexEntry> index[2];
        StoredIndexIn(loaded.Get(), index[0], index[1]);
        if (index[video ? 0 : 1] != (video ? client.scanned.video : client.scanned.audio)) {
            Fail("a cache file holds another index than a walk");
        }
    }
}

int CacheClients(int seconds, const std::vector<std::string>& arguments) {
    RegisterComponent();
    std::vector<Client> clients;
    for (std::size_t i = 0; i + 2 < arguments.size(); i += 3) {
        Client& client = clients.emplace_back();
        client.file = arguments[i];
        client.hash = Utf8ToWide(arguments[i + 1]);
        client.checked = arguments[i + 2] == "1";
        client.scanned = ScanFile(client.file);
        client.walked = Deliver(client, nullptr);
        if (client.walked.frames.size() != client.scanned.video.size()) Fail("frames missing");
    }
    for (const Clock::time_point end = Clock::now() + std::chrono::seconds(seconds);
         Clock::now() < end;) {
        for (const Client& client : clients) {
            if (client.checked) CheckCacheFiles(client);
            // With the hash, whose cache files other processes write and read meanwhile.
            if (Deliver(client, client.hash.c_str()) != client.walked) {
                Fail("an open delivered other durations or frames than an open of a walk");
            }
        }
    }
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
        // A host: COM for this thread, in a single-threaded apartment, around its work.
        if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
        const int result =
            CacheClients(std::atoi(arguments[1].c_str()),
                         std::vector<std::string>(arguments.begin() + 2, arguments.end()));
        CoUninitialize();
        return result;
    }
    std::cerr << "usage: reliability_worker append SOURCE TARGET SEED | cache-clients SECONDS "
                 "FILE HASH CHECKED...\n";
    return 2;
}
