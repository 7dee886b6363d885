// flvhost against ffmpeg on a file for every codec pair that Debian's ffmpeg writes into FLV:
// the index against ffprobe's packets, and thumbnails against ffmpeg's frame at the same time.
// The pictures and their times against ffmpeg's framemd5 on those files and on recordings as real
// servers and encoders leave them. Then the audio of every codec, of tracks whose tags were moved
// in time and of real files against ffmpeg's sound on the tags' times.
#include <algorithm>
#include <fstream>
#include <functional>

#include "tests/support/ComponentTestSupport.h"
#include "tests/support/FlvBuilder.h"
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

// What is done to a sample's audio tags before the comparison (AAC sequence headers stay).
enum class Edit {
    kNone,
    kLateFirstTag,  // every tag 537 ms later
    kGap,           // the tags from 400 ms on 350 ms later
    kOverlap,       // the tags from 400 ms on 250 ms earlier
    kSmallGap,      // the tags from 400 ms on 60 ms later: left alone
    kOneTag,        // only the first tag
    kStereoFlag,    // SoundType set to stereo (ffmpeg writes stereo G.711 with the mono flag)
    kAacRestarted,  // followed by a mono 22050 Hz encode's tags, its sequence header first
};

struct AudioCase {
    const char* name;    // the test's name, and the edited file's
    const char* sample;  // a generated sample (with `arguments`), or a file of the shared test data
    const char* arguments;
    Edit edit;
};

// One second of a tone.
#define TONE(rate, codec) "-f lavfi -i sine=frequency=440:sample_rate=" #rate " -t 1 " codec
const AudioCase kAudioCases[] = {
    {"mp3", "tools_a_mp3.flv", TONE(44100, "-ac 2 -c:a libmp3lame"), Edit::kNone},
    {"aac", "tools_a_aac.flv", TONE(44100, "-ac 2 -c:a aac"), Edit::kNone},
    {"adpcm", "tools_a_adpcm.flv", TONE(22050, "-ac 1 -c:a adpcm_swf"), Edit::kNone},
    {"pcm_s16le", "tools_a_s16.flv", TONE(44100, "-ac 2 -c:a pcm_s16le"), Edit::kNone},
    {"pcm_u8", "tools_a_u8.flv", TONE(11025, "-ac 1 -c:a pcm_u8"), Edit::kNone},
    {"nellymoser", "tools_a_nellymoser.flv", TONE(22050, "-ac 1 -c:a nellymoser"), Edit::kNone},
    {"alaw", "tools_a_alaw.flv", TONE(8000, "-ac 1 -c:a pcm_alaw"), Edit::kNone},
    {"mulaw_stereo", "tools_a_mulaw2.flv", TONE(8000, "-ac 2 -c:a pcm_mulaw"), Edit::kStereoFlag},
    {"speex_real", "h264_speex_zero_length_tag.flv", nullptr, Edit::kNone},
    {"aac_real_mono48k", "aac_mono48k_audioonly.flv", nullptr, Edit::kNone},
    {"aac_late_first_tag", "tools_a_aac.flv", TONE(44100, "-ac 2 -c:a aac"), Edit::kLateFirstTag},
    {"mp3_gap", "tools_a_mp3.flv", TONE(44100, "-ac 2 -c:a libmp3lame"), Edit::kGap},
    {"nellymoser_overlap", "tools_a_nellymoser.flv", TONE(22050, "-ac 1 -c:a nellymoser"),
     Edit::kOverlap},
    {"pcm_small_gap", "tools_a_s16.flv", TONE(44100, "-ac 2 -c:a pcm_s16le"), Edit::kSmallGap},
    {"aac_one_tag", "tools_a_aac.flv", TONE(44100, "-ac 2 -c:a aac"), Edit::kOneTag},
    {"adpcm_one_tag", "tools_a_adpcm.flv", TONE(22050, "-ac 1 -c:a adpcm_swf"), Edit::kOneTag},
    {"aac_restarted", "tools_a_aac.flv", TONE(44100, "-ac 2 -c:a aac"), Edit::kAacRestarted},
};

std::string Edited(const std::string& flv, Edit edit) {
    std::string edited = flv.substr(0, 13);
    bool first = true;
    for (const FlvTag& tag : TagsOf(flv)) {
        std::string bytes = flv.substr(tag.offset, 11 + tag.body.size() + 4);
        const auto header = static_cast<std::uint8_t>(tag.body.empty() ? 0 : tag.body[0]);
        const bool sound = tag.type == 8 && !tag.body.empty() &&
                           !(header >> 4 == 10 && tag.body.size() > 1 && tag.body[1] == 0);
        if (sound) {
            const bool later = tag.time >= 400;
            std::uint32_t time = tag.time;
            if (edit == Edit::kLateFirstTag) time += 537;
            if (edit == Edit::kGap && later) time += 350;
            if (edit == Edit::kOverlap && later) time -= 250;
            if (edit == Edit::kSmallGap && later) time += 60;
            if (edit == Edit::kOneTag && !first) continue;
            if (edit == Edit::kStereoFlag) bytes[11] = static_cast<char>(header | 1);
            first = false;
            SetTagTime(bytes, 0, time);
        }
        edited += bytes;
    }
    if (edit == Edit::kAacRestarted) {
        // The encoder restarted with another configuration where the first sound ends.
        const auto second =
            GeneratedSample("tools_a_aac_mono22k.flv", TONE(22050, "-ac 1 -c:a aac"));
        if (!second) return {};
        const std::uint32_t start = TagsOf(flv).back().time + 24;
        FlvBuilder restarted;
        for (const FlvTag& tag : TagsOf(FileBytes(*second))) {
            if (tag.type == 8) restarted.Tag(8, start + tag.time, tag.body);
        }
        edited += restarted.Bytes().substr(13);
    }
    return edited;
}

#undef TONE

// A number of the "audio" object of `flvhost info --json`.
double AudioInfo(const std::string& json, const std::string& key) {
    const auto at = json.find("\"" + key + "\"", json.find("\"audio\""));
    return at == std::string::npos ? -1.0 : std::stod(json.substr(json.find(':', at) + 1));
}

class AudioConformance : public ::testing::TestWithParam<AudioCase> {};

// `flvhost audio F -o -` against ffmpeg's sound on the tags' times (TimelinePcm), at the rate
// and channels that flvhost info announces (G.711 at 8 kHz): within -40 dB of difference and
// 60 ms of length. The duration that info reports is the length of that sound (the end of the
// latest tag's sound) to within the same 60 ms. The first case also writes a WAV file, which
// holds the same samples behind a header of that format.
TEST_P(AudioConformance, AudioIsFfmpegsSoundOnTheTagsTimes) {
    const AudioCase& audio = GetParam();
    if (!FfmpegAvailable()) GTEST_SKIP() << "ffmpeg and ffprobe are needed";
    std::optional<fs::path> sample = audio.arguments == nullptr
                                         ? SharedTestFile(audio.sample)
                                         : GeneratedSample(audio.sample, audio.arguments);
    if (!sample && audio.arguments == nullptr) GTEST_SKIP() << audio.sample << " is not here";
    ASSERT_TRUE(sample) << "ffmpeg could not make " << audio.sample;
    fs::path file = *sample;
    if (audio.edit != Edit::kNone) {
        file = OutputPath(std::string(audio.name) + ".flv");
        std::ofstream(file, std::ios::binary) << Edited(FileBytes(*sample), audio.edit);
    }

    const HostRun info = RunFlvhost("info " + Quote(file) + " --json");
    ASSERT_EQ(info.exitCode, 0) << info.err;
    const auto rate = static_cast<int>(AudioInfo(info.out, "sample_rate"));
    const auto channels = static_cast<int>(AudioInfo(info.out, "channels"));
    if (Mentions(audio.name, "law")) {
        EXPECT_EQ(rate, 8000);  // G.711, whatever the rate field says
    }
    ASSERT_TRUE(rate > 0 && channels > 0) << info.out;
    const HostRun run = RunFlvhost("audio " + Quote(file) + " -o -");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    // ffmpeg starts its filter graph again, timeline and all, where the decoded format changes:
    // a restarted encoder's sound is compared with its plain decode (the tags leave no gap).
    const std::string expected = audio.edit == Edit::kAacRestarted
                                     ? DecodedPcm(file, rate, channels)
                                     : TimelinePcm(file, rate, channels);
    ExpectSoundLikePeer(run.out, expected, 2 * channels, rate);
    const double expectedMs = static_cast<double>(expected.size()) / (2 * channels) * 1000.0 / rate;
    EXPECT_NEAR(AudioInfo(info.out, "duration_ms"), expectedMs, 60.0);

    if (&audio != &kAudioCases[0]) return;
    const fs::path wav = OutputPath("audio.wav");
    ASSERT_EQ(RunFlvhost("audio " + Quote(file) + " -o " + Quote(wav)).exitCode, 0);
    const WavFile written = ReadWav(wav);
    EXPECT_TRUE(written.valid && written.sampleRate == rate && written.channels == channels &&
                written.samples == run.out);
}

INSTANTIATE_TEST_SUITE_P(Tracks, AudioConformance, ::testing::ValuesIn(kAudioCases),
                         [](const ::testing::TestParamInfo<AudioCase>& info) {
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
