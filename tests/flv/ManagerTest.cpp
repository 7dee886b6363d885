// The manager's walk over hand-made files: what is indexed, what is kept as codec extra data,
// where a walk stops and how a later refresh goes on, and the facts derived afterwards.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "flv/AudioData.h"
#include "flv/Manager.h"
#include "tests/support/FlvBuilder.h"
#include "tests/support/FlvTestFile.h"

namespace {
using Trailer = FlvBuilder::Trailer;

std::string Extra(const std::unique_ptr<CExtraData>& extra) {
    if (!extra) return "<none>";
    return std::string(reinterpret_cast<const char*>(extra->Data()), extra->Length());
}

class ManagerTest : public ::testing::Test {
  protected:
    // Walks a file holding `bytes` from its first tag.
    CFLV_Manager& Scan(const std::string& bytes) {
        file = std::make_unique<FlvTestFile>(bytes);
        manager.BuildIndex(nullptr, file->InputAt(13));
        return manager;
    }

    std::unique_ptr<FlvTestFile> file;
    CFLV_Manager manager;
};

TEST_F(ManagerTest, HeaderOnlyFileHasNoStreams) {
    FlvBuilder flv;
    Scan(flv.Bytes());
    EXPECT_TRUE(manager.videoIndex.empty());
    EXPECT_TRUE(manager.audioIndex.empty());
    EXPECT_FALSE(manager.facts.hasVideo);
    EXPECT_FALSE(manager.facts.hasAudio);
    EXPECT_EQ(manager.resumeOffset, 13u);
}

TEST_F(ManagerTest, AvcSequenceHeaderIsExtraDataAndCompositionTimesAreAdded) {
    FlvBuilder flv;
    flv.AvcSequenceHeader(0);
    const std::size_t first = flv.AvcFrame(0, 1, 80, 30);
    const std::size_t second = flv.AvcFrame(1000, 2, 80, 30);
    const std::size_t early = flv.AvcFrame(10, 2, -40, 30);  // would be -30 ms
    flv.AvcSequenceHeader(1040, "other");                    // repeated: neither kept nor indexed
    flv.Tag(9, 1080, FlvBuilder::AvcBody(1, 2, 0, ""));      // end of sequence: no frame
    Scan(flv.Bytes());
    EXPECT_EQ(Extra(manager.videoExtra), FlvBuilder::AvcRecord());
    const std::vector<IndexEntry> expected = {{first, 80, 1}, {second, 1080, 2}, {early, 0, 2}};
    EXPECT_EQ(manager.videoIndex, expected);
    EXPECT_EQ(manager.facts.videoCodec, 7);
    EXPECT_EQ(manager.resumeOffset, flv.Size());
}

TEST_F(ManagerTest, AvcWithoutSequenceHeaderIndexesEveryTag) {
    FlvBuilder flv;
    flv.AvcFrame(0, 1, 0, 10);
    flv.AvcFrame(40, 2, 0, 10);
    Scan(flv.Bytes());
    EXPECT_EQ(manager.videoExtra, nullptr);
    EXPECT_EQ(manager.videoIndex.size(), 2u);
}

TEST_F(ManagerTest, OnlyTheFirstVp6AdjustmentByteIsKeptAndEveryVp6TagIndexed) {
    FlvBuilder flv;
    flv.Tag(9, 0, std::string("\x14\x11", 2) + FlvBuilder::Payload(5));   // key, VP6, adj 0x11
    flv.Tag(9, 40, std::string("\x24\x22", 2) + FlvBuilder::Payload(5));  // inter, adj 0x22
    Scan(flv.Bytes());
    EXPECT_EQ(Extra(manager.videoExtra), "\x11");
    EXPECT_EQ(manager.videoIndex.size(), 2u);
    EXPECT_EQ(manager.facts.videoCodec, 4);
}

TEST_F(ManagerTest, AacSequenceHeaderIsExtraDataAndAudioEntriesAreFrameType2) {
    FlvBuilder flv;
    flv.AacSequenceHeader(0, "\x12\x10");
    const std::size_t first = flv.AacFrame(0, 20);
    const std::size_t second = flv.AacFrame(23, 20);
    flv.AacSequenceHeader(46, "\x11\x90");  // repeated: neither kept nor indexed
    flv.AacFrame(46, 0);                    // no audio in it
    Scan(flv.Bytes());
    EXPECT_EQ(Extra(manager.audioExtra), "\x12\x10");
    const std::vector<IndexEntry> expected = {{first, 0, 2}, {second, 23, 2}};
    EXPECT_EQ(manager.audioIndex, expected);
    EXPECT_TRUE(manager.facts.hasAudio);
    EXPECT_EQ(manager.facts.audioDuration, 23.0);
    EXPECT_EQ(manager.facts.audioCodecCode, 0x15002);
}

TEST_F(ManagerTest, ExtendedTimestampsReachTheIndex) {
    FlvBuilder flv;
    flv.Audio(0x01000000, 2, 3, 1, 1, 4);  // 16,777,216 ms
    Scan(flv.Bytes());
    ASSERT_EQ(manager.audioIndex.size(), 1u);
    EXPECT_EQ(manager.audioIndex[0].time, 0x01000000u);
}

TEST_F(ManagerTest, PreviousTagSizeValueAndStreamIdAreNotLookedAt) {
    FlvBuilder flv;
    const std::size_t first = flv.Tag(9, 0, FlvBuilder::VideoBody(1, 2, 3), Trailer::kWrong, 77);
    const std::size_t second = flv.Video(40, 2, 2, 3);
    Scan(flv.Bytes());
    EXPECT_EQ(manager.videoIndex, (std::vector<IndexEntry>{{first, 0, 1}, {second, 40, 2}}));
}

TEST_F(ManagerTest, MetadataComesFromEveryScriptTagOnBuildOnly) {
    FlvBuilder flv;
    flv.Script(0, FlvBuilder::OnMetaData({{"width", FlvBuilder::Amf0Number(640)},
                                          {"height", FlvBuilder::Amf0Number(0)},
                                          {"framerate", FlvBuilder::Amf0Number(50)}}));
    flv.Video(0, 1, 2, 10);
    const std::size_t grown = flv.Size();
    Scan(flv.Bytes());
    EXPECT_EQ(manager.facts.width, 640);
    EXPECT_EQ(manager.facts.height, 240);
    EXPECT_DOUBLE_EQ(manager.facts.videoDuration, 20.0);  // one frame at 50 fps, at time 0

    FlvBuilder more;
    more.Script(40, FlvBuilder::OnMetaData({{"width", FlvBuilder::Amf0Number(100)}}));
    const std::size_t added = more.Video(40, 2, 2, 10);
    file->Append(more.Bytes().substr(13));
    manager.RefreshIndex(nullptr, file->Input());
    EXPECT_EQ(manager.facts.width, 640);  // the refresh passes script tags over
    ASSERT_EQ(manager.videoIndex.size(), 2u);
    EXPECT_EQ(manager.videoIndex[1].position, grown + added - 13);
    EXPECT_EQ(manager.facts.videoFrameCount, 2u);
}

TEST_F(ManagerTest, DurationsFromTheIndexWithAUsableFrameRate) {
    FlvBuilder flv;
    for (int i = 0; i < 250; ++i) flv.Video(static_cast<std::uint32_t>(i * 40), 2, 2, 1);
    Scan(flv.Bytes());
    EXPECT_EQ(manager.facts.videoFrameCount, 250u);
    EXPECT_DOUBLE_EQ(manager.facts.videoDuration, 10000.0);  // 25 fps, last frame at 9960

    for (double rate : {0.0, -5.0, std::nan(""), std::numeric_limits<double>::infinity(),
                        std::numeric_limits<double>::denorm_min()}) {
        CFLV_Manager other;
        other.facts.frameRate = rate;
        other.BuildIndex(nullptr, file->InputAt(13));
        EXPECT_TRUE(std::isfinite(other.facts.videoDuration)) << rate;
        EXPECT_DOUBLE_EQ(other.facts.videoDuration, 1000.0 / 30 + 9960) << rate;
    }
}

TEST_F(ManagerTest, DurationEndsAfterTheLatestShownFrameOfReorderedVideo) {
    // Decode order I P B with composition times: the last tag is shown before the one ahead.
    FlvBuilder flv;
    flv.AvcFrame(0, 1, 40, 4);    // shown at 40
    flv.AvcFrame(40, 2, 80, 4);   // shown at 120
    flv.AvcFrame(80, 2, 0, 4);    // shown at 80
    Scan(flv.Bytes());
    EXPECT_DOUBLE_EQ(manager.facts.videoDuration, 120.0 + 40.0);
}

TEST_F(ManagerTest, UnknownTagTypeEndsTheWalkThere) {
    FlvBuilder flv;
    flv.Video(0, 1, 2, 10);
    const std::size_t unknown = flv.Tag(15, 40, "abc");
    flv.Video(80, 1, 2, 10);
    Scan(flv.Bytes());
    EXPECT_EQ(manager.videoIndex.size(), 1u);
    EXPECT_EQ(manager.resumeOffset, unknown);
}

TEST_F(ManagerTest, CompleteTagsWithUnparseableBodiesAreSteppedOver) {
    FlvBuilder flv;
    flv.Tag(8, 0, "");                              // zero-length audio
    flv.Tag(9, 0, "");                              // zero-length video
    flv.Tag(9, 0, std::string("\x17\x01\x00", 3));  // AVC shorter than its 5 fixed bytes
    flv.Tag(9, 0, "\x14");                          // VP6 without adjustment byte
    flv.Tag(8, 0, "\xAF");                          // AAC without packet type
    flv.Audio(0, 2, 3, 1, 1, 0);                    // MP3 header byte, no payload
    // A script body whose property name runs past the body: no metadata from it.
    flv.Script(0, FlvBuilder::Amf0String("onMetaData") + std::string("\x08\x00\x00\x00\x01", 5) +
                      FlvBuilder::BigEndian(500, 2) + "width");
    const std::size_t video = flv.Video(40, 1, 2, 10);
    const std::size_t audio = flv.Audio(40, 2, 3, 1, 1, 10);
    Scan(flv.Bytes());
    EXPECT_EQ(manager.videoIndex, (std::vector<IndexEntry>{{video, 40, 1}}));
    EXPECT_EQ(manager.audioIndex, (std::vector<IndexEntry>{{audio, 40, 2}}));
    EXPECT_EQ(manager.videoExtra, nullptr);
    EXPECT_EQ(manager.audioExtra, nullptr);
    EXPECT_EQ(manager.facts.width, 320);
    EXPECT_EQ(manager.resumeOffset, flv.Size());
}

TEST_F(ManagerTest, DeeplyNestedScriptBodyIsSteppedOver) {
    std::string amf0 = FlvBuilder::Amf0String("onMetaData") + "\x08" + FlvBuilder::BigEndian(1, 4);
    amf0 += FlvBuilder::Amf0Name("a");
    for (int depth = 0; depth < 200; ++depth) amf0 += "\x0A" + FlvBuilder::BigEndian(1, 4);
    amf0 += FlvBuilder::Amf0Number(1);
    FlvBuilder flv;
    flv.Script(0, amf0);
    const std::size_t video = flv.Video(0, 1, 2, 4);
    Scan(flv.Bytes());
    EXPECT_EQ(manager.videoIndex, (std::vector<IndexEntry>{{video, 0, 1}}));
}

TEST_F(ManagerTest, IncompleteTagEndsTheWalkAtItsStart) {
    FlvBuilder flv;
    flv.Video(0, 1, 2, 10);
    const std::size_t incomplete = flv.TagClaiming(9, 40, 5000, FlvBuilder::VideoBody(2, 2, 10));
    Scan(flv.Bytes());
    EXPECT_EQ(manager.videoIndex.size(), 1u);
    EXPECT_EQ(manager.resumeOffset, incomplete);

    // A zero-length tag whose PreviousTagSize is not there yet is not stepped over either.
    FlvBuilder zero;
    const std::size_t last = zero.Tag(8, 0, "", Trailer::kMissing);
    zero.Raw("\x00\x00");
    Scan(zero.Bytes());
    EXPECT_EQ(manager.resumeOffset, last);
}

TEST_F(ManagerTest, LastTagWithoutPreviousTagSizeIsIndexedOnce) {
    FlvBuilder flv;
    flv.Video(0, 1, 2, 10);
    const std::size_t last = flv.Video(40, 2, 2, 10, Trailer::kMissing);
    Scan(flv.Bytes());
    ASSERT_EQ(manager.videoIndex.size(), 2u);
    EXPECT_EQ(manager.videoIndex[1].position, last);
    EXPECT_EQ(manager.resumeOffset, last);

    // Nothing added: the refresh reads the tag again but takes nothing twice.
    manager.RefreshIndex(nullptr, file->Input());
    EXPECT_EQ(manager.videoIndex.size(), 2u);
    EXPECT_EQ(manager.resumeOffset, last);

    // Its PreviousTagSize arrives, then a new tag: each is taken once.
    FlvBuilder more;
    const std::size_t next = more.Video(80, 2, 2, 10);
    file->Append(FlvBuilder::BigEndian(11 + 11, 4) + more.Bytes().substr(next));
    manager.RefreshIndex(nullptr, file->Input());
    ASSERT_EQ(manager.videoIndex.size(), 3u);
    EXPECT_EQ(manager.videoIndex[2].position, flv.Size() + 4);
    EXPECT_EQ(manager.resumeOffset, flv.Size() + 4 + more.Size() - next);
}

TEST_F(ManagerTest, RefreshWithoutGrowthReadsNothing) {
    FlvBuilder flv;
    flv.Video(0, 1, 2, 10);
    Scan(flv.Bytes());
    const auto before = manager.videoIndex;
    manager.RefreshIndex(nullptr, file->Input());
    EXPECT_EQ(manager.videoIndex, before);
    EXPECT_EQ(manager.resumeOffset, flv.Size());
}

// A file with every kind of tag, written to disk in pieces: after each piece the stream
// measures the file again and the manager refreshes. The result must be exactly the index of
// one walk over the whole file, whatever the cuts.
class GrowingFileTest : public ::testing::TestWithParam<std::size_t> {
  protected:
    static FlvBuilder WholeFile() {
        FlvBuilder flv;
        flv.Script(0, FlvBuilder::OnMetaData({{"width", FlvBuilder::Amf0Number(176)}}));
        flv.Tag(8, 0, "");  // zero-length audio, stepped over
        flv.AvcSequenceHeader(0);
        flv.AacSequenceHeader(0);
        for (std::uint32_t i = 0; i < 12; ++i) {
            flv.AvcFrame(i * 40, i % 5 == 0 ? 1 : 2, i % 3 == 0 ? 80 : -40, 20 + i * 7);
            flv.AacFrame(i * 23, 9 + i);
            if (i == 6) flv.Tag(9, i * 40, std::string("\x17\x01", 2));  // too short
        }
        return flv;
    }
};

TEST_P(GrowingFileTest, RefreshesEndWithTheIndexOfAFullWalk) {
    const FlvBuilder flv = WholeFile();
    const std::string& bytes = flv.Bytes();
    FlvTestFile whole(bytes, "whole.flv");
    CFLV_Manager full;
    full.BuildIndex(nullptr, whole.InputAt(13));
    ASSERT_EQ(full.videoIndex.size(), 12u);
    ASSERT_EQ(full.audioIndex.size(), 12u);

    const std::size_t step = GetParam();
    // The first piece holds the header and ends inside the first tag's header.
    std::size_t written = 16;
    FlvTestFile growing(bytes.substr(0, written), "growing.flv");
    CFLV_Manager manager;
    manager.BuildIndex(nullptr, growing.InputAt(13));
    while (written < bytes.size()) {
        const std::size_t piece = std::min(step, bytes.size() - written);
        growing.Append(std::string_view(bytes).substr(written, piece));
        written += piece;
        manager.RefreshIndex(nullptr, growing.Input());
    }
    EXPECT_EQ(manager.videoIndex, full.videoIndex);
    EXPECT_EQ(manager.audioIndex, full.audioIndex);
    EXPECT_EQ(Extra(manager.videoExtra), Extra(full.videoExtra));
    EXPECT_EQ(Extra(manager.audioExtra), Extra(full.audioExtra));
    EXPECT_EQ(manager.resumeOffset, bytes.size());
    EXPECT_EQ(manager.facts.videoFrameCount, 12u);
    EXPECT_DOUBLE_EQ(manager.facts.audioDuration, full.facts.audioDuration);
}

// Byte by byte cuts every tag inside its header, its body and its PreviousTagSize.
INSTANTIATE_TEST_SUITE_P(Steps, GrowingFileTest, ::testing::Values(1, 3, 7, 29, 100));

TEST_F(ManagerTest, EveryCutOfTheFileRefreshesToTheFullIndex) {
    const FlvBuilder flv = [] {
        FlvBuilder built;
        built.AvcSequenceHeader(0);
        built.Tag(8, 0, "");
        for (std::uint32_t i = 0; i < 4; ++i) {
            built.AvcFrame(i * 40, 1, 40, 6);
            built.Audio(i * 20, 2, 3, 1, 0, 5);
        }
        return built;
    }();
    const std::string& bytes = flv.Bytes();
    FlvTestFile whole(bytes, "whole.flv");
    CFLV_Manager full;
    full.BuildIndex(nullptr, whole.InputAt(13));
    for (std::size_t cut = 13; cut < bytes.size(); ++cut) {
        FlvTestFile growing(bytes.substr(0, cut), "cut.flv");
        CFLV_Manager grown;
        grown.BuildIndex(nullptr, growing.InputAt(13));
        growing.Append(std::string_view(bytes).substr(cut));
        grown.RefreshIndex(nullptr, growing.Input());
        ASSERT_EQ(grown.videoIndex, full.videoIndex) << "cut at " << cut;
        ASSERT_EQ(grown.audioIndex, full.audioIndex) << "cut at " << cut;
    }
}

// The sample format of an audio stream, from the first indexed audio tag's header fields.
struct AudioFormatCase {
    std::uint8_t format, rate, size, type;
    std::int32_t sampleRate, channels, bits;
    WORD formatTag, blockAlign;
    std::int32_t codecCode;
};

class AudioFormatTest : public ::testing::TestWithParam<AudioFormatCase> {};

TEST_P(AudioFormatTest, DerivedFromTheHeaderFields) {
    const AudioFormatCase& c = GetParam();
    FlvBuilder flv;
    flv.AacSequenceHeader(0);  // not indexed: the format comes from the next tag
    flv.Audio(0, c.format, c.rate, c.size, c.type, 4);
    FlvTestFile file(flv.Bytes());
    CFLV_Manager manager;
    manager.facts.waveFormat.wFormatTag = 0x7777;  // "unchanged" shows through
    manager.facts.audioCodecCode = 0x7777;
    manager.BuildIndex(nullptr, file.InputAt(13));
    const StreamFacts& facts = manager.facts;
    EXPECT_EQ(facts.soundFormat, c.format);
    EXPECT_EQ(facts.sampleRate, c.sampleRate);
    EXPECT_EQ(facts.channels, c.channels);
    EXPECT_EQ(facts.bitsPerSample, c.bits);
    EXPECT_EQ(facts.waveFormat.wFormatTag, c.formatTag);
    EXPECT_EQ(facts.waveFormat.nSamplesPerSec, static_cast<DWORD>(c.sampleRate));
    EXPECT_EQ(facts.waveFormat.nChannels, c.channels);
    EXPECT_EQ(facts.waveFormat.wBitsPerSample, c.bits);
    EXPECT_EQ(facts.waveFormat.nBlockAlign, c.blockAlign);
    EXPECT_EQ(facts.waveFormat.nAvgBytesPerSec, 0u);
    EXPECT_EQ(facts.audioCodecCode, c.codecCode);
}

INSTANTIATE_TEST_SUITE_P(Formats, AudioFormatTest,
                         ::testing::Values(
                             // format rate size type | rate channels bits | tag block | code
                             AudioFormatCase{0, 0, 0, 0, 5500, 1, 8, 1, 1, 0x10004},
                             AudioFormatCase{0, 3, 1, 1, 44100, 2, 16, 1, 4, 0x10001},
                             AudioFormatCase{1, 1, 1, 0, 11025, 1, 16, 0, 2, 0x1100D},
                             AudioFormatCase{2, 3, 1, 1, 44100, 2, 16, 0x55, 1, 0x15001},
                             AudioFormatCase{3, 2, 1, 1, 22050, 2, 16, 1, 4, 0x10000},
                             AudioFormatCase{3, 2, 0, 0, 22050, 1, 8, 1, 1, 0x10004},
                             AudioFormatCase{4, 3, 1, 0, 16000, 1, 16, 0x7777, 2, 0x15025},
                             AudioFormatCase{5, 3, 1, 0, 8000, 1, 16, 0x7777, 2, 0x15025},
                             // General Nellymoser takes its rate from the rate field.
                             AudioFormatCase{6, 2, 1, 0, 22050, 1, 16, 0x7777, 2, 0x15025},
                             AudioFormatCase{7, 3, 1, 1, 44100, 2, 16, 0, 4, 0x7777},
                             AudioFormatCase{10, 3, 1, 1, 44100, 2, 16, 0x7777, 4, 0x15002},
                             AudioFormatCase{11, 0, 1, 0, 16000, 1, 16, 0x7777, 2, 0x15027},
                             AudioFormatCase{14, 1, 0, 1, 11025, 2, 8, 0, 2, 0x7777}));
}  // namespace
