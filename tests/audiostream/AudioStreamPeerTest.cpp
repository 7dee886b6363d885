// The audio stream object against ffmpeg on the same files: the PCM delivered, read in requests
// of 20, 100 and 1000 ms, equals ffmpeg's decode for its whole length (the end of the track
// padded with silence), and seeks land within two sample frames of their target.
#include <cmath>

#include "tests/audiostream/AudioStreamHarness.h"

namespace {

// Two seconds of a tone: AAC (configured by its sequence header), MP3, and linear PCM (no
// codec; compared bit for bit in the seeks). The other codecs differ only in the decoder.
const Sample kSamples[] = {
    {"as_aac.flv", "-f lavfi -i sine=frequency=440:sample_rate=44100 -t 2 -ac 2 -c:a aac"},
    {"as_mp3.flv", "-f lavfi -i sine=frequency=440:sample_rate=44100 -t 2 -ac 2 -c:a libmp3lame"},
    {"as_pcm_s16le.flv",
     "-f lavfi -i sine=frequency=440:sample_rate=22050 -t 2 -ac 1 -c:a pcm_s16le"},
};

// Reads the whole track of `path` in requests of 20, 100 and 1000 ms; each time the packets
// start at 0, cover the track's duration, and their PCM is ffmpeg's `expected`. Answers the
// packets of the last pass.
std::vector<PcmPacket> ExpectTrackMatches(const std::filesystem::path& path,
                                          const std::string& expected) {
    std::vector<PcmPacket> packets;
    for (double request : {20.0, 100.0, 1000.0}) {
        SCOPED_TRACE(request);
        const auto stream = OpenAudioStream(path);
        packets = ReadToEnd(stream.Get(), request);
        EXPECT_FALSE(packets.empty()) << "no audio";
        if (packets.empty()) break;
        EXPECT_EQ(packets.front().time, 0.0);
        const PcmPacket& last = packets.back();
        EXPECT_NEAR(last.time + last.duration, Duration(stream.Get()), 1000.0 / last.rate);
        std::string pcm;
        for (const auto& packet : packets) pcm += packet.data;
        ExpectPcmLikePeer(pcm, expected, last.blockAlign, last.rate);
    }
    return packets;
}

// Each sample read whole in every request size; then seeks land at most two sample frames before
// their target and mark the next packet; for PCM that packet is ffmpeg's decode at the time
// reached (give or take the rounding of tag times to whole milliseconds).
TEST(AudioStreamPeer, EveryCodecMatchesFfmpegAndSeeksLandWithinTwoSampleFrames) {
    if (!FfmpegAvailable()) GTEST_SKIP() << "ffmpeg and ffprobe are needed";
    for (const Sample& sample : kSamples) {
        SCOPED_TRACE(sample.name);
        const auto path = GeneratedSample(sample.name, sample.arguments);
        ASSERT_TRUE(path) << "ffmpeg could not make the sample";
        const std::string expected = DecodedPcm(*path);
        const auto packets = ExpectTrackMatches(*path, expected);
        ASSERT_FALSE(packets.empty());
        EXPECT_GT(packets.back().time + packets.back().duration, 1800.0);
        const auto stream = OpenAudioStream(*path);
        for (double target : {1234.5, 250.0, 1800.0, 0.0, 777.7}) {
            SCOPED_TRACE(target);
            ASSERT_EQ(stream->Seek(0, target), S_OK);
            const double reached = Time(stream.Get());
            const auto packet = ReadPacket(stream.Get(), 50.0);
            ASSERT_TRUE(packet);
            EXPECT_TRUE(packet->discontinuity);
            EXPECT_LE(reached, target + 1e-9);
            EXPECT_LT(target - reached, 2000.0 / packet->rate);
            if (sample.name != kSamples[2].name) continue;  // PCM only
            const std::size_t frame = std::llround(reached * packet->rate / 1000.0);
            const std::size_t slack = packet->rate / 1000 + 2;
            const std::size_t from = (frame > slack ? frame - slack : 0) * packet->blockAlign;
            const std::size_t at = expected.find(packet->data, from);
            ASSERT_NE(at, std::string::npos);
            EXPECT_LE(at / packet->blockAlign, frame + slack);
        }
    }
}

// Real files (when present): Speex whose tags span twice the audio they hold (the rest of the
// track is padding), and AAC whose header claims 44.1 kHz stereo over a 48 kHz mono stream:
// delivered converted to the header's format.
TEST(AudioStreamPeer, RealFilesWithPaddingOrAnotherRateThanTheHeader) {
    if (!FfmpegAvailable()) GTEST_SKIP() << "ffmpeg and ffprobe are needed";
    if (const auto path = SharedTestFile("h264_speex_zero_length_tag.flv"))
        ExpectTrackMatches(*path, DecodedPcm(*path));
    if (const auto path = SharedTestFile("aac_mono48k_audioonly.flv")) {
        const auto packets = ExpectTrackMatches(*path, DecodedPcm(*path, 44100, 2));
        ASSERT_FALSE(packets.empty());
        EXPECT_TRUE(packets.front().rate == 44100 && packets.front().blockAlign == 4);
    }
}

}  // namespace
