// flvhost info and index: the stream facts against ffprobe, where the index came from (a walk,
// the index cache, or a walk with the cache off), and the JSON forms.
#include "tests/tools/FlvhostHarness.h"

namespace {

const std::string kH264Aac =
    Clip(25, 44100, "-c:v libx264 -bf 2 -g 12 -pix_fmt yuv420p -c:a aac -ac 2");

// Each test names its own hash for the file: the index cache entries stay apart (the default
// hash comes from the file's bytes, which the tests share).
TEST(Info, FirstOpenWalksTheSecondUsesTheCache) {
    REQUIRE_TOOLS_SAMPLE(file, "tools_h264_aac.flv", kH264Aac);
    const HostRun first = RunFlvhost("info " + Quote(file) + " --hash info-test-cache");
    const HostRun second = RunFlvhost("info " + Quote(file) + " --hash info-test-cache");
    const HostRun off = RunFlvhost("info " + Quote(file) + " --no-cache");
    for (const HostRun* run : {&first, &second, &off}) ASSERT_EQ(run->exitCode, 0) << run->err;
    EXPECT_TRUE(Mentions(first.out, "Index:  walked the file, now in the index cache"));
    EXPECT_TRUE(Mentions(second.out, "Index:  from the index cache")) << second.out;
    EXPECT_TRUE(Mentions(off.out, "Index:  walked the file (cache off)")) << off.out;
    // The facts do not depend on where the index came from.
    const auto facts = [](const std::string& text) { return text.substr(text.find("Video:")); };
    EXPECT_EQ(facts(first.out), facts(second.out));
    EXPECT_EQ(facts(first.out), facts(off.out));
}

TEST(Info, JsonHoldsTheStreamsAndEntriesAsFfprobeSeesThem) {
    REQUIRE_TOOLS_SAMPLE(file, "tools_h264_aac.flv", kH264Aac);
    const HostRun run = RunFlvhost("info " + Quote(file) + " --json --hash info-test-json");
    const HostRun index = RunFlvhost("index " + Quote(file) + " --json --hash info-test-json");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    ASSERT_EQ(index.exitCode, 0) << index.err;
    const PacketCounts packets = CountPackets(file);
    for (const std::string& expected : std::vector<std::string>{
             "\"codec\": \"H.264\"", "\"flv_codec\": 7", "\"host_codec\": 28", "\"width\": 160",
             "\"height\": 120", "\"frame_rate\": 25.000", "\"codec\": \"AAC\"",
             "\"host_codec\": 86018", "\"sample_rate\": 44100", "\"channels\": 2",
             "\"bits_per_sample\": 16", "\"packets\": " + std::to_string(packets.video),
             "\"packets\": " + std::to_string(packets.audio),
             "\"keyframes\": " + std::to_string(packets.keyframes)}) {
        EXPECT_TRUE(Mentions(run.out, expected)) << expected << " not in\n" << run.out;
    }
    // The index's JSON form lists an entry per packet.
    std::size_t entries = 0;
    for (std::size_t at = 0; (at = index.out.find("\"kind\":", at)) != std::string::npos; ++at) {
        ++entries;
    }
    EXPECT_EQ(entries, packets.video + packets.audio);
}
}  // namespace
