// A file read while another process records it: the worker writes a real FLV file tag by tag at
// the pace of its time stamps, each tag in pieces cut at random points, while FlashFile5 has it
// open, calls ReOpenFile again and again and reads video and audio as far as they have come.
// At the end the index (as the re-opens stored it in the index cache) is that of a walk of the
// finished file, and the reader got every video frame once, in order, and the audio without a
// gap or a repeat: the same frames and samples that a fresh open of the finished file gives.
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
constexpr std::size_t kReadLimit = 100000;

std::string Joined(const std::vector<DeliveredPacket>& packets) {
    std::string bytes;
    for (const DeliveredPacket& packet : packets) bytes += packet.bytes;
    return bytes;
}

void Append(std::vector<DeliveredPacket>& to, std::vector<DeliveredPacket> more) {
    for (DeliveredPacket& packet : more) to.push_back(std::move(packet));
}
}  // namespace

TEST(SoakTest, ReaderFollowsAFileThatAnotherProcessWrites) {
    // Six seconds of Sorenson H.263 at 15 frames per second and MP3.
    const auto sample =
        GeneratedSample("reliability_soak_h263_mp3.flv",
                        "-f lavfi -i testsrc=size=32x24:rate=15 "
                        "-f lavfi -i sine=frequency=440:sample_rate=22050 -t 6 "
                        "-c:v flv1 -g 15 -b:v 30k -c:a libmp3lame -ar 22050 -b:a 32k");
    if (!sample) GTEST_SKIP() << "ffmpeg is not available";
    TempDir temp;
    ScopedEnv data("XDG_DATA_HOME", (temp.Path() / "data").string());
    ScopedEnv run("XDG_RUNTIME_DIR", (temp.Path() / "run").string());
    fs::create_directories(temp.Path() / "run");
    RegisterReliabilityClasses();
    const fs::path growing = temp.Path() / "growing.flv";

    const int writer = StartWorker({"append", sample->string(), growing.string(), "7"});
    ASSERT_GT(writer, 0);
    // Opened as soon as the file holds a video tag and an audio tag.
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        const ScannedFile sofar = ScanFile(growing);
        if (!sofar.video.empty() && !sofar.audio.empty()) break;
        ASSERT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ComPtr<IMediaSource> source;
    ASSERT_EQ(OpenThroughSource(growing, L"soak", source), S_OK);
    ASSERT_EQ(TrackCount(source.Get(), true), 1);
    ASSERT_EQ(TrackCount(source.Get(), false), 1);
    ComPtr<IFlashFile5> file;
    ASSERT_EQ(source.As(file), S_OK);

    std::vector<DeliveredPacket> video;
    std::vector<DeliveredPacket> audio;
    int status = -1;
    int reopens = 0;
    for (bool ended = false; !ended;) {
        ended = WorkerEnded(writer, status);
        // After the writer ended, one more re-open takes in the rest.
        ASSERT_EQ(file->ReOpenFile(), S_OK);
        ++reopens;
        Append(video, ReadToCurrentEnd(source.Get(), true, kReadLimit));
        Append(audio, ReadToCurrentEnd(source.Get(), false, kReadLimit));
        if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    ASSERT_EQ(status, 0);
    EXPECT_GT(reopens, 20);
    ASSERT_EQ(ReadWhole(growing), ReadWhole(*sample));

    // The index the re-opens stored is that of a walk of the finished file.
    const ScannedFile scanned = ScanFile(growing);
    std::vector<IndexEntry> storedVideo, storedAudio, ignored;
    ASSERT_TRUE(
        StoredIndexOf(CacheFilePath(temp.Path() / "data", 'v', "soak"), storedVideo, ignored));
    ASSERT_TRUE(
        StoredIndexOf(CacheFilePath(temp.Path() / "data", 'a', "soak"), ignored, storedAudio));
    EXPECT_EQ(storedVideo, scanned.video);
    EXPECT_EQ(storedAudio, scanned.audio);

    // What a fresh open of the finished file delivers.
    ComPtr<IMediaSource> fresh;
    ASSERT_EQ(OpenThroughSource(growing, nullptr, fresh), S_OK);
    const auto freshVideo = ReadToCurrentEnd(fresh.Get(), true, kReadLimit);
    const auto freshAudio = ReadToCurrentEnd(fresh.Get(), false, kReadLimit);
    ASSERT_EQ(freshVideo.size(), scanned.video.size());

    // Every frame once, in order, with the same picture. A frame read at the end of what was
    // written lasts one frame duration (the next frame's time is not known yet), so the timeline
    // may run up to a millisecond (the time stamps' rounding) from a fresh open's.
    ASSERT_EQ(video.size(), freshVideo.size());
    for (std::size_t i = 0; i < video.size(); ++i) {
        EXPECT_NEAR(video[i].time, freshVideo[i].time, 1.0) << i;
        EXPECT_TRUE(video[i].bytes == freshVideo[i].bytes) << "frame " << i;
    }
    // The audio without a gap, a repeat or a change: the same samples, on a timeline where each
    // packet starts where the one before ended.
    for (std::size_t i = 1; i < audio.size(); ++i) {
        EXPECT_NEAR(audio[i].time, audio[i - 1].time + audio[i - 1].duration, 1e-6) << i;
    }
    EXPECT_TRUE(Joined(audio) == Joined(freshAudio))
        << Joined(audio).size() << " bytes against " << Joined(freshAudio).size();
}
