// The video stream object through IMediaStream, as a host drives it, against ffmpeg's frames of
// the same files: playback to the end, Seek, Skip, Reset, long frames. (An unusable frame rate
// is the manager's to replace, in tests/flv.)
#include <sys/resource.h>

#include <algorithm>

#include "platform/File.h"
#include "tests/support/FlvBuilder.h"
#include "tests/videostream/VideoStreamHarness.h"

namespace {

constexpr LONG kWholeFrame = 2;  // Flags bit 2: the frame that covers the target stays whole

// The H.264 and Sorenson samples joined five frames late, inside their first group of pictures
// (a live recording): the first keyframe comes at 560 ms and 400 ms. (Read from the start, they
// are checked through flvhost in tests/tools.)
struct JoinedLateFiles {
    TempDir dir;
    std::filesystem::path h264, sorenson;
};
std::unique_ptr<JoinedLateFiles> MakeJoinedLate(const std::filesystem::path& h264,
                                                const std::filesystem::path& sorenson) {
    auto files = std::make_unique<JoinedLateFiles>();
    files->h264 = files->dir.Write("h264_late.flv", JoinedLate(FileBytes(h264), 5));
    files->sorenson = files->dir.Write("flv1_late.flv", JoinedLate(FileBytes(sorenson), 5));
    return files;
}

// Each codec family the decoders treat differently, read to the end: every frame is ffmpeg's
// (H.264 frames leave the decoder reordered and must carry presentation times), the frames
// tile the track, and the open's probe read leaves no trace: the first frame is at 0, unmarked.
TEST(VideoStreamPlayback, EveryCodecPlaysLikeFfmpeg) {
    if (!FfmpegAvailable()) GTEST_SKIP() << "ffmpeg and ffprobe are needed";
    std::vector<std::filesystem::path> files;
    for (const Sample& sample : {kH264Sample, kSorensonSample, kScreenSample}) {
        const auto file = GeneratedSample(sample.name, sample.arguments);
        ASSERT_TRUE(file) << "ffmpeg could not make " << sample.name;
        files.push_back(*file);
    }
    // Real VP6 files (when present); vp6_mp3.flv pauses over 500 ms between frames, and those
    // frames are cut, so that some are shown more than once.
    for (const char* name : {"vp6_tiny.flv", "vp6_mp3.flv"}) {
        if (const auto file = SharedTestFile(name)) files.push_back(*file);
    }
    for (const auto& file : files) {
        SCOPED_TRACE(file);
        const auto stream = OpenVideoStream(file);
        ASSERT_TRUE(stream);
        EXPECT_DOUBLE_EQ(StreamTime(stream.Get()), 0.0);
        const double duration = StreamDuration(stream.Get());
        const auto frames = ReadToEnd(stream.Get());
        ASSERT_FALSE(frames.empty());
        EXPECT_FALSE(frames[0].discontinuity);
        ExpectFramesLikePeer(frames, PeerFrames(file), duration,
                             file.filename() == "vp6_mp3.flv" ? PeerCoverage::kEveryFrame
                                                              : PeerCoverage::kEveryFrameOnce);
        EXPECT_DOUBLE_EQ(StreamTime(stream.Get()), duration);
        EXPECT_FALSE(ReadNext(stream.Get())) << "a read at the end returns no frame";
    }
}

// A seek decodes from the keyframe before the target: the first frame starts exactly at the
// target with the discontinuity mark and lasts up to the next frame, and the frames after it
// are ffmpeg's at their presentation times, without gaps: the frames a read from the start
// gives. Before the first keyframe of a recording joined late, from that keyframe.
TEST(VideoStreamSeek, BetweenKeyframesStartsExactlyAtTheTarget) {
    REQUIRE_SAMPLE(sorenson, kSorensonSample);
    REQUIRE_SAMPLE(h264, kH264Sample);
    const auto late = MakeJoinedLate(h264, sorenson);
    const struct {
        std::filesystem::path file;
        double target;
    } cases[] = {
        {sorenson, 650.0},                 // keyframes at 0, 400, 800: inside the frame at 640
        {h264, 1010.0},                    // keyframes every 12 frames; frames come reordered
        {h264, 930.0},     {h264, 560.0},  // on a keyframe
        {h264, 30.0},  // before the first frame's time: that frame reaches back to the target
        {late->h264, 0.0}, {late->h264, 300.0}, {late->h264, 610.0}, {late->sorenson, 250.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        const auto peer = PeerFrames(c.file);
        const auto stream = OpenVideoStream(c.file);
        ASSERT_TRUE(stream);
        ASSERT_EQ(stream->Seek(0, c.target), S_OK);
        EXPECT_DOUBLE_EQ(StreamTime(stream.Get()), c.target);
        std::vector<ReadFrame> frames;
        for (int i = 0; i < 14; ++i) {
            auto frame = ReadNext(stream.Get());
            ASSERT_TRUE(frame);
            EXPECT_EQ(frame->discontinuity, i == 0) << "frame " << i;
            frames.push_back(std::move(*frame));
        }
        // The next picture comes at its own time (the first is shown from 0 or the target,
        // whatever its own time, in pieces where that is over 500 ms).
        std::size_t next = 1;
        while (static_cast<double>(peer[next].pts) <= c.target) ++next;
        const auto change = std::find_if(frames.begin(), frames.end(), [&](const ReadFrame& f) {
            return f.md5 != frames[0].md5;
        });
        ASSERT_NE(change, frames.end());
        EXPECT_DOUBLE_EQ(change->time, static_cast<double>(peer[next].pts));
        ExpectFramesLikePeer(frames, peer, frames.back().time + frames.back().duration,
                             PeerCoverage::kAnyFrames, c.target);
    }
}

// A short step back replays the recent frames: no decoder restart, which in a file with one
// keyframe at the start would read the file again from its first tag.
TEST(VideoStreamSeek, ShortStepBackUsesTheRecentFramesWithoutTouchingTheFile) {
    REQUIRE_SAMPLE(file, kLargeSample);
    const auto peer = PeerFrames(file);
    const auto stream = OpenVideoStream(file);
    ASSERT_TRUE(stream);
    std::vector<ReadFrame> frames;
    for (int i = 0; i < 30; ++i) {
        auto frame = ReadNext(stream.Get());
        ASSERT_TRUE(frame);
        frames.push_back(std::move(*frame));
    }
    const double target = frames[27].time + 10.0;  // inside the third-newest frame
    const std::uint64_t before = File::TotalBytesRead();
    ASSERT_EQ(stream->Seek(0, target), S_OK);
    const auto replayed = ReadNext(stream.Get());
    EXPECT_EQ(File::TotalBytesRead(), before) << "the step back read the file";
    ASSERT_TRUE(replayed);
    EXPECT_DOUBLE_EQ(replayed->time, target);
    EXPECT_TRUE(replayed->discontinuity);
    EXPECT_EQ(replayed->md5, frames[27].md5);
    // Then the frames that followed, and on into a frame not read before.
    for (const std::size_t next : {28, 29, 30}) {
        const auto frame = ReadNext(stream.Get());
        ASSERT_TRUE(frame);
        EXPECT_TRUE(frame->md5 == peer[next].md5 && !frame->discontinuity) << next;
    }
}

// Flags bit 2 keeps the covering frame whole; a seek to where the stream stands does nothing
// until Reset, after which it acts in full; Skip moves on by its duration (with the flag, to
// the covering frame's start) and stops at the end.
TEST(VideoStreamSeek, WholeFrameFlagResetAndSkip) {
    REQUIRE_SAMPLE(file, kSorensonSample);
    const auto peer = PeerFrames(file);
    const auto stream = OpenVideoStream(file);
    ASSERT_TRUE(stream);
    auto expectNext = [&](double time, double duration, bool mark) {
        EXPECT_DOUBLE_EQ(StreamTime(stream.Get()), time);
        const auto frame = ReadNext(stream.Get());
        ASSERT_TRUE(frame);
        EXPECT_DOUBLE_EQ(frame->time, time);
        EXPECT_DOUBLE_EQ(frame->duration, duration);
        EXPECT_EQ(frame->discontinuity, mark) << "at " << time;
        EXPECT_EQ(frame->md5, PeerAt(peer, time).md5);
    };
    ASSERT_EQ(stream->Seek(kWholeFrame, 650.0), S_OK);
    expectNext(640.0, 40.0, true);
    ASSERT_EQ(stream->Seek(0, 680.0), S_OK);
    expectNext(680.0, 40.0, false);
    ASSERT_EQ(stream->Reset(0), S_OK);
    EXPECT_DOUBLE_EQ(StreamTime(stream.Get()), -1.0);
    ASSERT_EQ(stream->Seek(0, 720.0), S_OK);
    expectNext(720.0, 40.0, true);
    ASSERT_EQ(stream->Skip(0, 100.0), S_OK);  // 760 + 100: inside the frame at 840
    expectNext(860.0, 20.0, true);
    ASSERT_EQ(stream->Skip(kWholeFrame, 50.0), S_OK);  // 880 + 50: the frame at 920
    expectNext(920.0, 40.0, true);
    ASSERT_EQ(stream->Skip(0, 1e9), S_OK);
    EXPECT_DOUBLE_EQ(StreamTime(stream.Get()), StreamDuration(stream.Get()));
    EXPECT_FALSE(ReadNext(stream.Get()));
}

// Four frames at 25 fps: 0, 40, then 2040 and 2080 (the next frame 2000 ms after the second).
// The second frame is returned as 40 ms, then its copy is cut again and again while more than
// 500 ms remain: 38 pieces of 40 ms, then one of 480 ms up to 2040.
TEST(VideoStreamLongFrames, AGapIsCutIntoFramesOfOneFrameDuration) {
    REQUIRE_SAMPLE(sorenson, kSorensonSample);
    const auto tags = VideoTagsOf(sorenson);
    TempDir dir;
    const auto file = dir.Write(
        "gap.flv", RebuildFlv({tags.begin(), tags.begin() + 4},
                              [](std::size_t i, std::uint32_t) {
                                  return static_cast<std::uint32_t>(i < 2 ? 40 * i : 1960 + 40 * i);
                              },
                              {{"framerate", FlvBuilder::Amf0Number(25.0)}}));
    const auto peer = PeerFrames(sorenson);
    const auto stream = OpenVideoStream(file);
    ASSERT_TRUE(stream);
    EXPECT_DOUBLE_EQ(StreamDuration(stream.Get()), 2120.0);
    const auto frames = ReadToEnd(stream.Get());
    ASSERT_EQ(frames.size(), 42u);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE(i);
        const double time = i <= 39 ? 40.0 * static_cast<double>(i) : 2040.0 + 40.0 * (i - 40.0);
        EXPECT_DOUBLE_EQ(frames[i].time, time);
        EXPECT_DOUBLE_EQ(frames[i].duration, i == 39 ? 480.0 : 40.0);
        EXPECT_EQ(frames[i].md5, peer[i == 0 ? 0 : i <= 39 ? 1 : i - 38].md5);
    }

    // A gap of 30 days (a damaged time stamp): a skip into it takes the frame durations before
    // its target in one piece and allocates nothing in proportion to the gap.
    constexpr std::uint32_t kThirtyDays = 30u * 24 * 3600 * 1000;
    const auto far =
        dir.Write("far.flv", RebuildFlv({tags.begin(), tags.begin() + 4},
                                        [](std::size_t i, std::uint32_t) {
                                            return static_cast<std::uint32_t>(
                                                i < 2 ? 40 * i : kThirtyDays + 40 * (i - 2));
                                        },
                                        {{"framerate", FlvBuilder::Amf0Number(25.0)}}));
    const auto farStream = OpenVideoStream(far);
    ASSERT_TRUE(farStream);
    const auto peakKb = [] {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        return usage.ru_maxrss;
    };
    const long before = peakKb();
    ASSERT_EQ(farStream->Skip(0, kThirtyDays - 1000.0), S_OK);
    const auto inGap = ReadNext(farStream.Get());
    EXPECT_LT(peakKb() - before, 64 * 1024);
    ASSERT_TRUE(inGap);
    EXPECT_DOUBLE_EQ(inGap->time, kThirtyDays - 1000.0);
    EXPECT_EQ(inGap->md5, peer[1].md5);
}

}  // namespace
