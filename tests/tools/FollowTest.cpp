// flvhost follow on a file that grows while it watches: the counts reach those of the whole
// file, and the command ends by itself once the file stops growing.
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/FfmpegTools.h"
#include "tests/tools/FlvhostHarness.h"

namespace {
namespace fs = std::filesystem;

const char kSample[] =
    "-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi -i sine=frequency=440:sample_rate=44100 "
    "-t 2 -c:v flv1 -g 10 -c:a libmp3lame -ac 2";

TEST(Follow, CountsGrowWithTheFileUntilItStops) {
    if (!FfmpegAvailable()) GTEST_SKIP() << "ffmpeg and ffprobe are needed";
    const auto sample = GeneratedSample("tools_follow_flv1_mp3.flv", kSample);
    ASSERT_TRUE(sample);
    std::size_t videoPackets = 0, audioPackets = 0;
    for (const ProbePacket& packet : ProbePackets(*sample)) {
        (packet.video ? videoPackets : audioPackets) += 1;
    }
    // The first 40 % of the file, cut in the middle of a tag.
    const std::string bytes = ReadBytes(*sample);
    const std::size_t cut = bytes.size() * 2 / 5;
    const fs::path growing = OutputPath("growing.flv");
    std::ofstream(growing, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(cut));

    FILE* follow = ::popen(
        (FlvhostCommand("follow " + Quote(growing) + " --interval 0.1 --idle 1.5") + " 2>&1")
            .c_str(),
        "r");
    ASSERT_NE(follow, nullptr);
    std::vector<std::string> lines;
    char line[512];
    ASSERT_NE(std::fgets(line, sizeof line, follow), nullptr);
    lines.emplace_back(line);
    // Then the rest of the file, in two steps.
    {
        std::ofstream out(growing, std::ios::binary | std::ios::app);
        out.write(bytes.data() + cut, static_cast<std::streamsize>((bytes.size() - cut) / 2));
    }
    {
        std::ofstream out(growing, std::ios::binary | std::ios::app);
        const std::size_t done = cut + (bytes.size() - cut) / 2;
        out.write(bytes.data() + done, static_cast<std::streamsize>(bytes.size() - done));
    }
    while (std::fgets(line, sizeof line, follow) != nullptr) lines.emplace_back(line);
    const int status = ::pclose(follow);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);

    std::string all;
    for (const std::string& text : lines) all += text;
    ASSERT_GE(lines.size(), 3u) << all;
    // The first line is the file as it was: fewer packets than the whole file has.
    EXPECT_EQ(lines.front().find("video " + std::to_string(videoPackets) + " packets"),
              std::string::npos)
        << all;
    EXPECT_NE(lines.back().find("stopped: no growth"), std::string::npos) << all;
    const std::string final = lines[lines.size() - 2];
    EXPECT_NE(final.find("video " + std::to_string(videoPackets) + " packets"), std::string::npos)
        << all;
    EXPECT_NE(final.find("audio " + std::to_string(audioPackets) + " packets"), std::string::npos)
        << all;
    EXPECT_NE(final.find(std::to_string(bytes.size()) + " bytes"), std::string::npos) << all;
}
}  // namespace
