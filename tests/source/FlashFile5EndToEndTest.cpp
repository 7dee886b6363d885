// The source object with the real stream objects on files made by ffmpeg: everything read
// through ReadVideo and ReadAudio against ffmpeg's decode, seeks, the index cache, re-opening a
// file that is still being written, and reading from several threads at once.
#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include "platform/File.h"
#include "tests/source/SourceHarness.h"

namespace {
namespace fs = std::filesystem;

// H.264 with two B-frames between references (keyframes every 12 frames), and AAC.
const Sample kH264Aac{"src_h264_aac.flv",
                      "-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi "
                      "-i sine=frequency=440:sample_rate=44100 -t 2 -c:v libx264 -bf 2 -g 12 "
                      "-pix_fmt yuv420p -c:a aac -ac 2"};
// Sorenson H.263 (keyframes every 10 frames) and MP3, in large frames: a walk of the file
// reads far more than opening it with a cached index does.
const Sample kFlv1Mp3{"src_flv1_mp3_large.flv",
                      "-f lavfi -i testsrc2=size=640x480:rate=25 -f lavfi "
                      "-i sine=frequency=440:sample_rate=44100 -t 2 -c:v flv1 -q:v 1 -g 10 "
                      "-c:a libmp3lame -ac 2"};

std::optional<ReadFrame> NextFrame(IMediaSource* source) {
    ComPtr<IUnknown> data;
    EXPECT_EQ(source->ReadVideo(0, 0, data.Put()), S_OK);
    return FrameOf(data.Get());
}

// The audio from where the track stands to its end, read in requests of `request` ms, as one
// packet: the first packet's time and mark, the durations and the PCM of all.
PcmPacket ReadAudioToEnd(IMediaSource* source, double request = 100.0) {
    PcmPacket all;
    for (bool first = true;; first = false) {
        ComPtr<IUnknown> data;
        EXPECT_EQ(source->ReadAudio(0, 0, request, data.Put()), S_OK);
        const auto packet = PcmPacketOf(data.Get());
        if (!packet) return all;
        if (first) {
            all = *packet;
        } else {
            all.duration += packet->duration;
            all.data += packet->data;
        }
    }
}

double Duration(IMediaSource* source, bool video) {
    double value = -1.0;
    EXPECT_EQ(video ? source->get_videoDuration(0, &value) : source->get_audioDuration(0, &value),
              S_OK);
    return value;
}

class FlashFile5EndToEndTest : public SourceTest {
  protected:
    ComPtr<IMediaSource> source = NewSource();
};

// The first open with a hash walks the file and writes both cache files, and the host's
// container holds the audio stream's "FLVSettings" afterwards. A second source opens the file
// with the cached index, reading far less than the walk did (when the file is large enough for
// the difference to show), and through it: every frame is ffmpeg's frame of its time, the frames
// tile the track, and all the audio is ffmpeg's sound on the tags' times. Then seeks: the next
// frame starts at the target, marked, showing ffmpeg's frame of that time; the audio lands within
// two sample frames, marked, and reads on to the end.
TEST_F(FlashFile5EndToEndTest, ReadsAndSeeksFromTheCachedIndexGiveFfmpegsDecode) {
    for (const Sample& sample : {kH264Aac, kFlv1Mp3}) {
        SCOPED_TRACE(sample.name);
        REQUIRE_SAMPLE(file, sample);
        const auto params = OpenParams(file, L"hash");
        std::uint64_t before = File::TotalBytesRead();
        ASSERT_EQ(Open(NewSource().Get(), params.Get()), S_OK);
        const std::uint64_t walked = File::TotalBytesRead() - before;
        EXPECT_TRUE(fs::exists(CacheFile("v", "hash")) && fs::exists(CacheFile("a", "hash")));
        const auto settings = ParamsOf(params.Get(), L"FLVSettings");
        EXPECT_TRUE(LongOf(settings.Get(), L"AudioCodecType") != 0 &&
                    LongOf(settings.Get(), L"VideoCodecType") == 0);
        before = File::TotalBytesRead();
        ASSERT_EQ(Open(source.Get(), OpenParams(file, L"hash").Get()), S_OK);
        const std::uint64_t loaded = File::TotalBytesRead() - before;
        EXPECT_TRUE(fs::file_size(file) < 0x100000 || loaded * 2 < walked)
            << loaded << " bytes against " << walked;
        RemoveNewFiles();

        ASSERT_EQ(Tracks(source.Get()), std::pair(1, 1));
        const std::vector<FrameHash> peer = PeerFrames(file);
        const double duration = static_cast<double>(peer.back().pts) + 40.0;  // 25 fps
        EXPECT_DOUBLE_EQ(Duration(source.Get(), true), duration);
        std::vector<ReadFrame> frames;
        while (auto frame = NextFrame(source.Get())) frames.push_back(*frame);
        ExpectFramesLikePeer(frames, peer, duration, PeerCoverage::kEveryFrameOnce);
        const PcmPacket pcm = ReadAudioToEnd(source.Get());
        ExpectSoundLikePeer(pcm.data, TimelinePcm(file), pcm.blockAlign, pcm.rate);
        EXPECT_NEAR(pcm.duration, Duration(source.Get(), false), 1000.0 / pcm.rate);

        for (double target : {1000.0, 360.0, 1960.0, 0.0}) {
            SCOPED_TRACE(target);
            ASSERT_EQ(source->SeekVideo(-1, 0, target), S_OK);
            const auto frame = NextFrame(source.Get());
            ASSERT_TRUE(frame);
            EXPECT_TRUE(frame->time == target && frame->discontinuity);
            EXPECT_EQ(frame->md5, PeerAt(peer, target).md5);
            ASSERT_EQ(source->SeekAudio(-2, 0, target + 12.5), S_OK);
            double reached = -1.0;
            ASSERT_EQ(source->get_audioTime(0, &reached), S_OK);
            EXPECT_TRUE(reached <= target + 12.5 && target + 12.5 - reached < 2000.0 / 44100.0)
                << reached;
            const PcmPacket rest = ReadAudioToEnd(source.Get(), 500.0);
            EXPECT_TRUE(rest.discontinuity);
            EXPECT_NEAR(reached + rest.duration, Duration(source.Get(), false), 0.1);
        }
    }
}

// "DecodeColorSpace" decides the frames a host reads: set on a closed object it holds for the
// next open's first frame; set while a file is open it holds from the next frame read.
TEST_F(FlashFile5EndToEndTest, TheColourSpaceAskedForIsTheOneDelivered) {
    REQUIRE_SAMPLE(file, kH264Aac);
    VARIANT colourSpace{};
    colourSpace.vt = VT_I4;
    colourSpace.lVal = 2;  // BGRA
    ASSERT_EQ(source->SetParam(Bstr(L"DecodeColorSpace").Get(), colourSpace), S_OK);
    ASSERT_EQ(Open(source.Get(), OpenParams(file).Get()), S_OK);
    const auto first = NextFrame(source.Get()), second = NextFrame(source.Get());
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->size, 160 * 120 * 4);
    ASSERT_EQ(source->SeekVideo(0, 0, first->time), S_OK);
    colourSpace.lVal = 1;  // BGR24
    ASSERT_EQ(source->SetParam(Bstr(L"DecodeColorSpace").Get(), colourSpace), S_OK);
    for (const auto& expected : {first, second}) {
        const auto frame = NextFrame(source.Get());
        ASSERT_TRUE(frame);
        EXPECT_EQ(frame->size, 160 * 120 * 3);
        EXPECT_TRUE(frame->time == expected->time && frame->duration == expected->duration);
    }
}

// A file written in three steps (40 tags; up to the middle of tag 80's header; the rest), with
// ReOpenFile after each: the durations grow, the cache follows (a new source opened from it
// finds the same duration), and the stream objects deliver what was added, in the end every
// frame of ffmpeg's and all the audio.
TEST_F(FlashFile5EndToEndTest, ReOpenFollowsAFileThatIsStillBeingWritten) {
    REQUIRE_SAMPLE(file, kFlv1Mp3);
    const std::string whole = FileBytes(file);
    const std::vector<FlvTag> tags = TagsOf(whole);
    ASSERT_GT(tags.size(), 90u);
    const std::size_t cuts[] = {tags[40].offset, tags[80].offset + 7, whole.size()};
    const fs::path growing = temp.Write("growing.flv", whole.substr(0, cuts[0]));
    ASSERT_EQ(Open(source.Get(), OpenParams(growing, L"growing").Get()), S_OK);
    std::vector<ReadFrame> frames;
    double audio = 0.0, lastDuration = 0.0;
    for (std::size_t step = 0; step < 3; ++step) {
        SCOPED_TRACE(step);
        if (step > 0) {
            std::ofstream(growing, std::ios::binary | std::ios::app)
                << whole.substr(cuts[step - 1], cuts[step] - cuts[step - 1]);
            ASSERT_EQ(source.As<IFlashFile5>()->ReOpenFile(), S_OK);
        }
        EXPECT_GT(Duration(source.Get(), true), lastDuration);
        lastDuration = Duration(source.Get(), true);
        const auto cached = NewSource();
        ASSERT_EQ(Open(cached.Get(), OpenParams(growing, L"growing").Get()), S_OK);
        EXPECT_EQ(Duration(cached.Get(), true), lastDuration);
        const std::size_t read = frames.size();
        while (auto frame = NextFrame(source.Get())) frames.push_back(*frame);
        EXPECT_GT(frames.size(), read) << "no new frames";
        audio += ReadAudioToEnd(source.Get()).duration;
    }
    const std::vector<FrameHash> peer = PeerFrames(file);
    ExpectFramesLikePeer(frames, peer, static_cast<double>(peer.back().pts) + 40.0,
                         PeerCoverage::kEveryFrameOnce);
    EXPECT_NEAR(audio, Duration(source.Get(), false), 0.1);
}

// Video read on one thread, audio on another, the time getters (and now and then ReOpenFile) on
// a third, for two seconds: under the sanitizers, no report, no deadlock, every call succeeds.
TEST_F(FlashFile5EndToEndTest, TwoReadersAndAnObserverShareOneSourceObject) {
    REQUIRE_SAMPLE(file, kH264Aac);
    ASSERT_EQ(Open(source.Get(), OpenParams(file).Get()), S_OK);
    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    // Each thread joins the multithreaded apartment, as a host's worker threads do, and calls the
    // object directly: the object guards itself with its lock.
    auto loop = [&](auto step) {
        return std::thread([&, step] {
            failures += CoInitializeEx(nullptr, COINIT_MULTITHREADED) != S_OK;
            for (int i = 0; !stop; ++i) failures += step(i) != S_OK;
            CoUninitialize();
        });
    };
    std::thread threads[] = {
        loop([&](int) {
            ComPtr<IUnknown> frame;
            const HRESULT hr = source->ReadVideo(0, 0, frame.Put());
            return frame || hr != S_OK ? hr : source->SeekVideo(0, 0, 0.0);
        }),
        loop([&](int) {
            ComPtr<IUnknown> packet;
            const HRESULT hr = source->ReadAudio(-1, 0, 40.0, packet.Put());
            return packet || hr != S_OK ? hr : source->SeekAudio(-2, 0, 0.0);
        }),
        loop([&](int i) {
            double value = 0.0;
            if (i % 200 == 0) return source.As<IFlashFile5>()->ReOpenFile();
            const HRESULT hr = source->get_videoTime(0, &value);
            return hr != S_OK ? hr : source->get_audioDuration(-1, &value);
        }),
    };
    std::this_thread::sleep_for(std::chrono::seconds(2));
    stop = true;
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(failures, 0);
}

}  // namespace
