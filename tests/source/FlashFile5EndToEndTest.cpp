// The source object with the real stream objects on files made by ffmpeg: everything read
// through ReadVideo and ReadAudio against ffmpeg's decode, seeks, the index cache, re-opening a
// file that is still being written, and reading from several threads at once.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "frame/ErrorSupport.h"
#include "platform/Bstr.h"
#include "platform/File.h"
#include "tests/source/SourceHarness.h"
#include "tests/support/FfmpegTools.h"

namespace {
namespace fs = std::filesystem;

struct Sample {
    const char* name;
    const char* arguments;
};
// H.264 with two B-frames between references (keyframes every 12 frames), and AAC.
const Sample kH264Aac{"src_h264_aac.flv",
                      "-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi "
                      "-i sine=frequency=440:sample_rate=44100 -t 2 -c:v libx264 -bf 2 -g 12 "
                      "-pix_fmt yuv420p -c:a aac -ac 2"};
// Sorenson H.263 (keyframes every 10 frames) and MP3.
const Sample kFlv1Mp3{"src_flv1_mp3.flv",
                      "-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi "
                      "-i sine=frequency=440:sample_rate=44100 -t 2 -c:v flv1 -g 10 "
                      "-c:a libmp3lame -ac 2"};
// A few megabytes, so that a walk of the file reads far more than opening it does.
const Sample kLarge{"src_flv1_mp3_large.flv",
                    "-f lavfi -i testsrc2=size=640x480:rate=25 -f lavfi "
                    "-i sine=frequency=440:sample_rate=44100 -t 5 -c:v flv1 -q:v 1 -g 25 "
                    "-c:a libmp3lame -ac 2"};

#define REQUIRE_SAMPLE(var, sample)                                             \
    if (!FfmpegAvailable()) GTEST_SKIP() << "ffmpeg and ffprobe are needed";    \
    const auto var##Found = GeneratedSample((sample).name, (sample).arguments); \
    ASSERT_TRUE(var##Found) << "ffmpeg could not make " << (sample).name;       \
    const fs::path var = *var##Found

struct Frame {
    double time = 0.0;
    double duration = 0.0;
    bool discontinuity = false;
    std::string md5;
};

// The next video frame; false at the end of the track.
bool ReadFrame(IMediaSource* source, Frame& frame) {
    ComPtr<IUnknown> data;
    EXPECT_EQ(source->ReadVideo(0, 0, data.Put()), S_OK);
    auto packet = data.As<IMediaPacket>();
    if (!packet) return false;
    VARIANT_BOOL mark = VARIANT_FALSE;
    LONG size = 0;
    BYTE* bytes = nullptr;
    EXPECT_EQ(packet->GetTime(&frame.time), S_OK);
    EXPECT_EQ(packet->GetDuration(&frame.duration), S_OK);
    EXPECT_EQ(packet->GetDiscontinuity(&mark), S_OK);
    EXPECT_EQ(packet->GetSize(&size), S_OK);
    EXPECT_EQ(packet->GetData(&bytes), S_OK);
    frame.discontinuity = mark != VARIANT_FALSE;
    frame.md5 = bytes && size > 0 ? Md5Hex(bytes, static_cast<std::size_t>(size)) : "";
    return true;
}

std::vector<Frame> ReadVideoToEnd(IMediaSource* source) {
    std::vector<Frame> frames;
    Frame frame;
    while (ReadFrame(source, frame)) frames.push_back(frame);
    return frames;
}

// Audio read in requests of `request` ms until the end of the track.
struct Pcm {
    std::string bytes;
    double duration = 0.0;
    LONG blockAlign = 0;
    LONG rate = 0;
    bool firstDiscontinuity = false;
};
Pcm ReadAudioToEnd(IMediaSource* source, double request = 100.0) {
    Pcm pcm;
    for (int packets = 0;; ++packets) {
        ComPtr<IUnknown> data;
        EXPECT_EQ(source->ReadAudio(0, 0, request, data.Put()), S_OK);
        auto packet = data.As<IMediaPacket>();
        if (!packet) break;
        double duration = 0.0;
        LONG size = 0;
        BYTE* bytes = nullptr;
        VARIANT_BOOL mark = VARIANT_FALSE;
        ComPtr<IUnknown> format;
        EXPECT_EQ(packet->GetDuration(&duration), S_OK);
        EXPECT_EQ(packet->GetSize(&size), S_OK);
        EXPECT_EQ(packet->GetData(&bytes), S_OK);
        EXPECT_EQ(packet->GetDiscontinuity(&mark), S_OK);
        EXPECT_EQ(packet->GetFormat(format.Put()), S_OK);
        if (auto audio = format.As<IAudioFormat>()) {
            EXPECT_EQ(audio->GetBlockAlign(&pcm.blockAlign), S_OK);
            EXPECT_EQ(audio->GetSampleRate(&pcm.rate), S_OK);
        }
        if (packets == 0) pcm.firstDiscontinuity = mark != VARIANT_FALSE;
        pcm.duration += duration;
        if (bytes && size > 0) pcm.bytes.append(reinterpret_cast<const char*>(bytes), size);
    }
    return pcm;
}

double Value(HRESULT (IMediaSource::*getter)(LONG, double*), IMediaSource* source) {
    double value = -1.0;
    EXPECT_EQ((source->*getter)(0, &value), S_OK);
    return value;
}
double VideoDuration(IMediaSource* s) {
    return Value(&IMediaSource::get_videoDuration, s);
}
double AudioDuration(IMediaSource* s) {
    return Value(&IMediaSource::get_audioDuration, s);
}

std::vector<std::string> Md5s(const std::vector<Frame>& frames) {
    std::vector<std::string> md5s;
    for (const Frame& frame : frames) md5s.push_back(frame.md5);
    return md5s;
}
// ffmpeg's frames of the file in presentation order, with the times of the file's packets.
struct PeerFrame {
    std::int64_t pts = 0;
    std::string md5;
};
std::vector<PeerFrame> PeerFrames(const fs::path& file) {
    std::vector<std::int64_t> times;
    for (const ProbePacket& packet : ProbePackets(file)) {
        if (packet.video) times.push_back(packet.ptsMs);
    }
    std::sort(times.begin(), times.end());
    const std::vector<FrameHash> hashes = VideoFrameHashes(file);
    EXPECT_EQ(hashes.size(), times.size());
    std::vector<PeerFrame> frames;
    for (std::size_t i = 0; i < hashes.size() && i < times.size(); ++i) {
        frames.push_back({times[i], hashes[i].md5});
    }
    return frames;
}
std::vector<std::string> Md5s(const std::vector<PeerFrame>& frames) {
    std::vector<std::string> md5s;
    for (const PeerFrame& frame : frames) md5s.push_back(frame.md5);
    return md5s;
}
// The frame on screen at `time`: the last one that starts at or before it (the first one
// before the first start).
const PeerFrame& ShownAt(const std::vector<PeerFrame>& frames, double time) {
    std::size_t shown = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (static_cast<double>(frames[i].pts) <= time + 0.5) shown = i;
    }
    return frames[shown];
}
// Both samples run at 25 frames per second: the video ends one frame after the last start.
double PeerVideoDuration(const std::vector<PeerFrame>& frames) {
    return static_cast<double>(frames.back().pts) + 40.0;
}

// `delivered` is ffmpeg's decode up to where one of them ends (give or take what the decoder
// still held at the end, under 150 ms), then the silence the last packet was padded with.
void ExpectPcmLikePeer(const Pcm& delivered, const std::string& expected) {
    ASSERT_GT(delivered.blockAlign, 0);
    ASSERT_GT(delivered.rate, 0);
    const auto mismatch = std::mismatch(delivered.bytes.begin(), delivered.bytes.end(),
                                        expected.begin(), expected.end());
    const auto same = static_cast<std::size_t>(mismatch.first - delivered.bytes.begin());
    const bool silentAfter = std::all_of(delivered.bytes.begin() + static_cast<long>(same),
                                         delivered.bytes.end(), [](char c) { return c == 0; });
    EXPECT_TRUE(silentAfter) << "the PCM differs from ffmpeg's at byte " << same;
    const std::size_t common = std::min(delivered.bytes.size(), expected.size());
    EXPECT_LT(static_cast<double>(common - same) / delivered.blockAlign * 1000.0 / delivered.rate,
              150.0);
}

std::string Bytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class FlashFile5EndToEndTest : public SourceTest {
  protected:
    void SetUp() override {
        SourceTest::SetUp();
        source = NewSource();
        ASSERT_TRUE(source);
    }
    ComPtr<IMediaSource> source;
};

TEST_F(FlashFile5EndToEndTest, EveryFrameAndAllTheAudioAreFfmpegsDecode) {
    for (const Sample& sample : {kH264Aac, kFlv1Mp3}) {
        SCOPED_TRACE(sample.name);
        REQUIRE_SAMPLE(file, sample);
        ASSERT_EQ(Open(source.Get(), OpenParams(file).Get()), S_OK);
        ASSERT_EQ(VideoCount(source.Get()), 1);
        ASSERT_EQ(AudioCount(source.Get()), 1);
        const std::vector<PeerFrame> peer = PeerFrames(file);
        ASSERT_EQ(peer.size(), 50u);
        const double duration = PeerVideoDuration(peer);
        EXPECT_DOUBLE_EQ(VideoDuration(source.Get()), duration);
        EXPECT_GT(AudioDuration(source.Get()), 1900.0);

        const std::vector<Frame> frames = ReadVideoToEnd(source.Get());
        EXPECT_EQ(Md5s(frames), Md5s(peer));
        double end = 0.0;  // the frames tile the track
        for (const Frame& frame : frames) {
            EXPECT_NEAR(frame.time, end, 1e-6);
            end = frame.time + frame.duration;
        }
        EXPECT_NEAR(end, duration, 1e-6);
        EXPECT_DOUBLE_EQ(Value(&IMediaSource::get_videoTime, source.Get()), duration);

        const Pcm pcm = ReadAudioToEnd(source.Get());
        ExpectPcmLikePeer(pcm, DecodedPcm(file));
        EXPECT_NEAR(pcm.duration, AudioDuration(source.Get()), 1000.0 / pcm.rate);
    }
}

TEST_F(FlashFile5EndToEndTest, SeeksThenReadsStartAtTheTarget) {
    REQUIRE_SAMPLE(file, kFlv1Mp3);
    ASSERT_EQ(Open(source.Get(), OpenParams(file).Get()), S_OK);
    const std::vector<PeerFrame> peer = PeerFrames(file);
    ASSERT_EQ(peer.size(), 50u);
    for (double target : {1000.0, 360.0, 1960.0, 0.0}) {
        SCOPED_TRACE(target);
        ASSERT_EQ(source->SeekVideo(-1, 0, target), S_OK);
        Frame frame;
        ASSERT_TRUE(ReadFrame(source.Get(), frame));
        EXPECT_DOUBLE_EQ(frame.time, target);
        EXPECT_TRUE(frame.discontinuity);
        EXPECT_EQ(frame.md5, ShownAt(peer, target).md5);

        ASSERT_EQ(source->SeekAudio(-2, 0, target + 12.5), S_OK);
        const double reached = Value(&IMediaSource::get_audioTime, source.Get());
        EXPECT_LE(reached, target + 12.5);
        EXPECT_LT(target + 12.5 - reached, 2000.0 / 44100.0);
        const Pcm pcm = ReadAudioToEnd(source.Get(), 500.0);
        EXPECT_TRUE(pcm.firstDiscontinuity);
        EXPECT_NEAR(reached + pcm.duration, AudioDuration(source.Get()), 0.1);
    }
}

TEST_F(FlashFile5EndToEndTest, TheSecondOpenTakesTheIndexFromTheCacheWithoutAWalk) {
    REQUIRE_SAMPLE(file, kLarge);
    auto params = OpenParams(file, L"large");
    std::uint64_t before = File::TotalBytesRead();
    ASSERT_EQ(Open(source.Get(), params.Get()), S_OK);
    const std::uint64_t walked = File::TotalBytesRead() - before;
    EXPECT_GE(walked, fs::file_size(file));
    EXPECT_TRUE(fs::exists(CacheFile("v", "large")));
    EXPECT_TRUE(fs::exists(CacheFile("a", "large")));
    // The host's container holds the audio stream's information after the open.
    auto settings = ParamsOf(params.Get(), L"FLVSettings");
    ASSERT_TRUE(settings);
    EXPECT_TRUE(Has(settings.Get(), L"AudioCodecType"));
    EXPECT_FALSE(Has(settings.Get(), L"VideoCodecType"));
    Frame first;
    ASSERT_TRUE(ReadFrame(source.Get(), first));
    const double videoDuration = VideoDuration(source.Get());
    const double audioDuration = AudioDuration(source.Get());

    auto again = NewSource();
    before = File::TotalBytesRead();
    ASSERT_EQ(Open(again.Get(), OpenParams(file, L"large").Get()), S_OK);
    const std::uint64_t loaded = File::TotalBytesRead() - before;
    EXPECT_LT(loaded * 2, walked) << "read " << loaded << " bytes against " << walked;
    // The stream objects work from the cached index.
    EXPECT_EQ(VideoDuration(again.Get()), videoDuration);
    EXPECT_EQ(AudioDuration(again.Get()), audioDuration);
    Frame same;
    ASSERT_TRUE(ReadFrame(again.Get(), same));
    EXPECT_EQ(same.md5, first.md5);
    ASSERT_EQ(again->SeekVideo(0, 0, 4000.0), S_OK);
    ASSERT_TRUE(ReadFrame(again.Get(), same));
    EXPECT_DOUBLE_EQ(same.time, 4000.0);
}

TEST_F(FlashFile5EndToEndTest, ReOpenFollowsAFileThatIsStillBeingWritten) {
    REQUIRE_SAMPLE(file, kFlv1Mp3);
    const std::string whole = Bytes(file);
    // Tag starts (the header and PreviousTagSize0 are 13 bytes; a tag is 11 + DataSize + 4).
    std::vector<std::size_t> starts;
    std::vector<bool> isVideo;
    for (std::size_t at = 13; at + 11 <= whole.size();) {
        starts.push_back(at);
        isVideo.push_back(whole[at] == 9);
        const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(whole[at + i]); };
        at += 11 + (byte(1) << 16 | byte(2) << 8 | byte(3)) + 4;
    }
    ASSERT_GT(starts.size(), 90u);
    auto videoTagsBefore = [&](std::size_t tags) {
        return static_cast<std::size_t>(std::count(isVideo.begin(), isVideo.begin() + tags, true));
    };
    // Written so far: 40 tags; then up to the middle of tag 80's header; then the rest.
    const std::size_t cuts[] = {starts[40], starts[80] + 7, whole.size()};
    const std::size_t tagsIn[] = {40, 80, starts.size()};
    const fs::path growing = WriteFile("growing.flv", whole.substr(0, cuts[0]));
    ASSERT_EQ(Open(source.Get(), OpenParams(growing, L"growing").Get()), S_OK);

    std::vector<Frame> frames;
    Pcm audio;
    double lastDuration = 0.0;
    for (std::size_t step = 0; step < 3; ++step) {
        SCOPED_TRACE(step);
        if (step > 0) {
            std::ofstream out(growing, std::ios::binary | std::ios::app);
            out << whole.substr(cuts[step - 1], cuts[step] - cuts[step - 1]);
            out.close();
            ASSERT_EQ(source.As<IFlashFile5>()->ReOpenFile(), S_OK);
        }
        EXPECT_GT(VideoDuration(source.Get()), lastDuration);
        lastDuration = VideoDuration(source.Get());
        EXPECT_EQ(StoredEntries(CacheFile("v", "growing"), true), videoTagsBefore(tagsIn[step]));
        // The stream objects deliver what was added.
        const std::vector<Frame> more = ReadVideoToEnd(source.Get());
        EXPECT_FALSE(more.empty());
        frames.insert(frames.end(), more.begin(), more.end());
        const Pcm pcm = ReadAudioToEnd(source.Get());
        EXPECT_GT(pcm.duration, 0.0);
        audio.duration += pcm.duration;
    }
    const std::vector<PeerFrame> peer = PeerFrames(file);
    EXPECT_DOUBLE_EQ(lastDuration, PeerVideoDuration(peer));
    EXPECT_EQ(Md5s(frames), Md5s(peer));
    EXPECT_NEAR(audio.duration, AudioDuration(source.Get()), 0.1);
}

TEST_F(FlashFile5EndToEndTest, TwoReadersAndAnObserverShareOneSourceObject) {
    REQUIRE_SAMPLE(file, kH264Aac);
    ASSERT_EQ(Open(source.Get(), OpenParams(file).Get()), S_OK);
    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    auto check = [&](HRESULT hr) {
        if (hr != S_OK) ++failures;
    };
    std::thread video([&] {
        while (!stop) {
            ComPtr<IUnknown> frame;
            check(source->ReadVideo(0, 0, frame.Put()));
            if (!frame) check(source->SeekVideo(0, 0, 0.0));
        }
    });
    std::thread audio([&] {
        while (!stop) {
            ComPtr<IUnknown> packet;
            check(source->ReadAudio(-1, 0, 40.0, packet.Put()));
            if (!packet) check(source->SeekAudio(-2, 0, 0.0));
        }
    });
    std::thread observer([&] {
        for (int i = 0; !stop; ++i) {
            double value = 0.0;
            check(source->get_videoTime(0, &value));
            check(source->get_audioDuration(-1, &value));
            if (i % 200 == 0) check(source.As<IFlashFile5>()->ReOpenFile());
        }
    });
    std::this_thread::sleep_for(std::chrono::seconds(2));
    stop = true;
    video.join();
    audio.join();
    observer.join();
    EXPECT_EQ(failures, 0);
}

}  // namespace
