// flvhost info and index: the stream facts against ffprobe, where the index came from (a walk,
// the index cache, or a walk with the cache off), and the JSON forms.
#include <algorithm>
#include <filesystem>
#include <string>

#include "tests/support/FfmpegTools.h"
#include "tests/tools/FlvhostHarness.h"

namespace {
namespace fs = std::filesystem;

const char kH264Aac[] =
    "-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi -i sine=frequency=440:sample_rate=44100 "
    "-t 1 -c:v libx264 -bf 2 -g 12 -pix_fmt yuv420p -c:a aac -ac 2";

bool Mentions(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class Info : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!FfmpegAvailable()) GTEST_SKIP() << "ffmpeg and ffprobe are needed";
        const auto sample = GeneratedSample("tools_info_h264_aac.flv", kH264Aac);
        ASSERT_TRUE(sample) << "ffmpeg could not make the sample";
        // A copy of its own per test, so that the index cache starts empty for it: the default
        // hash comes from the file's bytes, so a copy would share the cache entry; an explicit
        // hash keeps the tests apart.
        file = *sample;
        hash = std::string("info-test-") +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
    }
    fs::path file;
    std::string hash;
};

TEST_F(Info, FirstOpenWalksTheSecondUsesTheCache) {
    const HostRun first = RunFlvhost("info " + Quote(file) + " --hash " + hash);
    ASSERT_EQ(first.exitCode, 0) << first.err;
    EXPECT_TRUE(Mentions(first.out, "Index:  walked the file, now in the index cache"))
        << first.out;
    const HostRun second = RunFlvhost("info " + Quote(file) + " --hash " + hash);
    ASSERT_EQ(second.exitCode, 0) << second.err;
    EXPECT_TRUE(Mentions(second.out, "Index:  from the index cache")) << second.out;
    const HostRun off = RunFlvhost("info " + Quote(file) + " --no-cache");
    ASSERT_EQ(off.exitCode, 0) << off.err;
    EXPECT_TRUE(Mentions(off.out, "Index:  walked the file (cache off)")) << off.out;
    // The facts do not depend on where the index came from.
    const auto facts = [](const std::string& text) { return text.substr(text.find("Video:")); };
    EXPECT_EQ(facts(first.out), facts(second.out));
    EXPECT_EQ(facts(first.out), facts(off.out));
}

TEST_F(Info, JsonHoldsTheStreamsAsFfprobeSeesThem) {
    const HostRun run = RunFlvhost("info " + Quote(file) + " --json --hash " + hash);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::size_t videoPackets = 0, audioPackets = 0, keyframes = 0;
    for (const ProbePacket& packet : ProbePackets(file)) {
        (packet.video ? videoPackets : audioPackets) += 1;
        keyframes += packet.video && packet.keyframe;
    }
    for (const std::string& expected :
         {std::string("\"index_source\": \"walk\""), std::string("\"codec\": \"H.264\""),
          std::string("\"flv_codec\": 7"), std::string("\"host_codec\": 28"),
          std::string("\"width\": 160"), std::string("\"height\": 120"),
          std::string("\"frame_rate\": 25.000"), std::string("\"codec\": \"AAC\""),
          std::string("\"host_codec\": 86018"), std::string("\"sample_rate\": 44100"),
          std::string("\"channels\": 2"), std::string("\"bits_per_sample\": 16"),
          "\"packets\": " + std::to_string(videoPackets),
          "\"packets\": " + std::to_string(audioPackets),
          "\"keyframes\": " + std::to_string(keyframes)}) {
        EXPECT_TRUE(Mentions(run.out, expected)) << expected << " not in\n" << run.out;
    }
}

TEST_F(Info, IndexJsonListsTheCsvEntries) {
    const HostRun csv = RunFlvhost("index " + Quote(file) + " --csv --hash " + hash);
    const HostRun json = RunFlvhost("index " + Quote(file) + " --json --hash " + hash);
    ASSERT_EQ(csv.exitCode, 0) << csv.err;
    ASSERT_EQ(json.exitCode, 0) << json.err;
    const std::vector<std::string> rows = Lines(csv.out);
    ASSERT_GT(rows.size(), 1u);
    std::size_t entries = 0;
    for (std::size_t at = json.out.find("\"kind\":"); at != std::string::npos;
         at = json.out.find("\"kind\":", at + 1)) {
        ++entries;
    }
    EXPECT_EQ(entries, rows.size() - 1);
    const std::vector<std::string> last = Fields(rows.back());
    EXPECT_TRUE(Mentions(json.out, "\"position\": " + last[1])) << last[1];
}
}  // namespace
