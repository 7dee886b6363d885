// The audio stream object against ffmpeg on the codecs whose frames depend on the frames before
// them (MP3 borrows bits from earlier frames; AAC, Nellymoser and Speex carry filter state from
// frame to frame): read straight through, a track is ffmpeg's; after a seek, the sound is what
// reading straight through gives at the time reached.
#include <cmath>

#include "tests/audiostream/AudioStreamHarness.h"

namespace {

// Two seconds of a tone.
const Sample kSamples[] = {
    {"as_mp3.flv", "-f lavfi -i sine=frequency=440:sample_rate=44100 -t 2 -ac 2 -c:a libmp3lame"},
    {"as_aac.flv", "-f lavfi -i sine=frequency=440:sample_rate=44100 -t 2 -ac 2 -c:a aac"},
    {"as_nellymoser.flv",
     "-f lavfi -i sine=frequency=440:sample_rate=22050 -t 2 -ac 1 -c:a nellymoser"},
    {"as_speex.flv", "-f lavfi -i sine=frequency=440:sample_rate=16000 -t 2 -ac 1 -c:a libspeex"},
};

// A seek restarts at a tag whose place among the samples read straight through is known from
// the tags' times, which are whole milliseconds: the stream narrows it down from the decoded
// lengths of the tags before it, but the test allows for the rounding of one time, and compares
// the sound at the best alignment within a millisecond either way.
constexpr double kAlignmentMs = 1.0;
constexpr double kMaxDifferenceDb = -40.0;

TEST(AudioStreamPeer, SeeksGiveTheSoundOfAReadStraightThrough) {
    if (!FfmpegAvailable()) GTEST_SKIP() << "ffmpeg and ffprobe are needed";
    for (const Sample& sample : kSamples) {
        SCOPED_TRACE(sample.name);
        const auto path = GeneratedSample(sample.name, sample.arguments);
        ASSERT_TRUE(path) << "ffmpeg could not make the sample";
        const auto stream = OpenAudioStream(*path);
        ASSERT_TRUE(stream);
        std::string straight;
        LONG rate = 0, blockAlign = 0;
        for (const PcmPacket& packet : ReadToEnd(stream.Get(), 100.0)) {
            straight += packet.data;
            rate = packet.rate;
            blockAlign = packet.blockAlign;
        }
        ExpectSoundLikePeer(straight, TimelinePcm(*path), blockAlign, rate);
        ASSERT_GT(straight.size(), 0u);

        for (double target : {1234.5, 250.0, 1800.0, 777.7, 0.0}) {
            SCOPED_TRACE(target);
            ASSERT_EQ(stream->Seek(0, target), S_OK);
            const double reached = StreamTime(stream.Get());
            const auto packet = ReadPacket(stream.Get(), 150.0);
            ASSERT_TRUE(packet);
            EXPECT_TRUE(packet->discontinuity);
            EXPECT_TRUE(reached <= target && target - reached < 2000.0 / rate) << reached;
            const auto frame = static_cast<long>(std::llround(reached * rate / 1000.0));
            const auto slack = static_cast<long>(kAlignmentMs * rate / 1000.0);
            double best = std::numeric_limits<double>::infinity();
            long bestShift = 0;
            for (long shift = -slack; shift <= slack; ++shift) {
                const double db =
                    DifferenceDb(packet->data, straight, blockAlign / 2, frame + shift);
                if (db < best) {
                    best = db;
                    bestShift = shift;
                }
            }
            EXPECT_LE(best, kMaxDifferenceDb) << "best at " << bestShift << " sample frames";
        }
    }
}

}  // namespace
