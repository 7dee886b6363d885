// The video stream object through IMediaStream, as a host drives it, against ffmpeg's frames of
// the same files: playback to the end, Seek, Skip, Reset, long frames, odd descriptions.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/Bstr.h"
#include "platform/File.h"
#include "tests/support/FlvBuilder.h"
#include "tests/support/TempDir.h"
#include "tests/videostream/VideoStreamHarness.h"

namespace {

constexpr LONG kWholeFrame = 2;

// ---------------------------------------------------------------------------------------------
// Playback to the end
// ---------------------------------------------------------------------------------------------

void ExpectPlaysLikeFfmpeg(const std::filesystem::path& file, PeerCoverage coverage) {
    const auto stream = OpenVideoStream(file);
    ASSERT_TRUE(stream);
    const double duration = StreamDuration(stream.Get());
    const auto frames = ReadToEnd(stream.Get());
    ExpectFramesLikePeer(frames, PeerFrames(file), duration, coverage);
    EXPECT_DOUBLE_EQ(StreamTime(stream.Get()), duration);
    EXPECT_FALSE(ReadNext(stream.Get())) << "a read at the end returns no frame";
}

TEST(VideoStreamPlayback, H264WithBFramesMatchesFfmpeg) {
    REQUIRE_SAMPLE(file, kH264Sample);
    ExpectPlaysLikeFfmpeg(file, PeerCoverage::kEveryFrameOnce);
}

TEST(VideoStreamPlayback, SorensonMatchesFfmpeg) {
    REQUIRE_SAMPLE(file, kSorensonSample);
    ExpectPlaysLikeFfmpeg(file, PeerCoverage::kEveryFrameOnce);
}

TEST(VideoStreamPlayback, ScreenVideoMatchesFfmpeg) {
    REQUIRE_SAMPLE(file, kScreenSample);
    ExpectPlaysLikeFfmpeg(file, PeerCoverage::kEveryFrameOnce);
}

TEST(VideoStreamPlayback, RealVp6FilesMatchFfmpeg) {
    if (!FfmpegAvailable()) GTEST_SKIP() << "ffmpeg and ffprobe are needed";
    for (const char* name : {"vp6_tiny.flv", "vp6_mp3.flv"}) {
        SCOPED_TRACE(name);
        const auto file = SharedTestFile(name);
        if (!file) GTEST_SKIP() << "test file " << name << " is not present";
        // vp6_mp3.flv has pauses of over 500 ms between frames: those frames are cut, so a
        // frame may be shown more than once.
        ExpectPlaysLikeFfmpeg(*file, PeerCoverage::kEveryFrame);
    }
}

TEST(VideoStreamPlayback, FirstReadAfterOpenIsTheFirstFrameAtZero) {
    REQUIRE_SAMPLE(file, kH264Sample);
    const auto peer = PeerFrames(file);
    ASSERT_GE(peer.size(), 2u);
    const auto stream = OpenVideoStream(file);
    ASSERT_TRUE(stream);
    EXPECT_DOUBLE_EQ(StreamTime(stream.Get()), 0.0);
    const auto first = ReadNext(stream.Get());
    ASSERT_TRUE(first);
    EXPECT_DOUBLE_EQ(first->time, 0.0);
    EXPECT_EQ(first->md5, peer[0].md5);
    // The first frame lasts until the second frame's presentation time.
    EXPECT_DOUBLE_EQ(first->duration, static_cast<double>(peer[1].pts));
    EXPECT_FALSE(first->discontinuity);
}

TEST(VideoStreamPlayback, ReorderedFramesKeepTheirPresentationTimes) {
    // Tag times are decode times; frames leave the decoder in presentation order and must carry
    // presentation times, or a seek (which works on presentation times) and the frames after it
    // disagree and the clock runs backwards.
    REQUIRE_SAMPLE(file, kH264Sample);
    const auto peer = PeerFrames(file);
    const auto stream = OpenVideoStream(file);
    ASSERT_TRUE(stream);
    const auto frames = ReadToEnd(stream.Get());
    ASSERT_EQ(frames.size(), peer.size());
    for (std::size_t i = 1; i < frames.size(); ++i) {
        EXPECT_DOUBLE_EQ(frames[i].time, static_cast<double>(peer[i].pts)) << "frame " << i;
    }
    // A seek to a keyframe and one between keyframes, and the frames after them: each frame is
    // ffmpeg's frame of its time, and the clock only moves forward.
    for (double target : {560.0, 1010.0}) {
        SCOPED_TRACE(target);
        ASSERT_EQ(stream->Seek(0, target), S_OK);
        double clock = StreamTime(stream.Get());
        EXPECT_DOUBLE_EQ(clock, target);
        for (int i = 0; i < 20; ++i) {
            const auto frame = ReadNext(stream.Get());
            ASSERT_TRUE(frame);
            EXPECT_DOUBLE_EQ(frame->time, clock);
            EXPECT_GT(frame->duration, 0.0);
            std::size_t shown = 0;
            for (std::size_t k = 0; k < peer.size(); ++k) {
                if (static_cast<double>(peer[k].pts) <= frame->time) shown = k;
            }
            EXPECT_EQ(frame->md5, peer[shown].md5) << "at " << frame->time;
            clock = frame->time + frame->duration;
            EXPECT_DOUBLE_EQ(StreamTime(stream.Get()), clock);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Seek, Skip, Reset
// ---------------------------------------------------------------------------------------------

// The peer frame shown at `time`.
const FrameHash& PeerAt(const std::vector<FrameHash>& peer, double time) {
    std::size_t match = 0;
    for (std::size_t k = 0; k < peer.size(); ++k) {
        if (static_cast<double>(peer[k].pts) <= time) match = k;
    }
    return peer[match];
}

void ExpectSeekBetweenKeyframes(const std::filesystem::path& file, double target,
                                double nextFrameTime) {
    const auto peer = PeerFrames(file);
    const auto stream = OpenVideoStream(file);
    ASSERT_TRUE(stream);
    ASSERT_EQ(stream->Seek(0, target), S_OK);
    EXPECT_DOUBLE_EQ(StreamTime(stream.Get()), target);
    const auto first = ReadNext(stream.Get());
    ASSERT_TRUE(first);
    EXPECT_DOUBLE_EQ(first->time, target);
    EXPECT_DOUBLE_EQ(first->duration, nextFrameTime - target);
    EXPECT_TRUE(first->discontinuity);
    EXPECT_EQ(first->md5, PeerAt(peer, target).md5);
    const auto second = ReadNext(stream.Get());
    ASSERT_TRUE(second);
    EXPECT_DOUBLE_EQ(second->time, nextFrameTime);
    EXPECT_FALSE(second->discontinuity);
    EXPECT_EQ(second->md5, PeerAt(peer, nextFrameTime).md5);
}

TEST(VideoStreamSeek, BetweenKeyframesStartsExactlyAtTheTarget) {
    REQUIRE_SAMPLE(sorenson, kSorensonSample);
    // Keyframes at 0, 400, 800 ...; 650 lies inside the frame at 640.
    ExpectSeekBetweenKeyframes(sorenson, 650.0, 680.0);
    REQUIRE_SAMPLE(h264, kH264Sample);
    // Presentation times 80, 120, ...; keyframes every 12 frames (80, 560, 1040, ...).
    ExpectSeekBetweenKeyframes(h264, 1010.0, 1040.0);
    ExpectSeekBetweenKeyframes(h264, 930.0, 960.0);
}

TEST(VideoStreamSeek, BeforeTheFirstFrameStretchesItBackToTheTarget) {
    REQUIRE_SAMPLE(file, kH264Sample);
    const auto peer = PeerFrames(file);
    const auto stream = OpenVideoStream(file);
    ASSERT_TRUE(stream);
    ASSERT_EQ(stream->Seek(0, 30.0), S_OK);
    EXPECT_DOUBLE_EQ(StreamTime(stream.Get()), 30.0);
    const auto frame = ReadNext(stream.Get());
    ASSERT_TRUE(frame);
    EXPECT_DOUBLE_EQ(frame->time, 30.0);
    EXPECT_DOUBLE_EQ(frame->duration, static_cast<double>(peer[1].pts) - 30.0);
    EXPECT_TRUE(frame->discontinuity);
    EXPECT_EQ(frame->md5, peer[0].md5);
}

TEST(VideoStreamSeek, ShortStepBackUsesTheRecentFramesWithoutTouchingTheFile) {
    // A file whose only keyframe is at the start and whose frames fill far more than the input
    // window: a decoder restart would have to read the file again from its first tag.
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
    EXPECT_DOUBLE_EQ(replayed->duration, frames[27].time + frames[27].duration - target);
    EXPECT_TRUE(replayed->discontinuity);
    EXPECT_EQ(replayed->md5, frames[27].md5);
    // Then the frames that followed, unmarked, and on into frames not read before.
    for (std::size_t i = 28; i < 33; ++i) {
        const auto frame = ReadNext(stream.Get());
        ASSERT_TRUE(frame);
        EXPECT_DOUBLE_EQ(frame->time, static_cast<double>(peer[i].pts));
        EXPECT_FALSE(frame->discontinuity);
        EXPECT_EQ(frame->md5, peer[i].md5) << "frame " << i;
    }
}

TEST(VideoStreamSeek, WholeFrameFlagKeepsTheCoveringFrameWhole) {
    REQUIRE_SAMPLE(file, kSorensonSample);
    const auto peer = PeerFrames(file);
    const auto stream = OpenVideoStream(file);
    ASSERT_TRUE(stream);
    ASSERT_EQ(stream->Seek(kWholeFrame, 650.0), S_OK);
    EXPECT_DOUBLE_EQ(StreamTime(stream.Get()), 640.0);
    auto frame = ReadNext(stream.Get());
    ASSERT_TRUE(frame);
    EXPECT_DOUBLE_EQ(frame->time, 640.0);
    EXPECT_DOUBLE_EQ(frame->duration, 40.0);
    EXPECT_TRUE(frame->discontinuity);
    EXPECT_EQ(frame->md5, PeerAt(peer, 640.0).md5);

    // Without the flag the frame is trimmed to the target.
    ASSERT_EQ(stream->Seek(0, 1250.0), S_OK);
    EXPECT_DOUBLE_EQ(StreamTime(stream.Get()), 1250.0);
    frame = ReadNext(stream.Get());
    ASSERT_TRUE(frame);
    EXPECT_DOUBLE_EQ(frame->time, 1250.0);
    EXPECT_DOUBLE_EQ(frame->duration, 30.0);
}

TEST(VideoStreamSeek, SameTimeTwiceActsOnceUntilReset) {
    REQUIRE_SAMPLE(file, kSorensonSample);
    const auto peer = PeerFrames(file);
    const auto stream = OpenVideoStream(file);
    ASSERT_TRUE(stream);
    ASSERT_EQ(stream->Seek(0, 650.0), S_OK);
    ASSERT_TRUE(ReadNext(stream.Get()));  // 650 to 680
    // A seek to the current time does nothing: no discontinuity mark on the next frame.
    ASSERT_EQ(stream->Seek(0, 680.0), S_OK);
    auto frame = ReadNext(stream.Get());
    ASSERT_TRUE(frame);
    EXPECT_DOUBLE_EQ(frame->time, 680.0);
    EXPECT_FALSE(frame->discontinuity);

    // After Reset the clock reads -1 and the same seek acts in full.
    ASSERT_EQ(stream->Reset(0), S_OK);
    EXPECT_DOUBLE_EQ(StreamTime(stream.Get()), -1.0);
    ASSERT_EQ(stream->Seek(0, 720.0), S_OK);
    EXPECT_DOUBLE_EQ(StreamTime(stream.Get()), 720.0);
    frame = ReadNext(stream.Get());
    ASSERT_TRUE(frame);
    EXPECT_DOUBLE_EQ(frame->time, 720.0);
    EXPECT_TRUE(frame->discontinuity);
    EXPECT_EQ(frame->md5, PeerAt(peer, 720.0).md5);
}

TEST(VideoStreamSkip, MovesOnByTheDurationOrToTheCoveringFrame) {
    REQUIRE_SAMPLE(file, kSorensonSample);
    const auto peer = PeerFrames(file);
    const auto stream = OpenVideoStream(file);
    ASSERT_TRUE(stream);
    ASSERT_EQ(stream->Skip(0, 100.0), S_OK);
    EXPECT_DOUBLE_EQ(StreamTime(stream.Get()), 100.0);
    auto frame = ReadNext(stream.Get());
    ASSERT_TRUE(frame);
    EXPECT_DOUBLE_EQ(frame->time, 100.0);
    EXPECT_DOUBLE_EQ(frame->duration, 20.0);
    EXPECT_TRUE(frame->discontinuity);
    EXPECT_EQ(frame->md5, PeerAt(peer, 100.0).md5);

    // With the flag: the frame that covers 120 + 50 = 170 is kept whole, from 160.
    ASSERT_EQ(stream->Skip(kWholeFrame, 50.0), S_OK);
    EXPECT_DOUBLE_EQ(StreamTime(stream.Get()), 160.0);
    frame = ReadNext(stream.Get());
    ASSERT_TRUE(frame);
    EXPECT_DOUBLE_EQ(frame->time, 160.0);
    EXPECT_EQ(frame->md5, PeerAt(peer, 160.0).md5);

    // Past the end: the clock stops at the duration.
    ASSERT_EQ(stream->Skip(0, 1e9), S_OK);
    EXPECT_DOUBLE_EQ(StreamTime(stream.Get()), StreamDuration(stream.Get()));
    EXPECT_FALSE(ReadNext(stream.Get()));
}

// ---------------------------------------------------------------------------------------------
// Long frames and odd descriptions (files rebuilt from a generated file's tags)
// ---------------------------------------------------------------------------------------------

class VideoStreamRebuilt : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!FfmpegAvailable()) GTEST_SKIP() << "ffmpeg and ffprobe are needed";
        const auto found = GeneratedSample(kSorensonSample.name, kSorensonSample.arguments);
        ASSERT_TRUE(found);
        sorenson_ = *found;
        tags_ = VideoTagsOf(sorenson_);
        ASSERT_EQ(tags_.size(), 50u);
    }

    std::filesystem::path sorenson_;
    std::vector<VideoTag> tags_;
    TempDir dir_;
};

TEST_F(VideoStreamRebuilt, AGapIsCutIntoFramesOfOneFrameDuration) {
    // Four frames at 25 fps: 0, 40, then 2040 and 2080 (the next frame 2000 ms after the second).
    std::vector<VideoTag> four(tags_.begin(), tags_.begin() + 4);
    const auto file = dir_.Write(
        "gap.flv", RebuildFlv(four,
                              [](std::size_t i, std::uint32_t) {
                                  return static_cast<std::uint32_t>(i < 2 ? 40 * i : 1960 + 40 * i);
                              },
                              {{"framerate", FlvBuilder::Amf0Number(25.0)}}));
    const auto peer = PeerFrames(sorenson_);
    const auto stream = OpenVideoStream(file);
    ASSERT_TRUE(stream);
    EXPECT_DOUBLE_EQ(StreamDuration(stream.Get()), 2120.0);
    const auto frames = ReadToEnd(stream.Get());
    // The second frame is returned as 40 ms, then its copy from 80 is cut again and again while
    // more than 500 ms remain: 38 pieces of 40 ms, then one of 480 ms up to 2040.
    ASSERT_EQ(frames.size(), 42u);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE(i);
        const double time = i <= 39 ? 40.0 * static_cast<double>(i) : 2040.0 + 40.0 * (i - 40.0);
        EXPECT_DOUBLE_EQ(frames[i].time, time);
        EXPECT_DOUBLE_EQ(frames[i].duration, i == 39 ? 480.0 : 40.0);
        const std::size_t source = i == 0 ? 0 : i <= 39 ? 1 : i - 38;
        EXPECT_EQ(frames[i].md5, peer[source].md5);
    }
}

TEST_F(VideoStreamRebuilt, UnusableFrameRatesGiveThirtyFramesPerSecond) {
    const double rates[] = {0.0, -25.0, std::numeric_limits<double>::infinity(),
                            std::numeric_limits<double>::quiet_NaN()};
    std::vector<VideoTag> two(tags_.begin(), tags_.begin() + 2);
    const auto file = dir_.Write("late.flv", RebuildFlv(two, [](std::size_t i, std::uint32_t) {
                                     return static_cast<std::uint32_t>(1010 * i);
                                 }));
    const double frame = 1000.0 / 30.0;
    for (double rate : rates) {
        SCOPED_TRACE(rate);
        // The description comes with the open container, as the source object hands it over.
        const auto params = OpenParams(file);
        const auto settings = SettingsFor(file, [rate](IMediaParams* p) {
            ASSERT_EQ(p->SetDouble(Bstr(L"VideoFrameRate").Get(), 0, rate), S_OK);
        });
        ASSERT_EQ(params->SetParams(Bstr(L"FLVSettings").Get(), 0, 1, settings.Get()), S_OK);
        const auto stream = NewVideoStream();
        ASSERT_EQ(stream->SendCommandEx(1001, params.Get(), nullptr), S_OK);
        EXPECT_DOUBLE_EQ(StreamDuration(stream.Get()), 1010.0 + frame);
        const auto frames = ReadToEnd(stream.Get());
        // The first frame in pieces of a thirtieth of a second while more than 500 ms remain
        // (16 of them), the rest of it (476.7 ms), then the last frame.
        ASSERT_EQ(frames.size(), 18u);
        for (std::size_t i = 0; i < 16; ++i) EXPECT_NEAR(frames[i].duration, frame, 1e-9);
        EXPECT_NEAR(frames[16].duration, 1010.0 - 16 * frame, 1e-9);
        EXPECT_DOUBLE_EQ(frames[17].time, 1010.0);
        EXPECT_NEAR(frames[17].duration, frame, 1e-9);
    }
}

}  // namespace
