// A file read while another process records it: the worker writes a real FLV file tag by tag at
// the pace of its time stamps, each tag in pieces cut at random points, while FlashFile5 has it
// open, calls ReOpenFile again and again and reads video and audio as far as they have come.
// At the end the index (as the re-opens stored it in the index cache) is that of a walk of the
// finished file, and the reader got every video frame once, in order, and the audio without a
// gap or a repeat: the same frames and samples that a fresh open of the finished file gives.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/reliability/ReliabilityHarness.h"
#include "tests/support/ComponentTestSupport.h"

namespace {
constexpr std::size_t kReadLimit = 100000;

std::string Joined(const std::vector<Packet>& packets) {
    std::string bytes;
    for (const Packet& packet : packets) bytes += packet.bytes;
    return bytes;
}
}  // namespace

TEST(SoakTest, ReaderFollowsAFileThatAnotherProcessWrites) {
    // Six seconds of Sorenson H.263 at 15 frames per second and MP3.
    REQUIRE_SAMPLE(sample, (Sample{"reliability_soak_h263_mp3.flv",
                                   "-f lavfi -i testsrc=size=32x24:rate=15 "
                                   "-f lavfi -i sine=frequency=440:sample_rate=22050 -t 6 "
                                   "-c:v flv1 -g 15 -b:v 30k -c:a libmp3lame -ar 22050 -b:a 32k"}));
    CacheFolders folders;
    RegisterComponent();
    const std::filesystem::path growing = folders.temp.Path() / "growing.flv";

    const int writer = StartWorker({"append", sample.string(), growing.string(), "7"});
    ASSERT_GT(writer, 0);
    // Opened as soon as the file holds a video tag and an audio tag.
    const auto start = std::chrono::steady_clock::now();
    for (ScannedFile sofar; sofar.video.empty() || sofar.audio.empty(); sofar = ScanFile(growing)) {
        ASSERT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const ComPtr<IMediaSource> source = OpenFile(growing, L"soak");
    ASSERT_TRUE(source);
    ComPtr<IFlashFile5> file;
    ASSERT_EQ(ComPtr<IMediaSource>(source).As(file), S_OK);

    std::vector<Packet> read[2];  // video, audio
    int status = -1;
    int reopens = 0;
    for (bool ended = false; !ended; ++reopens) {
        ended = WorkerEnded(writer, status);
        // After the writer ended, one more re-open takes in the rest.
        ASSERT_EQ(file->ReOpenFile(), S_OK);
        for (const bool video : {true, false}) {
            for (Packet& packet : ReadPackets(source.Get(), video, kReadLimit, true)) {
                read[video ? 0 : 1].push_back(std::move(packet));
            }
        }
        if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    ASSERT_EQ(status, 0);
    EXPECT_GT(reopens, 20);
    ASSERT_EQ(FileBytes(growing), FileBytes(sample));

    // The index the re-opens stored is that of a walk of the finished file.
    const ScannedFile scanned = ScanFile(growing);
    EXPECT_TRUE(HoldsIndex(folders.CacheFile("v", "soak"), scanned, true));
    EXPECT_TRUE(HoldsIndex(folders.CacheFile("a", "soak"), scanned, false));

    // Every frame once, in order, with the picture of a fresh open of the finished file. A frame
    // read at the end of what was written lasts one frame duration (the next frame's time is not
    // known yet), so the timeline may run up to a millisecond (the time stamps' rounding) from a
    // fresh open's.
    const ComPtr<IMediaSource> fresh = OpenFile(growing, nullptr);
    ASSERT_TRUE(fresh);
    const auto freshVideo = ReadPackets(fresh.Get(), true, kReadLimit, true);
    const auto freshAudio = ReadPackets(fresh.Get(), false, kReadLimit, true);
    ASSERT_EQ(freshVideo.size(), scanned.video.size());
    ASSERT_EQ(read[0].size(), freshVideo.size());
    for (std::size_t i = 0; i < read[0].size(); ++i) {
        EXPECT_NEAR(read[0][i].time, freshVideo[i].time, 1.0) << i;
        EXPECT_TRUE(read[0][i].bytes == freshVideo[i].bytes) << "frame " << i;
    }
    // The audio without a gap, a repeat or a change: the same samples, on a timeline where each
    // packet starts where the one before ended.
    const std::vector<Packet>& audio = read[1];
    for (std::size_t i = 1; i < audio.size(); ++i) {
        EXPECT_NEAR(audio[i].time, audio[i - 1].time + audio[i - 1].duration, 1e-6) << i;
    }
    EXPECT_TRUE(Joined(audio) == Joined(freshAudio))
        << Joined(audio).size() << " bytes against " << Joined(freshAudio).size();
}
