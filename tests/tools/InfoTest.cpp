// flvhost info and index: the stream facts against ffprobe, where the index came from (a walk,
// the index cache, or a walk with the cache off), and the JSON forms.
#include "tests/tools/FlvhostHarness.h"

namespace {

// The test names its own hash for the file: its index cache entries stay apart from other
// tests' (the default hash comes from the file's bytes, which the tests share).
TEST(Info, FactsAreFfprobesWhereverTheIndexComesFrom) {
    REQUIRE_TOOLS_SAMPLE(
        file, "tools_h264_aac.flv",
        Clip(25, 44100, "-c:v libx264 -bf 2 -g 12 -pix_fmt yuv420p -c:a aac -ac 2"));
    const HostRun first = RunFlvhost("info " + Quote(file) + " --json --hash info-test");
    const HostRun cached = RunFlvhost("info " + Quote(file) + " --hash info-test");
    const HostRun off = RunFlvhost("info " + Quote(file) + " --no-cache");
    const HostRun index = RunFlvhost("index " + Quote(file) + " --json --hash info-test");
    for (const HostRun* run : {&first, &cached, &off, &index})
        ASSERT_EQ(run->exitCode, 0) << run->err;
    EXPECT_TRUE(Mentions(first.out, "\"index_source\": \"walk\"")) << first.out;
    EXPECT_TRUE(Mentions(cached.out, "Index:  from the index cache")) << cached.out;
    EXPECT_TRUE(Mentions(off.out, "Index:  walked the file (cache off)")) << off.out;
    // The facts do not depend on where the index came from.
    const auto facts = [](const std::string& text) { return text.substr(text.find("Video:")); };
    EXPECT_EQ(facts(cached.out), facts(off.out));

    const PacketCounts packets = CountPackets(file);
    for (const std::string& expected : std::vector<std::string>{
             "\"codec\": \"H.264\"", "\"width\": 160", "\"height\": 120", "\"frame_rate\": 25.000",
             "\"codec\": \"AAC\"", "\"sample_rate\": 44100", "\"channels\": 2",
             "\"packets\": " + std::to_string(packets.video),
             "\"packets\": " + std::to_string(packets.audio),
             "\"keyframes\": " + std::to_string(packets.keyframes)}) {
        EXPECT_TRUE(Mentions(first.out, expected)) << expected << " not in\n" << first.out;
    }
    // The index's JSON form lists an entry per packet.
    std::size_t entries = 0;
    for (std::size_t at = 0; (at = index.out.find("\"kind\":", at)) != std::string::npos; ++at)
        ++entries;
    EXPECT_EQ(entries, packets.video + packets.audio);
}
}  // namespace
