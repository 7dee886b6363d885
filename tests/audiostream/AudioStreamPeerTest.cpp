// The audio stream object against ffmpeg on the same files: the PCM delivered, read in requests
// of 20, 100 and 1000 ms, equals ffmpeg's decode for its whole length (the end of the track
// padded with silence), and seeks land within two sample frames of their target.
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "platform/TextConvert.h"
#include "tests/audiostream/AudioStreamHarness.h"
#include "tests/support/FfmpegTools.h"

namespace {

#define REQUIRE_FFMPEG() \
    if (!FfmpegAvailable()) GTEST_SKIP() << "ffmpeg and ffprobe are needed"

struct Sample {
    const char* name;
    const char* arguments;
};
// Two seconds of a tone in each codec the FLV writer takes, at a rate its header can state.
const Sample kSamples[] = {
    {"as_aac.flv", "-f lavfi -i sine=frequency=440:sample_rate=44100 -t 2 -ac 2 -c:a aac"},
    {"as_mp3.flv", "-f lavfi -i sine=frequency=440:sample_rate=44100 -t 2 -ac 2 -c:a libmp3lame"},
    {"as_nellymoser.flv",
     "-f lavfi -i sine=frequency=440:sample_rate=8000 -t 2 -ac 1 -c:a nellymoser"},
    {"as_adpcm.flv", "-f lavfi -i sine=frequency=440:sample_rate=22050 -t 2 -ac 2 -c:a adpcm_swf"},
    {"as_pcm_s16le.flv",
     "-f lavfi -i sine=frequency=440:sample_rate=22050 -t 2 -ac 1 -c:a pcm_s16le"},
    {"as_pcm_u8.flv", "-f lavfi -i sine=frequency=440:sample_rate=11025 -t 2 -ac 2 -c:a pcm_u8"},
};

std::wstring Wide(const std::filesystem::path& path) {
    return Utf8ToWide(path.string());
}

// `delivered` is `expected` up to the point where one of them ends (give or take what the
// decoder still held at the end of the track, less than `slackMs`), and silence after it: the
// padding up to the track's duration.
void ExpectPeerPcm(const std::string& delivered, const std::string& expected, LONG blockAlign,
                   LONG rate, double slackMs = 150.0) {
    ASSERT_FALSE(expected.empty());
    const auto mismatch =
        std::mismatch(delivered.begin(), delivered.end(), expected.begin(), expected.end());
    const auto same = static_cast<std::size_t>(mismatch.first - delivered.begin());
    EXPECT_TRUE(IsSilence(std::string_view(delivered).substr(same)))
        << "the PCM differs from ffmpeg's at byte " << same << " of " << delivered.size();
    const std::size_t common = std::min(delivered.size(), expected.size());
    const double unmatchedMs = static_cast<double>(common - same) / blockAlign * 1000.0 / rate;
    EXPECT_LT(unmatchedMs, slackMs);
}

class AudioStreamPeerTest : public AudioStreamTest {
  protected:
    // Reads the whole track of `path` in requests of 20, 100 and 1000 ms; each time the
    // packets cover the track's duration and their PCM is ffmpeg's `expected`.
    static std::vector<DeliveredPacket> ExpectTrackMatches(const std::filesystem::path& path,
                                                           const std::string& expected) {
        std::vector<DeliveredPacket> packets;
        for (double request : {20.0, 100.0, 1000.0}) {
            SCOPED_TRACE(request);
            const auto stream = OpenedStream(Wide(path));
            if (!stream) break;
            packets = ReadToEnd(stream.Get(), request);
            if (packets.empty()) {
                ADD_FAILURE() << "no audio";
                break;
            }
            EXPECT_EQ(packets.front().time, 0.0);
            const DeliveredPacket& last = packets.back();
            EXPECT_NEAR(last.time + last.duration, Duration(stream.Get()), 1000.0 / last.rate);
            ExpectPeerPcm(Joined(packets), expected, last.blockAlign, last.rate);
        }
        return packets;
    }
};

TEST_F(AudioStreamPeerTest, EveryCodecMatchesFfmpegInEveryRequestSize) {
    REQUIRE_FFMPEG();
    for (const Sample& sample : kSamples) {
        SCOPED_TRACE(sample.name);
        const auto path = GeneratedSample(sample.name, sample.arguments);
        ASSERT_TRUE(path) << "ffmpeg could not make the sample";
        const auto packets = ExpectTrackMatches(*path, DecodedPcm(*path));
        ASSERT_FALSE(packets.empty());
        EXPECT_GT(packets.back().time + packets.back().duration, 1800.0);
    }
}

TEST_F(AudioStreamPeerTest, RealFilesMatchFfmpeg) {
    REQUIRE_FFMPEG();
    // Speex whose tags span twice the audio they hold (the rest of the track is padding), and
    // a Nellymoser recording.
    for (const char* name : {"h264_speex_zero_length_tag.flv", "flv1_nellymoser8k_recording.flv"}) {
        SCOPED_TRACE(name);
        const auto path = SharedTestFile(name);
        if (!path) GTEST_SKIP() << "test file " << name << " is not present";
        (void)ExpectTrackMatches(*path, DecodedPcm(*path));
    }
}

TEST_F(AudioStreamPeerTest, AacAtAnotherRateThanTheHeaderClaimsIsConvertedToTheHeaderFormat) {
    REQUIRE_FFMPEG();
    const auto path = SharedTestFile("aac_mono48k_audioonly.flv");
    if (!path) GTEST_SKIP() << "aac_mono48k_audioonly.flv is not present";
    // The header claims 44.1 kHz stereo; the stream is 48 kHz mono.
    const auto packets = ExpectTrackMatches(*path, DecodedPcm(*path, 44100, 2));
    ASSERT_FALSE(packets.empty());
    EXPECT_EQ(packets.front().rate, 44100);
    EXPECT_EQ(packets.front().blockAlign, 4);
}

// The 44.1 kHz stereo case: a 100 ms request is 4410 frames of 4 bytes, stamped 100 ms.
TEST_F(AudioStreamPeerTest, HundredMillisecondsOfStereoAacAre17640Bytes) {
    REQUIRE_FFMPEG();
    const auto path = GeneratedSample(kSamples[0].name, kSamples[0].arguments);
    ASSERT_TRUE(path);
    const auto stream = OpenedStream(Wide(*path));
    ASSERT_TRUE(stream);
    for (int i = 0; i < 3; ++i) {
        const auto packet = ReadPacket(stream.Get(), 100.0);
        ASSERT_TRUE(packet);
        EXPECT_EQ(packet->data.size(), 17640u);
        EXPECT_EQ(packet->duration, 100.0);
        EXPECT_EQ(packet->time, 100.0 * i);
    }
    EXPECT_EQ(Time(stream.Get()), 300.0);
}

TEST_F(AudioStreamPeerTest, SeeksLandWithinTwoSampleFramesOfTheTarget) {
    REQUIRE_FFMPEG();
    for (const Sample& sample : {kSamples[0], kSamples[1], kSamples[4]}) {
        SCOPED_TRACE(sample.name);
        const auto path = GeneratedSample(sample.name, sample.arguments);
        ASSERT_TRUE(path);
        const std::string expected = DecodedPcm(*path);
        const auto stream = OpenedStream(Wide(*path));
        ASSERT_TRUE(stream);
        for (double target : {1234.5, 250.0, 1800.0, 0.0, 777.7}) {
            SCOPED_TRACE(target);
            ASSERT_EQ(stream->Seek(0, target), S_OK);
            const double reached = Time(stream.Get());
            const auto packet = ReadPacket(stream.Get(), 50.0);
            ASSERT_TRUE(packet);
            EXPECT_TRUE(packet->discontinuity);
            EXPECT_LE(reached, target + 1e-9);
            EXPECT_LT(target - reached, 2000.0 / packet->rate);
            if (sample.name == kSamples[4].name) {
                // PCM: the packet is ffmpeg's decode at the time reached, give or take the
                // rounding of the tag times to whole milliseconds.
                const std::size_t frame = std::llround(reached * packet->rate / 1000.0);
                const std::size_t slack = packet->rate / 1000 + 2;
                const std::size_t from = (frame > slack ? frame - slack : 0) * packet->blockAlign;
                const std::size_t at = expected.find(packet->data, from);
                ASSERT_NE(at, std::string::npos);
                EXPECT_LE(at / packet->blockAlign, frame + slack);
            }
        }
    }
}

}  // namespace
