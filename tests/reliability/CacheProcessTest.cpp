// Index cache files shared by several processes: four workers open the same three files with the
// same hashes at once, again and again, for a few seconds. Every open must get the index of a
// walk (tracks, durations and every frame at its time), and every cache file that exists must
// load whole whenever a worker loads it (no reader ever sees one half written). Meanwhile the
// test damages one cache file on purpose: a later open walks the file and writes it again.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/reliability/ReliabilityHarness.h"
#include "tests/support/FfmpegTools.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

namespace {
namespace fs = std::filesystem;
constexpr int kWorkers = 4;
constexpr int kSeconds = 8;

struct Sample {
    const char* name;
    const char* arguments;
};
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

bool HoldsIndex(const fs::path& cacheFile, const std::vector<IndexEntry>& expected, bool video) {
    std::vector<IndexEntry> videoIndex, audioIndex;
    return StoredIndexOf(cacheFile, videoIndex, audioIndex) &&
           (video ? videoIndex : audioIndex) == expected;
}
}  // namespace

TEST(CacheProcessTest, ProcessesSharingCacheFilesAlwaysGetTheIndexOfAWalk) {
    TempDir temp;
    ScopedEnv data("XDG_DATA_HOME", (temp.Path() / "data").string());
    ScopedEnv run("XDG_RUNTIME_DIR", (temp.Path() / "run").string());
    fs::create_directories(temp.Path() / "run");
    RegisterReliabilityClasses();

    std::vector<fs::path> files;
    std::vector<std::string> arguments = {"cache-clients", std::to_string(kSeconds)};
    for (std::size_t i = 0; i < std::size(kSamples); ++i) {
        const auto sample = GeneratedSample(kSamples[i].name, kSamples[i].arguments);
        if (!sample) GTEST_SKIP() << "ffmpeg is not available";
        files.push_back(temp.Path() / kSamples[i].name);
        fs::copy_file(*sample, files.back());
        // The first file's cache files are damaged on purpose below: the workers only open it.
        arguments.insert(arguments.end(),
                         {files.back().string(), "shared" + std::to_string(i), i == 0 ? "0" : "1"});
    }
    // The workers are waited for however the test ends: their files live in `temp`.
    struct Workers {
        ~Workers() {
            for (const int pid : pids) statuses.push_back(WaitForWorker(pid));
        }
        std::vector<int> pids;
        std::vector<int>& statuses;
    };
    std::vector<int> statuses;
    {
        Workers workers{{}, statuses};
        for (int i = 0; i < kWorkers; ++i) {
            workers.pids.push_back(StartWorker(arguments));
            ASSERT_GT(workers.pids.back(), 0);
        }
        // Once the workers have written it, the video cache file of the first file is
        // overwritten with bytes that are no container: an open by one of them must write it
        // again while the run goes on.
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(kSeconds);
        const fs::path damaged = CacheFilePath(temp.Path() / "data", 'v', "shared0");
        const ScannedFile first = ScanFile(files[0]);
        while (!HoldsIndex(damaged, first.video, true) && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        WriteWhole(damaged, "not a cache file");
        bool rewritten = false;
        while (!rewritten && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            rewritten = HoldsIndex(damaged, first.video, true);
        }
        EXPECT_TRUE(rewritten);
    }
    ASSERT_EQ(statuses.size(), static_cast<std::size_t>(kWorkers));
    for (const int status : statuses) EXPECT_EQ(status, 0);
    for (std::size_t i = 0; i < files.size(); ++i) {
        const ScannedFile scanned = ScanFile(files[i]);
        const std::string hash = "shared" + std::to_string(i);
        EXPECT_TRUE(
            HoldsIndex(CacheFilePath(temp.Path() / "data", 'v', hash), scanned.video, true));
        EXPECT_TRUE(
            HoldsIndex(CacheFilePath(temp.Path() / "data", 'a', hash), scanned.audio, false));
    }
}
