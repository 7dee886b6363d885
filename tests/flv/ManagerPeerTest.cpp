// The manager's index and stream facts against ffprobe on the same files: files that ffmpeg
// writes for every codec family the component reads, and the real files beside the project.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "flv/Manager.h"
#include "tests/support/FfmpegTools.h"

namespace {
using Packet = std::tuple<std::uint64_t, bool, std::int64_t, bool>;  // position first

// Where the sound of the latest audio packet ends: its time plus the samples of the frames
// ffmpeg decodes from it (at `rate`).
double PeerSoundEnd(const std::filesystem::path& file, const std::vector<Packet>& packets,
                    int rate) {
    const Packet* latest = nullptr;
    for (const Packet& packet : packets) {
        if (!std::get<1>(packet) &&
            (latest == nullptr || std::get<2>(packet) >= std::get<2>(*latest)))
            latest = &packet;
    }
    if (latest == nullptr || rate <= 0) return -1.0;
    std::string frames;
    RunCommand(
        "ffprobe -v error -select_streams a -show_frames -show_entries "
        "frame=pkt_pos,nb_samples -of csv=p=0 " +
            Quote(file),
        &frames);
    double samples = 0.0;
    for (const std::string& line : Lines(frames)) {
        const std::vector<std::string> fields = Fields(line);  // pkt_pos, nb_samples
        if (fields.size() == 2 && std::stoull(fields[0]) == std::get<0>(*latest))
            samples += std::stod(fields[1]);
    }
    return static_cast<double>(std::get<2>(*latest)) + samples * 1000.0 / rate;
}

// Entry for entry: file position, stream kind, presentation time (video: tag time +
// composition time) and key frame flag (every FLV audio packet is a key frame to ffprobe).
// Then width, height and frame rate (which come from the metadata only, so `frameSize` is
// false for files whose metadata lacks them), the sample format, and (`soundLength`) the end of
// the audio track: the latest tag's time plus the length of the sound ffmpeg decodes from it.
void ExpectLikePeer(const std::filesystem::path& file, const CFLV_Manager& manager, bool frameSize,
                    bool soundLength) {
    std::vector<Packet> ours, peer;
    for (const IndexEntry& entry : manager.videoIndex)
        ours.emplace_back(entry.position, true, static_cast<std::int64_t>(entry.time),
                          entry.frameType == 1);
    for (const IndexEntry& entry : manager.audioIndex)
        ours.emplace_back(entry.position, false, static_cast<std::int64_t>(entry.time), true);
    for (const ProbePacket& packet : ProbePackets(file))
        peer.emplace_back(packet.position, packet.video, packet.ptsMs, packet.keyframe);
    std::sort(ours.begin(), ours.end());
    std::sort(peer.begin(), peer.end());
    ASSERT_FALSE(peer.empty());
    EXPECT_EQ(ours, peer);

    const StreamFacts& facts = manager.facts;
    for (const ProbeStream& stream : ProbeStreams(file)) {
        SCOPED_TRACE(stream.codecName);
        EXPECT_TRUE(stream.video ? facts.hasVideo : facts.hasAudio);
        if (stream.video && frameSize) {
            EXPECT_EQ(facts.width, stream.width);
            EXPECT_EQ(facts.height, stream.height);
            EXPECT_NEAR(facts.frameRate, stream.frameRate, 0.01);
        } else if (!stream.video) {
            EXPECT_EQ(facts.sampleRate, stream.sampleRate);
            EXPECT_EQ(facts.channels, stream.channels);
            // ffprobe gives the coded sample size; only linear PCM codes the samples it decodes
            // to (G.711 codes 8 bits, and decodes to the 16 its SoundSize field states).
            if (stream.codecName.rfind("pcm_", 0) == 0 &&
                stream.codecName.find("law") == std::string::npos) {
                EXPECT_EQ(facts.bitsPerSample, stream.bitsPerSample);
            }
            if (soundLength) {
                EXPECT_NEAR(facts.audioDuration, PeerSoundEnd(file, peer, stream.sampleRate), 1e-6);
            }
        }
    }
}

#define VIDEO_SOURCE(size, rate) "-f lavfi -i testsrc2=size=" size ":rate=" rate " "
#define AUDIO_SOURCE(rate) "-f lavfi -i sine=frequency=440:sample_rate=" rate " "

// Files that ffmpeg writes for every codec family, then the real files beside the project.
TEST(ManagerPeerTest, IndexAndFactsMatchFfprobe) {
    const struct {
        const char* name;
        const char* arguments;  // ffmpeg's; null for a real file
        bool frameSize = true;
        bool soundLength = true;
    } cases[] = {
        {"manager-h264-aac.flv",
         VIDEO_SOURCE("160x120", "25")
             AUDIO_SOURCE("44100") "-t 2 -c:v libx264 -bf 2 -g 12 -pix_fmt yuv420p -c:a aac -ac 2"},
        {"manager-flv1-mp3.flv", VIDEO_SOURCE("176x144", "15") AUDIO_SOURCE(
                                     "44100") "-t 2 -c:v flv1 -g 8 -c:a libmp3lame -ac 2"},
        {"manager-flashsv-adpcm.flv", VIDEO_SOURCE("128x96", "10") AUDIO_SOURCE(
                                          "22050") "-t 2 -c:v flashsv -g 5 -c:a adpcm_swf -ac 1"},
        // Nellymoser: a fixed-rate format at 8 kHz, the general one at 22 kHz
        {"manager-nellymoser-22k.flv", AUDIO_SOURCE("22050") "-t 2 -c:a nellymoser"},
        {"manager-nellymoser-8k.flv", AUDIO_SOURCE("8000") "-t 2 -c:a nellymoser"},
        {"manager-pcm-s16le.flv", AUDIO_SOURCE("44100") "-t 1 -c:a pcm_s16le -ac 2"},
        {"manager-pcm-u8.flv", AUDIO_SOURCE("11025") "-t 1 -c:a pcm_u8"},
        // G.711: 8 kHz, written with the rate field of 5.5 kHz
        {"manager-alaw.flv", AUDIO_SOURCE("8000") "-t 1 -c:a pcm_alaw"},
        {"manager-speex.flv", AUDIO_SOURCE("16000") "-t 1 -c:a libspeex"},
        {"manager-keyframe-index.flv",
         VIDEO_SOURCE("160x120", "25") AUDIO_SOURCE(
             "44100") "-t 3 -c:v flv1 -g 10 -c:a libmp3lame -flvflags add_keyframe_index"},
        // A zero-length audio tag before the metadata (a widely used streaming server's). Its
        // Speex tags hold two frames each, of which FFmpeg 5.1's decoder takes only the first.
        {"h264_speex_zero_length_tag.flv", nullptr, false, false},
        {"vp6_mp3.flv", nullptr},
    };
    const bool peer = FfmpegAvailable();
    std::string missing;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto file = c.arguments == nullptr ? SharedTestFile(c.name)
                          : peer                 ? GeneratedSample(c.name, c.arguments)
                                                 : std::nullopt;
        if (!file) {
            missing += std::string(" ") + c.name;
            continue;
        }
        // The whole file is indexed, whatever odd tags it holds.
        CInputStream input;
        input.Open(file->wstring());
        ASSERT_TRUE(input.SeekTo(13));
        CFLV_Manager manager;
        manager.BuildIndex(nullptr, input);
        EXPECT_EQ(manager.resumeOffset, std::filesystem::file_size(*file));
        if (peer) ExpectLikePeer(*file, manager, c.frameSize, c.soundLength);
    }
    if (!peer) GTEST_SKIP() << "ffmpeg/ffprobe not installed: the real files were only scanned";
    if (!missing.empty()) GTEST_SKIP() << "not found or not generated:" << missing;
}
}  // namespace
