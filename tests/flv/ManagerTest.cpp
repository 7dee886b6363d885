// The manager's walk over hand-made files: what is indexed, what is kept as codec extra data,
// where a walk stops and how a later refresh goes on, and the facts derived afterwards.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "flv/Manager.h"
#include "tests/support/FlvBuilder.h"
#include "tests/support/FlvTestFile.h"

namespace {
using Trailer = FlvBuilder::Trailer;
using Index = std::vector<IndexEntry>;

std::string Extra(const std::unique_ptr<CExtraData>& extra) {
    if (!extra) return "<none>";
    return std::string(reinterpret_cast<const char*>(extra->Data()), extra->Length());
}

class ManagerTest : public ::testing::Test {
  protected:
    // Walks a file holding `bytes` from its first tag.
    void Scan(const std::string& bytes) {
        file = std::make_unique<FlvTestFile>(bytes);
        manager.BuildIndex(nullptr, file->InputAt(13));
    }

    std::unique_ptr<FlvTestFile> file;
    CFLV_Manager manager;
};

// Sequence headers are extra data (a later one is not indexed, and noted only when it changes the
// configuration in effect); a video entry's
// time is tag time + composition time, clamped at 0; times are 32 bits (extended timestamp); a
// wrong PreviousTagSize value and a stream id are not looked at.
TEST_F(ManagerTest, SequenceHeadersCompositionTimesAndExtendedTimestamps) {
    FlvBuilder flv;
    flv.AvcSequenceHeader(0);
    flv.AacSequenceHeader(0, "\x12\x10");
    const std::size_t first = flv.AvcFrame(0, 1, 80, 30);
    const std::size_t second = flv.AvcFrame(1000, 2, 80, 30);
    const std::size_t early = flv.AvcFrame(10, 2, -40, 30);  // -30 ms: clamped at 0, no wrap
    const std::size_t otherVideo = flv.AvcSequenceHeader(1040, "other");
    flv.AvcSequenceHeader(1060, "other");  // repeated: no change
    const std::size_t firstAgain = flv.AvcSequenceHeader(1070);
    flv.Tag(9, 1080, FlvBuilder::AvcBody(1, 2, 0, ""));  // end of sequence: no frame
    const std::size_t audio =
        flv.Tag(8, 0, FlvBuilder::AudioBody(10, 3, 1, 1, 20), Trailer::kWrong, 77);
    const std::size_t late = flv.AacFrame(0x01000017, 20);  // extended timestamp
    const std::size_t otherAudio = flv.AacSequenceHeader(46, "\x11\x90");
    flv.AacFrame(46, 0);  // no audio in it
    Scan(flv.Bytes());
    EXPECT_EQ(Extra(manager.videoExtra), FlvBuilder::AvcRecord());
    EXPECT_EQ(Extra(manager.audioExtra), "\x12\x10");
    EXPECT_EQ(manager.videoIndex, (Index{{first, 80, 1}, {second, 1080, 2}, {early, 0, 2}}));
    EXPECT_EQ(manager.audioIndex, (Index{{audio, 0, 2}, {late, 0x01000017, 2}}));
    // Later sequence headers that change the configuration in effect are noted, by position.
    const auto positions = [](const std::vector<ConfigChange>& changes) {
        std::vector<std::uint64_t> at;
        for (const ConfigChange& change : changes) at.push_back(change.position);
        return at;
    };
    EXPECT_EQ(positions(manager.videoConfigChanges),
              (std::vector<std::uint64_t>{otherVideo, firstAgain}));
    EXPECT_EQ(positions(manager.audioConfigChanges), std::vector<std::uint64_t>{otherAudio});
    CExtraData configuration;
    ASSERT_TRUE(CFLV_Manager::ReadConfiguration(file->Input(), otherAudio, configuration));
    EXPECT_EQ(configuration.Length(), 2u);
    EXPECT_EQ(manager.resumeOffset, flv.Size());
    // The duration ends one frame (25 fps) after the latest shown frame, not the last entry's;
    // the audio ends with the sound of its latest tag (an AAC frame of 1024 samples at the
    // configuration's 44.1 kHz).
    EXPECT_DOUBLE_EQ(manager.facts.videoDuration, 1080.0 + 40);
    EXPECT_DOUBLE_EQ(manager.facts.audioDuration, 0x01000017 + 1024 * 1000.0 / 44100);
    // A frame rate of 0 or less, or not finite, never makes it infinite or NaN: 30 fps stand in.
    for (double rate : {0.0, std::nan(""), std::numeric_limits<double>::denorm_min()}) {
        CFLV_Manager other;
        other.facts.frameRate = rate;
        other.BuildIndex(nullptr, file->InputAt(13));
        EXPECT_DOUBLE_EQ(other.facts.videoDuration, 1000.0 / 30 + 1080) << rate;
    }
}

// Complete tags whose bodies cannot be parsed are stepped over; the walk goes on (a streaming
// server's files carry zero-length audio tags before their metadata).
TEST_F(ManagerTest, CompleteTagsWithUnparseableBodiesAreSteppedOver) {
    FlvBuilder flv;
    flv.Tag(8, 0, "");                              // zero-length audio
    flv.Tag(9, 0, "");                              // zero-length video
    flv.Tag(9, 0, std::string("\x17\x01\x00", 3));  // AVC shorter than its 5 fixed bytes
    // A script body whose property name runs past the body: no metadata from it.
    flv.Script(0, FlvBuilder::Amf0String("onMetaData") + std::string("\x08\x00\x00\x00\x01", 5) +
                      FlvBuilder::BigEndian(500, 2) + "width");
    // A script body nested 200 levels deep.
    std::string deep = FlvBuilder::Amf0String("onMetaData") + "\x08" + FlvBuilder::BigEndian(1, 4) +
                       FlvBuilder::Amf0Name("a");
    for (int depth = 0; depth < 200; ++depth) deep += "\x0A" + FlvBuilder::BigEndian(1, 4);
    flv.Script(0, deep + FlvBuilder::Amf0Number(1));
    const std::size_t video = flv.Video(40, 1, 2, 10);
    const std::size_t audio = flv.Audio(40, 2, 3, 1, 1, 10);
    Scan(flv.Bytes());
    EXPECT_EQ(manager.videoIndex, (Index{{video, 40, 1}}));
    EXPECT_EQ(manager.audioIndex, (Index{{audio, 40, 2}}));
    EXPECT_EQ(manager.videoExtra, nullptr);
    EXPECT_EQ(manager.audioExtra, nullptr);
    EXPECT_EQ(manager.facts.width, 320);
    EXPECT_EQ(manager.resumeOffset, flv.Size());
}

// Bytes that are no tag between tags: the walk goes on at the next tag whose start is confirmed
// (its PreviousTagSize is DataSize + 11 and a tag header follows) and takes nothing from them. A
// wrong PreviousTagSize followed by a tag header is a writer's slip and the tag stands.
TEST_F(ManagerTest, DamagedStretchesAreSteppedOver) {
    std::string junk;
    for (int i = 0; i < 300; ++i) junk += static_cast<char>((i * 151 + 7) & 0xFF);
    // A damaged stretch, made by a builder whose 13-byte file header is cut off.
    const auto stretch = [](const auto& build) {
        FlvBuilder piece;
        build(piece);
        return piece.Bytes().substr(13);
    };
    const struct {
        const char* name;
        std::string damage;
    } cases[] = {
        {"one zero byte", std::string(1, '\0')},
        {"eleven zero bytes", std::string(11, '\0')},
        {"a tag of an unknown type", stretch([](FlvBuilder& b) { b.Tag(15, 40, "abc"); })},
        {"junk", junk},
        // Bytes one bit away from a TagType, each at every position of an 8-byte word.
        {"bytes near a TagType",
         [] {
             std::string near;
             for (int i = 0; i < 8; ++i) near += "\x0A\x0B\x10\x11\x13\x1A\x88\x89\x92";
             return near;
         }()},
        // A video tag header whose DataSize runs past the end of the file, then junk.
        {"junk that starts like a tag", "\x09\x7F\xFF\xFF" + junk},
        // Plausible headers whose PreviousTagSize is wrong with junk after it: the DataSize
        // was damaged, or the tag is followed by junk.
        {"a damaged DataSize", stretch([](FlvBuilder& b) {
             b.TagClaiming(9, 60, 16, FlvBuilder::VideoBody(1, 2, 60));
             b.Raw(FlvBuilder::BigEndian(72, 4));
         })},
        {"a tag with a wrong PreviousTagSize before junk",
         stretch([](FlvBuilder& b) { b.Video(60, 1, 2, 20, Trailer::kWrong); }) + junk},
        {"a wrong PreviousTagSize before a tag",
         stretch([](FlvBuilder& b) { b.Audio(60, 2, 3, 1, 1, 10, Trailer::kWrong); })},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FlvBuilder flv;
        Index video;
        for (std::uint32_t time : {0, 40}) video.push_back({flv.Video(time, 1, 2, 10), time, 1});
        const std::size_t damageStart = flv.Size();
        flv.Raw(c.damage);
        for (std::uint32_t time : {80, 120}) video.push_back({flv.Video(time, 2, 2, 10), time, 2});
        Scan(flv.Bytes());
        EXPECT_EQ(manager.videoIndex, video);
        EXPECT_EQ(manager.audioIndex, c.damage[0] == 8 ? (Index{{damageStart, 60, 2}}) : Index{});
        EXPECT_EQ(manager.resumeOffset, flv.Size());

        // A tag that nothing follows is not confirmed: the walk ends where the stretch begins.
        file = std::make_unique<FlvTestFile>(flv.Bytes().substr(0, video[3].position));
        CFLV_Manager cut;
        cut.BuildIndex(nullptr, file->InputAt(13));
        EXPECT_EQ(cut.resumeOffset, c.damage[0] == 8 ? video[3].position : damageStart);
    }
}

// A file with every kind of tag and damage, written to disk in pieces: after each piece the
// stream measures the file again and the manager refreshes. The result must be exactly the index
// of one walk over the whole file, whatever the cuts (a step of 1 cuts every tag inside its
// header, its body and its PreviousTagSize): no tag is indexed twice, none is missed. The file
// grows at its end, or is pre-allocated with zeros that the pieces overwrite, as some recorders
// do: the zeros not yet written must neither end the walk for good nor let it skip ahead.
TEST(GrowingFileTest, RefreshesEndWithTheIndexOfAFullWalk) {
    FlvBuilder flv;
    flv.Script(0, FlvBuilder::OnMetaData({{"width", FlvBuilder::Amf0Number(176)}}));
    flv.Tag(8, 0, "");  // zero-length audio, stepped over
    flv.AvcSequenceHeader(0);
    flv.AacSequenceHeader(0);
    for (std::uint32_t i = 0; i < 12; ++i) {
        flv.AvcFrame(i * 40, i % 5 == 0 ? 1 : 2, i % 3 == 0 ? 80 : -40, 20 + i * 7);
        flv.Audio(i * 23, 10, 3, 1, 1, 9 + i, i == 2 ? Trailer::kWrong : Trailer::kCorrect);
        if (i == 6) flv.Tag(9, i * 40, std::string("\x17\x01", 2));  // too short
        if (i == 4) flv.Raw(std::string(11, '\0'));                  // a hole
        if (i == 8) flv.Raw("\x09\x7F\xFF\xFF junk");                // junk like a tag
    }
    const std::string& bytes = flv.Bytes();
    FlvTestFile whole(bytes, "whole.flv");
    CFLV_Manager full;
    full.BuildIndex(nullptr, whole.InputAt(13));
    EXPECT_EQ(full.videoIndex.size(), 12u);
    EXPECT_EQ(full.audioIndex.size(), 12u);

    for (const bool preallocated : {false, true}) {
        for (std::size_t step : {1, 3, 7, 29, 100}) {
            SCOPED_TRACE(testing::Message()
                         << "step " << step << (preallocated ? " in place" : ""));
            // The first piece holds the header and ends inside the first tag's header.
            std::size_t written = 16;
            FlvTestFile growing(bytes.substr(0, written) +
                                    std::string(preallocated ? bytes.size() - written : 0, '\0'),
                                "growing.flv");
            CFLV_Manager manager;
            manager.BuildIndex(nullptr, growing.InputAt(13));
            while (written < bytes.size()) {
                const std::size_t piece = std::min(step, bytes.size() - written);
                const std::string_view next = std::string_view(bytes).substr(written, piece);
                preallocated ? growing.Overwrite(written, next) : growing.Append(next);
                written += piece;
                manager.RefreshIndex(nullptr, growing.Input());
                // A file whose last tag lacks its PreviousTagSize still has that tag in its
                // index.
                EXPECT_TRUE(preallocated || written != bytes.size() - 4 ||
                            manager.audioIndex == full.audioIndex);
            }
            EXPECT_EQ(manager.videoIndex, full.videoIndex);
            EXPECT_EQ(manager.audioIndex, full.audioIndex);
            EXPECT_EQ(Extra(manager.videoExtra), Extra(full.videoExtra));
            EXPECT_EQ(Extra(manager.audioExtra), Extra(full.audioExtra));
            EXPECT_EQ(manager.resumeOffset, bytes.size());
            EXPECT_DOUBLE_EQ(manager.facts.audioDuration, full.facts.audioDuration);
        }
    }
    EXPECT_DOUBLE_EQ(full.facts.audioDuration, 11 * 23 + 1024 * 1000.0 / 44100);
}
}  // namespace
