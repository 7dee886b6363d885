// The bad inputs of docs/robustness.md that need the whole component: files opened through
// FlashFile5 (missing, a folder, too short, not FLV, cut anywhere, tags of no size, time stamps
// that jump or run backwards) and index cache files that are damaged or named by an unusable
// hash. The rows that one element covers on its own are tested beside that element (tests/flv,
// tests/mediakit, tests/source).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>

#include "frame/ErrorSupport.h"
#include "platform/TextConvert.h"
#include "tests/reliability/ReliabilityHarness.h"
#include "tests/support/ComponentTestSupport.h"

namespace {
namespace fs = std::filesystem;
using namespace std::string_literals;

constexpr std::size_t kReadLimit = 1000;
// Two seconds of Sorenson H.263 (10 frames per second, a keyframe every 5) and MP3.
constexpr Sample kSample = {"reliability_h263_mp3.flv",
                            "-f lavfi -i testsrc=size=32x24:rate=10 "
                            "-f lavfi -i sine=frequency=440:sample_rate=22050 -t 2 "
                            "-c:v flv1 -g 5 -b:v 20k -c:a libmp3lame -ar 22050 -b:a 32k"};

// Rewrites the record count of the video index stream that a cache file holds (the stream: V and
// A, the extra data sizes, the extra data, then the count) and saves the file again, with a
// checksum that fits.
void SetStoredCount(const fs::path& cacheFile, std::uint32_t count) {
    ComPtr<IMediaParams> cache = NewContainer();
    const Bstr path(Utf8ToWide(cacheFile.string())), name(L"FileVideoIndexes");
    ComPtr<IStream> stream;
    ASSERT_EQ(cache->LoadFromFile(path.Get()), S_OK);
    ASSERT_EQ(cache->GetStream(name.Get(), 0, 1, stream.Put()), S_OK);
    std::string bytes = StreamBytes(stream.Get());
    std::uint32_t sizes[2] = {};
    ASSERT_GE(bytes.size(), 12u);
    std::memcpy(sizes, bytes.data(), 8);
    ASSERT_GE(bytes.size(), 12 + std::size_t{sizes[0]} + sizes[1]);
    std::memcpy(bytes.data() + 8 + sizes[0] + sizes[1], &count, 4);
    ASSERT_EQ(cache->SetStream(name.Get(), 0, 1, MemoryStreamOf(bytes).Get()), S_OK);
    ASSERT_EQ(cache->SaveToFile(path.Get()), S_OK);
}

class BadInputTest : public ::testing::Test {
  protected:
    void SetUp() override { RegisterComponent(); }

    // Opens `file`: the tracks and durations of a fresh walk, every track read to its end
    // without a failure, one video frame per indexed frame.
    void ExpectOpenLikeAWalk(const fs::path& file, const wchar_t* hash = nullptr) {
        const ComPtr<IMediaSource> source = OpenFile(file, hash);
        ASSERT_TRUE(source);
        const ScannedFile scanned = ScanFile(file);
        for (const bool video : {true, false}) {
            const bool has = video ? scanned.facts.hasVideo : scanned.facts.hasAudio;
            ASSERT_EQ(TrackCount(source.Get(), video), has ? 1 : 0);
            if (!has) continue;
            EXPECT_EQ(TrackDuration(source.Get(), video),
                      video ? scanned.facts.videoDuration : scanned.facts.audioDuration);
            bool failed = true;
            const auto packets = ReadPackets(source.Get(), video, kReadLimit, false, 100, &failed);
            EXPECT_FALSE(failed);
            EXPECT_EQ(packets.size(), video ? scanned.video.size() : packets.size());
        }
    }

    CacheFolders folders;
    const fs::path& temp = folders.temp.Path();
};

// A file that cannot be opened is an error; anything that opens but is no FLV file, or holds no
// complete tag, is an open file without tracks (a fresh header passes the signature test, so an
// empty file, "F" and "FL" count as FLV files without tags).
TEST_F(BadInputTest, FilesWithoutTagsOpenWithoutTracksAndMissingOnesFail) {
    HRESULT hr = S_OK;
    EXPECT_FALSE(OpenFile(temp / "missing.flv", nullptr, &hr));
    EXPECT_EQ(hr, ZEV_E_FILEACCESS);
    EXPECT_FALSE(OpenFile(temp, nullptr, &hr));  // a folder
    EXPECT_EQ(hr, ZEV_E_FILEACCESS);

    // Without the signature nothing is indexed, and there is nothing to re-open.
    const struct {
        const char* name;
        std::string bytes;
        HRESULT reopened;
    } files[] = {
        {"empty", "", S_OK},
        {"one byte of the signature", "F", S_OK},
        {"one other byte", "X", ZEV_E_INVALIDOPERATION},
        {"two bytes of the signature", "FL", S_OK},
        {"not FLV", "RIFF\x24\x00\x00\x00WAVEfmt ", ZEV_E_INVALIDOPERATION},
        // Signature, version 1, audio and video, data offset 9, PreviousTagSize0 0.
        {"header only", std::string("FLV\x01\x05\x00\x00\x00\x09\x00\x00\x00\x00", 13), S_OK},
    };
    for (const auto& [name, bytes, reopened] : files) {
        SCOPED_TRACE(name);
        const ComPtr<IMediaSource> source = OpenFile(folders.temp.Write("bad.flv", bytes), nullptr);
        ASSERT_TRUE(source);
        EXPECT_EQ(TrackCount(source.Get(), true), 0);
        EXPECT_EQ(TrackCount(source.Get(), false), 0);
        ComPtr<IFlashFile5> file5;
        ASSERT_EQ(ComPtr<IMediaSource>(source).As(file5), S_OK);
        EXPECT_EQ(file5->ReOpenFile(), reopened);
    }
}

// Cut at every byte of its last two tags and at every field of its first tag (type, DataSize,
// Timestamp, TimestampExtended, StreamID, body, PreviousTagSize), a file opens with the tags
// before the cut, as a walk finds them, and reads to their end. Tags of every type with DataSize
// 0 (before the first real tag) are stepped over.
TEST_F(BadInputTest, FileCutInEveryFieldOrWithEmptyTagsOpensLikeAWalk) {
    REQUIRE_SAMPLE(sample, kSample);
    const std::string flv = FileBytes(sample);
    const std::vector<FlvTag> tags = TagsOf(flv);
    ASSERT_GT(tags.size(), 4u);
    std::vector<std::size_t> cuts;
    for (std::size_t field : {0, 1, 2, 4, 7, 8, 11, 12}) cuts.push_back(tags[0].offset + field);
    cuts.push_back(tags[1].offset - 2);
    for (std::size_t cut = tags[tags.size() - 2].offset; cut < flv.size(); ++cut) {
        cuts.push_back(cut);
    }
    for (const std::size_t cut : cuts) {
        SCOPED_TRACE(cut);
        ExpectOpenLikeAWalk(folders.temp.Write("cut.flv", flv.substr(0, cut)));
        if (HasFailure()) return;
    }

    // Audio, video and script tags: DataSize 0, time 0, stream 0, then PreviousTagSize 11.
    std::string empty;
    for (const char type : {8, 9, 18}) empty += type + std::string(10, '\0') + "\0\0\0\x0B"s;
    const fs::path file =
        folders.temp.Write("empty.flv", flv.substr(0, 13) + empty + flv.substr(13));
    ExpectOpenLikeAWalk(file);
    EXPECT_EQ(ScanFile(file).video.size(), ScanFile(sample).video.size());
    EXPECT_EQ(ScanFile(file).audio.size(), ScanFile(sample).audio.size());
}

// A time stamp that jumps days ahead (a damaged recording) leaves a gap that reads fill, but a
// seek across it costs no more than the tags around it: it once decoded and discarded the whole
// gap (audio: days of silence; video: the frame repeated every frame duration).
TEST_F(BadInputTest, SeekAcrossATimeStampJumpOfDaysIsQuick) {
    REQUIRE_SAMPLE(sample, kSample);
    std::string flv = FileBytes(sample);
    constexpr std::uint32_t kJump = 0x7F000000;  // about 24 days
    const std::vector<FlvTag> tags = TagsOf(flv);
    for (const int type : {8, 9}) {  // the last audio tag and the last video tag
        auto last =
            std::find_if(tags.rbegin(), tags.rend(), [&](auto& t) { return t.type == type; });
        SetTagTime(flv, last->offset, kJump);
    }
    const ComPtr<IMediaSource> source = OpenFile(folders.temp.Write("jump.flv", flv), nullptr);
    ASSERT_TRUE(source);
    EXPECT_GE(TrackDuration(source.Get(), true), kJump);
    // The audio ends with the sound of its last tag: one MP3 frame of 576 samples at 22.05 kHz.
    EXPECT_NEAR(TrackDuration(source.Get(), false), kJump + 576 * 1000.0 / 22050, 0.001);
    for (const bool video : {true, false}) {
        for (const double time : {kJump / 2.0, kJump - 1000.0, 1000.0, kJump + 5000.0}) {
            SCOPED_TRACE(testing::Message() << (video ? "video " : "audio ") << time);
            const auto start = std::chrono::steady_clock::now();
            EXPECT_EQ(video ? source->SeekVideo(-1, 0, time) : source->SeekAudio(-1, 0, time),
                      S_OK);
            const auto packets = ReadPackets(source.Get(), video, 3);
            // Far beyond what a seek on this small file needs; the faults took hours.
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
            if (time > TrackDuration(source.Get(), video)) {
                EXPECT_TRUE(packets.empty());  // past the end
            } else {
                ASSERT_FALSE(packets.empty());
                EXPECT_NEAR(packets.front().time, time, 200.0);
            }
        }
    }
}

// Extended time stamps are part of the time; time stamps that run backwards stay in file order
// in the index. Either way, read from its first frame on, the track delivers every frame once,
// on a timeline that never runs back (a frame followed by an earlier one once got a negative
// duration; ReadPackets checks both).
TEST_F(BadInputTest, ExtendedAndBackwardTimeStampsDeliverEveryFrameOnce) {
    REQUIRE_SAMPLE(sample, kSample);
    const std::string original = FileBytes(sample);
    std::string extended = original;
    std::string backwards = original;
    std::size_t videoTags = 0;
    for (const FlvTag& tag : TagsOf(original)) {
        SetTagTime(extended, tag.offset, 0x01000000u + tag.time);
        // Every third video tag goes 150 ms back in time.
        if (tag.type == 9 && ++videoTags % 3 == 0) {
            SetTagTime(backwards, tag.offset, tag.time >= 150 ? tag.time - 150 : 0);
        }
    }
    for (const auto& [name, bytes] : {std::pair{"extended", extended}, {"backwards", backwards}}) {
        SCOPED_TRACE(name);
        const fs::path file = folders.temp.Write(std::string(name) + ".flv", bytes);
        const ScannedFile scanned = ScanFile(file);
        ASSERT_FALSE(scanned.video.empty());
        const ComPtr<IMediaSource> source = OpenFile(file, nullptr);
        ASSERT_TRUE(source);
        EXPECT_EQ(TrackDuration(source.Get(), true), scanned.facts.videoDuration);
        ASSERT_EQ(source->SeekVideo(-1, 0, static_cast<double>(scanned.video.front().time)), S_OK);
        const auto frames = ReadPackets(source.Get(), true, kReadLimit);
        ASSERT_EQ(frames.size(), scanned.video.size());
        for (std::size_t i = 0; name == std::string("extended") && i < frames.size(); ++i) {
            EXPECT_EQ(frames[i].time, static_cast<double>(scanned.video[i].time));
        }
    }
}

// A cache file that is cut short, has a byte flipped, or is of another format version does not
// load: the open walks the file and writes the cache file again. One whose record count runs far
// beyond its stream (behind a checksum that fits) loads what the stream holds, and the open
// saves a whole one. Either way the open is that of a walk.
TEST_F(BadInputTest, DamagedCacheFilesAreWalkedPastAndRewritten) {
    REQUIRE_SAMPLE(sample, kSample);
    const fs::path file = folders.temp.Write("clip.flv", FileBytes(sample));
    const ScannedFile scanned = ScanFile(file);
    ExpectOpenLikeAWalk(file, L"clip");
    const fs::path videoCache = folders.CacheFile("v", "clip");
    const std::string good = FileBytes(videoCache);
    ASSERT_GT(good.size(), 100u);
    std::string flipped = good;
    flipped[good.size() / 2] ^= 0x20;
    std::string otherVersion = good;
    otherVersion[8] = 3;  // a container file format version that this build does not know
    for (const auto& [name, bytes] : {std::pair{"truncated", good.substr(0, good.size() - 7)},
                                      {"flipped byte", flipped},
                                      {"other version", otherVersion},
                                      {"count beyond the stream", ""s}}) {
        SCOPED_TRACE(name);
        if (bytes.empty()) {
            SetStoredCount(videoCache, 0x7FFFFFFF);  // the good file that the open before saved
        } else {
            std::ofstream(videoCache, std::ios::binary | std::ios::trunc) << bytes;
        }
        ExpectOpenLikeAWalk(file, L"clip");
        std::vector<IndexEntry> video, audio;
        ASSERT_TRUE(StoredIndexOf(videoCache, video, audio));
        EXPECT_EQ(video, scanned.video);
    }
}

// A hash that is no plain file name (path separators, "..") disables the cache for that open:
// the file is walked, and nothing is written, inside the cache folder or outside it.
TEST_F(BadInputTest, HashWithPathSeparatorsDisablesTheCache) {
    REQUIRE_SAMPLE(sample, kSample);
    const fs::path file = folders.temp.Write("clip.flv", FileBytes(sample));
    for (const wchar_t* hash : {L"../../escape", L"a/b", L"a\\b", L"..", L"/tmp/x", L"x\x01"}) {
        ExpectOpenLikeAWalk(file, hash);
    }
    for (const auto& entry : fs::recursive_directory_iterator(temp)) {
        EXPECT_NE(entry.path().extension(), ".cache") << entry.path();
    }
}
}  // namespace
