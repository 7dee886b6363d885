// flvhost against ffmpeg on a file for every codec pair that Debian's ffmpeg writes into FLV:
// the index against ffprobe's packets, the audio against ffmpeg's 16-bit decode, and thumbnails
// against ffmpeg's frame at the same time. The pictures and their times against ffmpeg's
// framemd5 on those files and on recordings as real servers and encoders leave them.
#include <algorithm>
#include <fstream>
#include <functional>

#include "tests/support/ComponentTestSupport.h"
#include "tests/tools/FlvhostHarness.h"

namespace {
namespace fs = std::filesystem;

struct CodecPair {
    const char* name;  // sample file name, also the test's name
    int frameRate, sampleRate;
    const char* codecs;
};

// Short, tiny clips; screen video at 10 frames per second (its encoders are slow).
const CodecPair kPairs[] = {
    {"flv1_mp3", 25, 44100, "-c:v flv1 -g 10 -c:a libmp3lame -ac 2"},
    {"h264_aac", 25, 44100, "-c:v libx264 -bf 2 -g 12 -pix_fmt yuv420p -c:a aac -ac 2"},
    {"flashsv_adpcm", 10, 22050, "-c:v flashsv -g 5 -c:a adpcm_swf -ac 1"},
    {"flashsv2_pcms16", 10, 44100, "-c:v flashsv2 -g 5 -c:a pcm_s16le -ac 2"},
    {"flv1_nellymoser", 25, 22050, "-c:v flv1 -c:a nellymoser -ac 1"},
    {"h264_pcmu8", 25, 11025, "-c:v libx264 -pix_fmt yuv420p -c:a pcm_u8 -ac 1"},
};

// How much of the end of the PCM may differ from ffmpeg's: what a decoder still held when the
// track ended, and the silence that pads the last block.
constexpr double kPcmEndToleranceMs = 150.0;

class Conformance : public ::testing::TestWithParam<CodecPair> {
  protected:
    void SetUp() override {
        const CodecPair& pair = GetParam();
        REQUIRE_TOOLS_SAMPLE(sample, std::string("tools_") + pair.name + ".flv",
                             Clip(pair.frameRate, pair.sampleRate, pair.codecs));
        file = sample;
    }
    fs::path file;
};

TEST_P(Conformance, IndexCsvIsFfprobesPackets) {
    const HostRun run = RunFlvhost("index " + Quote(file) + " --csv");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::vector<std::string> lines = Lines(run.out);
    const std::vector<ProbePacket> peer = ProbePackets(file);
    ASSERT_EQ(lines.size(), peer.size() + 1);
    EXPECT_EQ(lines[0], "kind,position,time_ms,frame_type");
    for (std::size_t i = 0; i < peer.size(); ++i) {
        SCOPED_TRACE(lines[i + 1]);
        const std::vector<std::string> fields = Fields(lines[i + 1]);
        ASSERT_EQ(fields.size(), 4u);
        EXPECT_EQ(fields[0], peer[i].video ? "video" : "audio");
        EXPECT_EQ(std::stoull(fields[1]), peer[i].position);
        EXPECT_EQ(std::stoll(fields[2]), peer[i].ptsMs);
        // Frame type 1 for video keyframes only; 2 for all audio (each a keyframe to ffprobe).
        EXPECT_EQ(fields[3] == "1", peer[i].video && peer[i].keyframe);
        EXPECT_TRUE(peer[i].video || fields[3] == "2");
    }
}

TEST_P(Conformance, AudioIsFfmpegsDecodeForTheTracksLength) {
    const fs::path wavPath = OutputPath(std::string(GetParam().name) + ".wav");
    const HostRun run = RunFlvhost("audio " + Quote(file) + " -o " + Quote(wavPath));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const WavFile wav = ReadWav(wavPath);
    ASSERT_TRUE(wav.valid);  // 16-bit PCM
    // The rate and channels the clip was made with.
    EXPECT_EQ(wav.sampleRate, GetParam().sampleRate);
    EXPECT_EQ(wav.channels, Mentions(GetParam().codecs, "-ac 2") ? 2 : 1);

    // The track's length as the component reports it: the time of its last tag.
    const HostRun info = RunFlvhost("info " + Quote(file) + " --json");
    ASSERT_EQ(info.exitCode, 0) << info.err;
    const auto durationAt = info.out.find("\"duration_ms\"", info.out.find("\"audio\""));
    ASSERT_NE(durationAt, std::string::npos) << info.out;
    const double trackMs = std::stod(info.out.substr(info.out.find(':', durationAt) + 1));
    const double frames = static_cast<double>(wav.samples.size()) / wav.blockAlign;
    EXPECT_NEAR(frames, trackMs * wav.sampleRate / 1000.0, 2.0);

    // ffmpeg's decode over that length: the same samples up to the last moments, where the
    // decoder's tail or the padding silence may differ.
    const std::string expected = DecodedPcm(file);
    const auto tolerance =
        static_cast<std::size_t>(kPcmEndToleranceMs * wav.blockAlign * wav.sampleRate / 1000.0);
    EXPECT_GE(expected.size() + tolerance, wav.samples.size());
    const auto mismatch =
        std::mismatch(wav.samples.begin(), wav.samples.end(), expected.begin(), expected.end());
    const auto same = static_cast<std::size_t>(mismatch.first - wav.samples.begin());
    const std::size_t common = std::min(wav.samples.size(), expected.size());
    EXPECT_LE(common - same, tolerance)
        << "the PCM differs from ffmpeg's at byte " << same << " of " << common;
}

TEST_P(Conformance, ThumbIsFfmpegsFrameAtThatTime) {
    constexpr std::size_t kFrameBytes = 160 * 120 * 3;
    const std::vector<FrameHash> starts = VideoFrameHashes(file);  // for their times
    const std::string peer = RgbPixels(file);
    ASSERT_GE(starts.size(), 4u);
    ASSERT_EQ(peer.size(), starts.size() * kFrameBytes);
    // A frame's own start, a time between two starts, and the very start.
    const std::size_t middle = starts.size() / 2;
    for (double at :
         {double(starts[middle].pts), (starts[middle].pts + starts[middle + 1].pts) / 2.0, 0.0}) {
        SCOPED_TRACE(at);
        const fs::path png = OutputPath(std::string(GetParam().name) + ".png");
        const HostRun run = RunFlvhost("thumb " + Quote(file) + " --at " + std::to_string(at) +
                                       " -o " + Quote(png));
        ASSERT_EQ(run.exitCode, 0) << run.err;
        // The frame on screen: the last one that starts at or before the time.
        const auto shown = static_cast<std::size_t>(&PeerAt(starts, at) - starts.data());
        // BGR24 from the same conversion ffmpeg makes for rgb24: the pixels are exact.
        EXPECT_TRUE(RgbPixels(png) == peer.substr(shown * kFrameBytes, kFrameBytes))
            << "not ffmpeg's frame " << shown << " at " << at << " ms";
    }
}

INSTANTIATE_TEST_SUITE_P(CodecPairs, Conformance, ::testing::ValuesIn(kPairs),
                         [](const ::testing::TestParamInfo<CodecPair>& info) {
                             return std::string(info.param.name);
                         });

// A file for the pictures test: a real file of the shared test data or an ffmpeg clip, and the
// edit at the tag level that makes a recording of it (none: the file as it is).
struct PictureFile {
    std::string name;
    const char* shared;
    std::string clip;
    std::function<std::string(const std::string&)> edit;
};

std::vector<PictureFile> PictureFiles() {
    std::vector<PictureFile> files;
    for (const CodecPair& pair : kPairs) {
        files.push_back(
            {pair.name, nullptr, Clip(pair.frameRate, pair.sampleRate, pair.codecs), {}});
    }
    const std::string h264 = "-c:v libx264 -bf 2 -g 12 -pix_fmt yuv420p";
    // Joined inside a group of pictures: the first keyframe comes 7 frames in.
    files.push_back({"h264_joined_late", nullptr, Clip(25, 44100, h264 + " -c:a aac", 2),
                     [](const std::string& flv) { return JoinedLate(flv, 5); }});
    files.push_back({"flv1_joined_late", nullptr, Clip(25, 44100, "-c:v flv1 -g 10 -an", 2),
                     [](const std::string& flv) { return JoinedLate(flv, 5); }});
    // 10 columns and 12 rows cut off the pictures.
    files.push_back({"vp6_adjusted", "vp6_mp3.flv", "",
                     [](const std::string& flv) { return WithVp6Adjustment(flv, 0xAC); }});
    // The metadata names VP6 with alpha where the tags hold plain VP6.
    files.push_back({"vp6_metadata_contradicted", "vp6_mp3.flv", "", [](std::string flv) {
                         const auto at = flv.find("videocodecid");
                         if (at == std::string::npos) return std::string();
                         // The AMF0 number after the name: marker 0, then 5.0 as a double.
                         flv.replace(at + 12, 9, std::string("\x00\x40\x14\0\0\0\0\0\0", 9));
                         return flv;
                     }});
    // The encoder restarted at another size, profile and level.
    files.push_back(
        {"h264_restarted", nullptr, Clip(25, 44100, h264 + " -an"), [h264](const std::string& flv) {
             const auto second = GeneratedSample(
                 "tools_h264_128x96_high.flv",
                 "-f lavfi -i testsrc2=size=128x96:rate=25 -t 1 " + h264 + " -profile:v high");
             return second ? EncoderRestarted(flv, FileBytes(*second)) : std::string();
         }});
    return files;
}

class Pictures : public ::testing::TestWithParam<PictureFile> {};

// Each picture is ffmpeg's (consecutive repeats folded: flvhost delivers a picture shown over
// 500 ms in pieces) at ffmpeg's time, from the second on: the first covers the track from 0.
// Pictures ffmpeg shows before the first keyframe are left out (VideoFrameHashes).
TEST_P(Pictures, AreFfmpegsAtItsTimes) {
    const PictureFile& c = GetParam();
    if (!FfmpegAvailable()) GTEST_SKIP() << "ffmpeg and ffprobe are needed";
    const auto made =
        c.shared ? SharedTestFile(c.shared) : GeneratedSample("tools_" + c.name + ".flv", c.clip);
    if (c.shared && !made) GTEST_SKIP() << c.shared << " is not in the shared test data";
    ASSERT_TRUE(made) << "ffmpeg could not make " << c.name;
    fs::path file = *made;
    if (c.edit) {
        file = OutputPath(c.name + ".flv");
        const std::string bytes = c.edit(FileBytes(*made));
        ASSERT_FALSE(bytes.empty());
        std::ofstream(file, std::ios::binary) << bytes;
    }
    const HostRun run = RunFlvhost("frames " + Quote(file) + " --md5");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::vector<std::pair<double, std::string>> ours, peer;
    const auto fold = [](auto& pictures, double time, const std::string& md5) {
        if (pictures.empty() || pictures.back().second != md5) pictures.emplace_back(time, md5);
    };
    for (const std::string& line : Lines(run.out)) {
        // start_ms,duration_ms,discontinuity,md5
        const std::vector<std::string> fields = Fields(line);
        ASSERT_EQ(fields.size(), 4u) << line;
        fold(ours, std::stod(fields[0]), fields[3]);
    }
    for (const FrameHash& frame : VideoFrameHashes(file)) {
        fold(peer, static_cast<double>(frame.pts), frame.md5);
    }
    ASSERT_EQ(ours.size(), peer.size());
    EXPECT_EQ(ours[0].first, 0.0);
    for (std::size_t i = 0; i < ours.size(); ++i) {
        EXPECT_EQ(ours[i].second, peer[i].second) << "picture " << i << " at " << ours[i].first;
        if (i > 0) {
            EXPECT_NEAR(ours[i].first, peer[i].first, 1.0) << "picture " << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Recordings, Pictures, ::testing::ValuesIn(PictureFiles()),
                         [](const ::testing::TestParamInfo<PictureFile>& info) {
                             return info.param.name;
                         });
}  // namespace
