// Damaged recordings made from an ffmpeg file by byte edits (zero-filled holes, junk between
// tags, zeros over tags, a header longer than 9 bytes), read through flvhost as a user reads
// them: the index holds every tag outside the damaged stretch, and the pictures and the sound
// are ffmpeg's.
//
// ffmpeg's demuxer also steps over damage, by another rule: it skips a stretch by the DataSize
// its first bytes claim before it looks at the PreviousTagSize there, so where that claim runs
// past the end of the file (a one-byte hole before a video tag reads as a 590 KB tag; junk) it
// ends the file at the damage. For those edits, which only insert bytes, the pictures and sound
// are compared with ffmpeg's of the undamaged file.
#include <algorithm>
#include <fstream>
#include <tuple>

#include "tests/support/ComponentTestSupport.h"
#include "tests/tools/FlvhostHarness.h"

namespace {
namespace fs = std::filesystem;

// Kind (video), file position, time and key frame flag of each packet.
using Entry = std::tuple<bool, std::uint64_t, std::int64_t, bool>;

std::vector<Entry> PeerIndex(const fs::path& file) {
    std::vector<Entry> index;
    for (const ProbePacket& packet : ProbePackets(file)) {
        index.emplace_back(packet.video, packet.position, packet.ptsMs,
                           packet.video && packet.keyframe);
    }
    return index;
}

std::vector<Entry> HostIndex(const fs::path& file) {
    const HostRun run = RunFlvhost("index " + Quote(file) + " --csv");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    std::vector<Entry> index;
    const std::vector<std::string> lines = Lines(run.out);
    for (std::size_t i = 1; i < lines.size(); ++i) {  // after the column names
        const std::vector<std::string> fields = Fields(lines[i]);
        if (fields.size() != 4) return {};
        index.emplace_back(fields[0] == "video", std::stoull(fields[1]), std::stoll(fields[2]),
                           fields[0] == "video" && fields[3] == "1");
    }
    return index;
}

std::string Junk(std::size_t size) {
    std::string junk;
    std::uint32_t state = 1;
    for (std::size_t i = 0; i < size; ++i) {
        state = state * 1103515245 + 12345;
        junk += static_cast<char>(state >> 16);
    }
    return junk;
}

TEST(DamagedFileTest, EveryTagOutsideTheDamageAndFfmpegsPicturesAndSound) {
    REQUIRE_TOOLS_SAMPLE(sample, "tools_flv1_mp3.flv",
                         Clip(25, 44100, "-c:v flv1 -g 10 -c:a libmp3lame -ac 2"));
    const std::string flv = FileBytes(sample);
    const std::vector<FlvTag> tags = TagsOf(flv);
    ASSERT_GT(tags.size(), 40u);
    // A video tag in the middle of the file, and the middle of its body and the next tag's.
    std::size_t video = tags.size() / 2;
    while (tags[video].type != 9) ++video;
    const auto middle = [&](std::size_t tag) {
        return tags[tag].offset + 11 + tags[tag].body.size() / 2;
    };
    const std::size_t at = tags[video].offset;

    const struct {
        const char* name;
        std::size_t from, to;  // the bytes of the file replaced (none: inserted at `from`)
        std::string bytes;     // what takes their place
        bool peerRecovers;     // ffmpeg finds every tag outside the stretch too
    } cases[] = {
        {"a one-byte hole", at, at, std::string(1, '\0'), false},
        {"an 11-byte hole", at, at, std::string(11, '\0'), true},
        {"a 200 KB hole", at, at, std::string(200 * 1024, '\0'), true},
        {"junk", at, at, Junk(500), false},
        {"zeros over two tags", middle(video), middle(video + 1),
         std::string(middle(video + 1) - middle(video), '\0'), true},
        // DataOffset 13: four more header bytes before PreviousTagSize0.
        {"a 13-byte header", 9, 9, std::string(4, '\0'), true},
    };
    const std::vector<Entry> original = PeerIndex(sample);
    const std::vector<FrameHash> originalFrames = VideoFrameHashes(sample);
    const std::string originalPcm = TimelinePcm(sample);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string damaged = flv.substr(0, c.from) + c.bytes + flv.substr(c.to);
        if (c.from == 9) damaged[8] = 13;
        const fs::path file = OutputPath("damaged.flv");
        { std::ofstream(file, std::ios::binary) << damaged; }

        // ffprobe's packets of the undamaged file, less those of tags that the stretch touches,
        // at their new positions.
        std::vector<Entry> expected;
        for (Entry entry : original) {
            std::uint64_t& position = std::get<1>(entry);
            const auto tag = std::find_if(tags.begin(), tags.end(),
                                          [&](const FlvTag& t) { return t.offset == position; });
            ASSERT_NE(tag, tags.end());
            if (c.from < c.to && position < c.to && position + 15 + tag->body.size() > c.from) {
                continue;
            }
            if (position >= c.to) position = position - c.to + c.from + c.bytes.size();
            expected.push_back(entry);
        }
        ASSERT_GT(expected.size(), original.size() - 3);
        EXPECT_EQ(HostIndex(file), expected);
        if (c.peerRecovers) {
            EXPECT_EQ(PeerIndex(file), expected);
        }

        // Pictures and sound: ffmpeg's of the same file, or of the undamaged one where ffmpeg
        // stops at the damage (the edit only inserted bytes).
        ASSERT_TRUE(c.peerRecovers || c.from == c.to);
        const HostRun frames = RunFlvhost("frames " + Quote(file) + " --md5");
        ASSERT_EQ(frames.exitCode, 0) << frames.err;
        std::vector<std::string> md5s, peerMd5s;
        for (const std::string& line : Lines(frames.out)) md5s.push_back(Fields(line).back());
        for (const FrameHash& frame : c.peerRecovers ? VideoFrameHashes(file) : originalFrames) {
            peerMd5s.push_back(frame.md5);
        }
        EXPECT_EQ(md5s, peerMd5s);

        const fs::path wavPath = OutputPath("damaged.wav");
        const HostRun audio = RunFlvhost("audio " + Quote(file) + " -o " + Quote(wavPath));
        ASSERT_EQ(audio.exitCode, 0) << audio.err;
        const WavFile wav = ReadWav(wavPath);
        ASSERT_TRUE(wav.valid);
        ExpectSoundLikePeer(wav.samples, c.peerRecovers ? TimelinePcm(file) : originalPcm,
                            wav.blockAlign, wav.sampleRate);
        if (HasFailure()) return;
    }
}
}  // namespace
