// flvhost follow on a file that grows while it watches: the counts reach those of the whole
// file, and the command ends by itself once the file stops growing.
#include <sys/wait.h>

#include <cstdio>
#include <fstream>

#include "tests/tools/FlvhostHarness.h"

namespace {

TEST(Follow, CountsGrowWithTheFileUntilItStops) {
    REQUIRE_TOOLS_SAMPLE(sample, "tools_follow_flv1_mp3.flv",
                         Clip(25, 44100, "-c:v flv1 -g 10 -c:a libmp3lame -ac 2", 2));
    const PacketCounts packets = CountPackets(sample);
    // The first 40 % of the file (cut inside a tag) before follow starts; the rest once it has
    // printed its first line.
    const std::string bytes = FileBytes(sample);
    const std::size_t cut = bytes.size() * 2 / 5;
    const std::filesystem::path growing = OutputPath("growing.flv");
    std::ofstream(growing, std::ios::binary) << bytes.substr(0, cut);
    FILE* follow = ::popen(
        (FlvhostCommand("follow " + Quote(growing) + " --interval 0.1 --idle 1.5") + " 2>&1")
            .c_str(),
        "r");
    ASSERT_NE(follow, nullptr);
    std::vector<std::string> lines;
    char line[512];
    while (std::fgets(line, sizeof line, follow) != nullptr) {
        lines.emplace_back(line);
        if (lines.size() == 1)
            std::ofstream(growing, std::ios::binary | std::ios::app) << bytes.substr(cut);
    }
    const int status = ::pclose(follow);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    const std::string all = ::testing::PrintToString(lines);
    ASSERT_GE(lines.size(), 3u) << all;
    // The first line is the file as it was: fewer packets than the whole file has; the last but
    // one is the whole file.
    const std::string whole = "video " + std::to_string(packets.video) + " packets";
    EXPECT_FALSE(Mentions(lines.front(), whole)) << all;
    EXPECT_TRUE(Mentions(lines.back(), "stopped: no growth")) << all;
    const std::string& final = lines[lines.size() - 2];
    EXPECT_TRUE(Mentions(final, whole)) << all;
    EXPECT_TRUE(Mentions(final, "audio " + std::to_string(packets.audio) + " packets")) << all;
}
}  // namespace
