// Index cache files shared by several processes: four workers open the same three files with the
// same hashes at once, again and again, for a few seconds. Every open must get the index of a
// walk (tracks, durations and every frame at its time), and every cache file that exists must
// load whole whenever a worker loads it (no reader ever sees one half written). Meanwhile the
// test damages one cache file on purpose: a later open walks the file and writes it again.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "tests/reliability/ReliabilityHarness.h"
#include "tests/support/ComponentTestSupport.h"

namespace {
constexpr int kWorkers = 4;
constexpr int kSeconds = 8;
constexpr Sample kSamples[] = {
    {"reliability_cache_h263_mp3.flv",
     "-f lavfi -i testsrc=size=32x24:rate=10 -f lavfi -i sine=sample_rate=22050 -t 1 "
     "-c:v flv1 -g 5 -c:a libmp3lame -ar 22050 -b:a 32k"},
    {"reliability_cache_h264_aac.flv",
     "-f lavfi -i testsrc=size=32x24:rate=10 -f lavfi -i sine=sample_rate=22050 -t 1 "
     "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -bf 2 -g 5 -c:a aac -ar 22050 -b:a 24k"},
    {"reliability_cache_screen_adpcm.flv",
     "-f lavfi -i testsrc=size=32x24:rate=10 -f lavfi -i sine=sample_rate=11025 -t 1 "
     "-c:v flashsv -c:a adpcm_swf -ar 11025"},
};

}  // namespace

TEST(CacheProcessTest, ProcessesSharingCacheFilesAlwaysGetTheIndexOfAWalk) {
    CacheFolders folders;
    RegisterComponent();
    std::vector<ScannedFile> scanned;
    std::vector<std::string> arguments = {"cache-clients", std::to_string(kSeconds)};
    for (std::size_t i = 0; i < std::size(kSamples); ++i) {
        REQUIRE_SAMPLE(sample, kSamples[i]);
        const std::filesystem::path file = folders.temp.Path() / kSamples[i].name;
        std::filesystem::copy_file(sample, file);
        scanned.push_back(ScanFile(file));
        // The first file's cache files are damaged on purpose below: the workers only open it.
        arguments.insert(arguments.end(),
                         {file.string(), "shared" + std::to_string(i), i == 0 ? "0" : "1"});
    }
    // Nothing stops the test between the start of the workers and the wait for them: their files
    // live in the test's folder.
    std::vector<int> workers;
    for (int i = 0; i < kWorkers; ++i) workers.push_back(StartWorker(arguments));
    // Once the workers have written it, the video cache file of the first file is overwritten
    // with bytes that are no container: an open by one of them must write it again while the run
    // goes on.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(kSeconds);
    const std::filesystem::path damaged = folders.CacheFile("v", "shared0");
    while (!HoldsIndex(damaged, scanned[0], true) && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::ofstream(damaged, std::ios::binary | std::ios::trunc) << "not a cache file";
    bool rewritten = false;
    while (!rewritten && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        rewritten = HoldsIndex(damaged, scanned[0], true);
    }
    EXPECT_TRUE(rewritten);
    for (const int pid : workers) {
        int status = -1;
        EXPECT_TRUE(pid > 0 && WorkerEnded(pid, status, false) && status == 0) << status;
    }
    for (std::size_t i = 0; i < scanned.size() * 2; ++i) {  // each file's video, then audio
        EXPECT_TRUE(
            HoldsIndex(folders.CacheFile(i % 2 ? "a" : "v", "shared" + std::to_string(i / 2)),
                       scanned[i / 2], i % 2 == 0));
    }
}
