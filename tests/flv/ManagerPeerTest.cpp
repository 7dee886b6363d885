// The manager's index and stream facts against ffprobe on the same files: files that ffmpeg
// writes for every codec family the component reads, and the real files beside the project.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "flv/Header.h"
#include "flv/Manager.h"
#include "tests/support/FfmpegTools.h"

namespace {
struct Scanned {
    CFLV_Manager manager;
    std::vector<ProbePacket> packets;  // our entries as ffprobe would list them, by position
};

// Opens `file` as the component's openers do (header, PreviousTagSize0) and walks it.
void ScanFile(const std::filesystem::path& file, Scanned& scanned) {
    CInputStream input;
    input.Open(file.wstring());
    ASSERT_TRUE(input.IsOpen()) << file;
    CFLV_Header header;
    ASSERT_TRUE(header.Read(input));
    ASSERT_TRUE(header.HasFlvSignature());
    ASSERT_TRUE(input.SkipValue(FieldType::UI32));
    scanned.manager.BuildIndex(nullptr, input);
    for (const IndexEntry& entry : scanned.manager.videoIndex) {
        scanned.packets.push_back(
            {true, entry.position, static_cast<std::int64_t>(entry.time), entry.frameType == 1});
    }
    for (const IndexEntry& entry : scanned.manager.audioIndex) {
        // Every audio packet of an FLV file is a key frame to ffprobe.
        scanned.packets.push_back(
            {false, entry.position, static_cast<std::int64_t>(entry.time), true});
    }
    std::sort(scanned.packets.begin(), scanned.packets.end(),
              [](const ProbePacket& a, const ProbePacket& b) { return a.position < b.position; });
}

// Entry for entry: file position, presentation time, key frame flag, stream kind.
void ExpectPacketsLikePeer(const std::filesystem::path& file, const Scanned& scanned) {
    std::vector<ProbePacket> peer = ProbePackets(file);
    std::sort(peer.begin(), peer.end(),
              [](const ProbePacket& a, const ProbePacket& b) { return a.position < b.position; });
    ASSERT_FALSE(peer.empty()) << file;
    ASSERT_EQ(scanned.packets.size(), peer.size()) << file;
    for (std::size_t i = 0; i < peer.size(); ++i) {
        const ProbePacket& ours = scanned.packets[i];
        SCOPED_TRACE("packet " + std::to_string(i) + " at " + std::to_string(peer[i].position));
        ASSERT_EQ(ours.position, peer[i].position);
        EXPECT_EQ(ours.video, peer[i].video);
        EXPECT_EQ(ours.ptsMs, peer[i].ptsMs);
        EXPECT_EQ(ours.keyframe, peer[i].keyframe);
    }
}

// The frame size and rate come from the metadata only (frames are not inspected), so they can
// be compared only where the file's metadata has them.
struct StreamCheck {
    bool frameSize = true;     // width, height and frame rate as ffprobe says
    bool sampleFormat = true;  // sample rate and channels (and bits for PCM) as ffprobe says
};
constexpr StreamCheck kAll{true, true};
constexpr StreamCheck kNoFrameSizeInMetadata{false, true};

void ExpectStreamsLikePeer(const std::filesystem::path& file, const StreamFacts& facts,
                           StreamCheck check) {
    for (const ProbeStream& stream : ProbeStreams(file)) {
        SCOPED_TRACE(stream.codecName);
        if (stream.video) {
            EXPECT_TRUE(facts.hasVideo);
            if (!check.frameSize) continue;
            EXPECT_EQ(facts.width, stream.width);
            EXPECT_EQ(facts.height, stream.height);
            EXPECT_NEAR(facts.frameRate, stream.frameRate, 0.01);
        } else {
            EXPECT_TRUE(facts.hasAudio);
            if (!check.sampleFormat) continue;
            EXPECT_EQ(facts.sampleRate, stream.sampleRate);
            EXPECT_EQ(facts.channels, stream.channels);
            EXPECT_EQ(facts.waveFormat.nSamplesPerSec, static_cast<DWORD>(stream.sampleRate));
            EXPECT_EQ(facts.waveFormat.nChannels, stream.channels);
            // ffprobe gives the coded sample size; only PCM codes the samples it decodes to.
            if (stream.codecName.rfind("pcm_", 0) == 0) {
                EXPECT_EQ(facts.bitsPerSample, stream.bitsPerSample);
            }
        }
    }
}

struct GeneratedCase {
    const char* name;
    const char* arguments;
    std::int32_t audioCodecCode;  // 0: no audio
    std::int32_t videoCodec;      // 0: no video
};

class GeneratedPeerTest : public ::testing::TestWithParam<GeneratedCase> {};

TEST_P(GeneratedPeerTest, IndexAndFactsMatchFfprobe) {
    if (!FfmpegAvailable()) GTEST_SKIP() << "ffmpeg/ffprobe not installed";
    const GeneratedCase& c = GetParam();
    const auto file = GeneratedSample(c.name, c.arguments);
    if (!file) GTEST_SKIP() << "ffmpeg could not make " << c.name << " (encoder missing?)";
    Scanned scanned;
    ASSERT_NO_FATAL_FAILURE(ScanFile(*file, scanned));
    ExpectPacketsLikePeer(*file, scanned);
    ExpectStreamsLikePeer(*file, scanned.manager.facts, {});
    const StreamFacts& facts = scanned.manager.facts;
    if (c.audioCodecCode != 0) {
        EXPECT_EQ(facts.audioCodecCode, c.audioCodecCode);
    }
    if (c.videoCodec != 0) {
        EXPECT_EQ(facts.videoCodec, c.videoCodec);
    }
    EXPECT_EQ(scanned.manager.resumeOffset, std::filesystem::file_size(*file));
}

#define VIDEO_SOURCE(size, rate) "-f lavfi -i testsrc2=size=" size ":rate=" rate " "
#define AUDIO_SOURCE(rate) "-f lavfi -i sine=frequency=440:sample_rate=" rate " "

INSTANTIATE_TEST_SUITE_P(
    Codecs, GeneratedPeerTest,
    ::testing::Values(
        GeneratedCase{"manager-h264-aac.flv",
                      VIDEO_SOURCE("160x120", "25") AUDIO_SOURCE(
                          "44100") "-t 2 -c:v libx264 -bf 2 -g 12 -pix_fmt yuv420p -c:a aac -ac 2",
                      0x15002, 7},
        GeneratedCase{"manager-flv1-mp3.flv",
                      VIDEO_SOURCE("176x144", "15")
                          AUDIO_SOURCE("44100") "-t 2 -c:v flv1 -g 8 -c:a libmp3lame -ac 2",
                      0x15001, 2},
        GeneratedCase{"manager-flashsv-adpcm.flv",
                      VIDEO_SOURCE("128x96", "10")
                          AUDIO_SOURCE("22050") "-t 2 -c:v flashsv -g 5 -c:a adpcm_swf -ac 1",
                      0x1100D, 3},
        GeneratedCase{"manager-flashsv2.flv", VIDEO_SOURCE("96x64", "12") "-t 1 -c:v flashsv2", 0,
                      6},
        GeneratedCase{"manager-nellymoser-22k.flv", AUDIO_SOURCE("22050") "-t 2 -c:a nellymoser",
                      0x15025, 0},
        GeneratedCase{"manager-nellymoser-8k.flv", AUDIO_SOURCE("8000") "-t 2 -c:a nellymoser",
                      0x15025, 0},
        GeneratedCase{"manager-nellymoser-16k.flv", AUDIO_SOURCE("16000") "-t 2 -c:a nellymoser",
                      0x15025, 0},
        GeneratedCase{"manager-pcm-s16le.flv", AUDIO_SOURCE("44100") "-t 1 -c:a pcm_s16le -ac 2",
                      0x10000, 0},
        GeneratedCase{"manager-pcm-u8.flv", AUDIO_SOURCE("11025") "-t 1 -c:a pcm_u8", 0x10004, 0},
        GeneratedCase{
            "manager-keyframe-index.flv",
            VIDEO_SOURCE("160x120", "25") AUDIO_SOURCE(
                "44100") "-t 3 -c:v flv1 -g 10 -c:a libmp3lame -flvflags add_keyframe_index",
            0x15001, 2}),
    [](const ::testing::TestParamInfo<GeneratedCase>& info) {
        std::string name = info.param.name;
        name = name.substr(0, name.find('.'));
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

struct SharedCase {
    const char* name;
    StreamCheck check;
};

class SharedFilePeerTest : public ::testing::TestWithParam<SharedCase> {};

TEST_P(SharedFilePeerTest, IndexMatchesFfprobe) {
    const SharedCase& c = GetParam();
    const auto file = SharedTestFile(c.name);
    if (!file) GTEST_SKIP() << c.name << " not found beside the project";
    Scanned scanned;
    ASSERT_NO_FATAL_FAILURE(ScanFile(*file, scanned));
    // The whole file is indexed, whatever odd tags it holds.
    EXPECT_EQ(scanned.manager.resumeOffset, std::filesystem::file_size(*file));
    if (!FfmpegAvailable()) GTEST_SKIP() << "ffmpeg/ffprobe not installed";
    ExpectPacketsLikePeer(*file, scanned);
    ExpectStreamsLikePeer(*file, scanned.manager.facts, c.check);
}

INSTANTIATE_TEST_SUITE_P(
    Files, SharedFilePeerTest,
    ::testing::Values(SharedCase{"h264_speex_zero_length_tag.flv", kNoFrameSizeInMetadata},
                      SharedCase{"h264_bframes_aac.flv", kAll},
                      SharedCase{"flv1_damaged_metadata.flv", kNoFrameSizeInMetadata},
                      SharedCase{"flv1_nellymoser8k_recording.flv", kNoFrameSizeInMetadata},
                      SharedCase{"vp6_mp3.flv", kAll},
                      SharedCase{"vp6_tiny.flv", kNoFrameSizeInMetadata},
                      SharedCase{"screenvideo.flv", kNoFrameSizeInMetadata},
                      // AAC's header byte always claims 44.1 kHz stereo; the stream is 48 kHz mono.
                      SharedCase{"aac_mono48k_audioonly.flv", {true, false}}),
    [](const ::testing::TestParamInfo<SharedCase>& info) {
        std::string name = info.param.name;
        return name.substr(0, name.find('.'));
    });
}  // namespace
