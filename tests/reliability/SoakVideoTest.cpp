// A recording joined inside a group of pictures, H.264 with B-frames, read while another process
// writes it: the pictures delivered across the re-opens are those of one read of the finished
// file, at the same times, none twice and none lost (a re-open restarts decoding at a keyframe
// and a frame that reorders around the end of what was written still comes once).
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/reliability/ReliabilityHarness.h"
#include "tests/support/ComponentTestSupport.h"

TEST(SoakTest, PicturesAcrossReOpensAreThoseOfTheFinishedFile) {
    REQUIRE_SAMPLE(sample, (Sample{"reliability_soak_h264.flv",
                                   "-f lavfi -i testsrc=size=32x24:rate=25 -t 4 -c:v libx264 "
                                   "-bf 2 -g 12 -pix_fmt yuv420p"}));
    CacheFolders folders;
    RegisterComponent();
    const std::filesystem::path source =
        folders.temp.Write("joined.flv", JoinedLate(FileBytes(sample), 5));
    const std::filesystem::path growing = folders.temp.Path() / "growing.flv";
    const int writer = StartWorker({"append", source.string(), growing.string(), "11"});
    ASSERT_GT(writer, 0);
    // Opened as soon as the file holds a video tag: one that cannot be decoded on its own.
    const auto start = std::chrono::steady_clock::now();
    while (ScanFile(growing).video.empty()) {
        ASSERT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const ComPtr<IMediaSource> reader = OpenFile(growing, nullptr);
    ASSERT_TRUE(reader);
    ComPtr<IFlashFile5> file;
    ASSERT_EQ(ComPtr<IMediaSource>(reader).As(file), S_OK);
    std::vector<Packet> read;
    int status = -1;
    for (bool ended = false; !ended;) {
        ended = WorkerEnded(writer, status);
        ASSERT_EQ(file->ReOpenFile(), S_OK);
        for (Packet& packet : ReadPackets(reader.Get(), true, 100000, true)) {
            read.push_back(std::move(packet));
        }
        if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    ASSERT_EQ(status, 0);

    const ComPtr<IMediaSource> fresh = OpenFile(growing, nullptr);
    ASSERT_TRUE(fresh);
    const auto expected = ReadPackets(fresh.Get(), true, 100000, true);
    ASSERT_EQ(read.size(), expected.size());
    for (std::size_t i = 0; i < read.size(); ++i) {
        // A picture read at the end of what was written lasts one frame duration (the next
        // one's time is not known yet): the timeline may differ by the time stamps' rounding.
        EXPECT_NEAR(read[i].time, expected[i].time, 1.0) << i;
        EXPECT_TRUE(read[i].bytes == expected[i].bytes) << "picture " << i;
    }
}
