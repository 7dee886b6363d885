// The bad inputs of docs/robustness.md that need the whole component: files opened through
// FlashFile5 (missing, a folder, too short, not FLV, cut anywhere, with time stamps that jump or
// run backwards) and index cache files that are damaged or named by an unusable hash. The rows
// that one element covers on its own are tested beside that element (tests/flv, tests/io,
// tests/mediakit, tests/source).
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "frame/ErrorSupport.h"
#include "mediakit/MediaInterfaces.h"
#include "platform/Bstr.h"
#include "platform/Com.h"
#include "platform/MemoryStream.h"
#include "platform/TextConvert.h"
#include "tests/reliability/ReliabilityHarness.h"
#include "tests/support/FfmpegTools.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

namespace {
namespace fs = std::filesystem;

constexpr std::size_t kReadLimit = 1000;
// Far beyond what a seek on these small files needs; the faults this guards against took hours.
constexpr auto kSeekBound = std::chrono::seconds(20);

// Two seconds of Sorenson H.263 (10 frames per second, a keyframe every 5) and MP3.
std::optional<fs::path> Sample() {
    return GeneratedSample("reliability_h263_mp3.flv",
                           "-f lavfi -i testsrc=size=32x24:rate=10 "
                           "-f lavfi -i sine=frequency=440:sample_rate=22050 -t 2 "
                           "-c:v flv1 -g 5 -b:v 20k -c:a libmp3lame -ar 22050 -b:a 32k");
}

// The tags of an FLV file: offset, type, and the offset just after its PreviousTagSize.
struct Tag {
    std::size_t offset;
    unsigned type;
    std::size_t end;
};
std::vector<Tag> TagsOf(const std::string& flv) {
    std::vector<Tag> tags;
    std::size_t at = 13;
    while (at + 11 <= flv.size()) {
        const auto* b = reinterpret_cast<const unsigned char*>(flv.data() + at);
        const std::size_t end = at + 11 + ((b[1] << 16) | (b[2] << 8) | b[3]) + 4;
        if (end > flv.size()) break;
        tags.push_back({at, b[0], end});
        at = end;
    }
    return tags;
}

// Rewrites a tag's Timestamp and TimestampExtended.
void SetTagTime(std::string& flv, std::size_t tag, std::uint32_t time) {
    flv[tag + 4] = static_cast<char>(time >> 16);
    flv[tag + 5] = static_cast<char>(time >> 8);
    flv[tag + 6] = static_cast<char>(time);
    flv[tag + 7] = static_cast<char>(time >> 24);
}

// Rewrites the record count of the video index stream that a cache file holds, and saves the
// file again (with a checksum that fits).
bool SetStoredCount(const fs::path& cacheFile, std::uint32_t count) {
    ComPtr<IMediaParams> cache;
    if (FAILED(CreateInstance(CLSID_MediaParams, cache))) return false;
    const Bstr path(Utf8ToWide(cacheFile.string()));
    const Bstr name(L"FileVideoIndexes");
    ComPtr<IStream> stream;
    if (cache->LoadFromFile(path.Get()) != S_OK ||
        FAILED(cache->GetStream(name.Get(), 0, 1, stream.Put())) || !stream) {
        return false;
    }
    std::string bytes(1 << 20, '\0');
    ULONG read = 0;
    (void)stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr);
    (void)stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read);
    bytes.resize(read);
    // V and A (the extra data sizes) come first, then the extra data, then the count.
    std::uint32_t v = 0, a = 0;
    std::memcpy(&v, bytes.data(), 4);
    std::memcpy(&a, bytes.data() + 4, 4);
    if (bytes.size() < 12 + std::size_t{v} + a) return false;
    std::memcpy(bytes.data() + 8 + v + a, &count, 4);
    ComPtr<IStream> patched;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, patched.Put())) ||
        FAILED(patched->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr)) ||
        FAILED(cache->SetStream(name.Get(), 0, 1, patched.Get()))) {
        return false;
    }
    return cache->SaveToFile(path.Get()) == S_OK;
}

class BadInputTest : public ::testing::Test {
  protected:
    BadInputTest()
        : data_("XDG_DATA_HOME", (temp.Path() / "data").string()),
          run_("XDG_RUNTIME_DIR", (temp.Path() / "run").string()) {
        fs::create_directories(temp.Path() / "run");
    }
    void SetUp() override { RegisterReliabilityClasses(); }

    fs::path DataHome() const { return temp.Path() / "data"; }

    // Opens `file`; expects `expected` and, on success, the tracks of a fresh walk, and reads
    // every track to its end without a failure.
    void ExpectOpenLikeAWalk(const fs::path& file, const wchar_t* hash = nullptr) {
        ComPtr<IMediaSource> source;
        ASSERT_EQ(OpenThroughSource(file, hash, source), S_OK);
        const ScannedFile scanned = ScanFile(file);
        EXPECT_EQ(TrackCount(source.Get(), true), scanned.facts.hasVideo ? 1 : 0);
        EXPECT_EQ(TrackCount(source.Get(), false), scanned.facts.hasAudio ? 1 : 0);
        if (scanned.facts.hasVideo) {
            EXPECT_EQ(TrackDuration(source.Get(), true), scanned.facts.videoDuration);
            bool failed = true;
            const auto frames = ReadToCurrentEnd(source.Get(), true, kReadLimit, 0, &failed);
            EXPECT_FALSE(failed);
            EXPECT_EQ(frames.size(), scanned.video.size());
        }
        if (scanned.facts.hasAudio) {
            EXPECT_EQ(TrackDuration(source.Get(), false), scanned.facts.audioDuration);
            bool failed = true;
            (void)ReadToCurrentEnd(source.Get(), false, kReadLimit, 100.0, &failed);
            EXPECT_FALSE(failed);
        }
    }

    TempDir temp;

  private:
    ScopedEnv data_;
    ScopedEnv run_;
};

// A file that cannot be opened is an error; anything that opens but is no FLV file, or holds no
// complete tag, is an open file without tracks (a fresh header passes the signature test, so an
// empty file, "F" and "FL" count as FLV files without tags).
TEST_F(BadInputTest, FilesWithoutTagsOpenWithoutTracksAndMissingOnesFail) {
    ComPtr<IMediaSource> source;
    EXPECT_EQ(OpenThroughSource(temp.Path() / "missing.flv", nullptr, source), ZEV_E_FILEACCESS);
    EXPECT_EQ(OpenThroughSource(temp.Path(), nullptr, source), ZEV_E_FILEACCESS);

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
        // The header, then 10 of the 11 bytes of a video tag header.
        {"cut tag header",
         std::string("FLV\x01\x05\x00\x00\x00\x09\x00\x00\x00\x00"
                     "\x09\x00\x00\x05\x00\x00\x00\x00\x00\x00",
                     23),
         S_OK},
    };
    for (const auto& [name, bytes, reopened] : files) {
        SCOPED_TRACE(name);
        const fs::path file = temp.Write("bad.flv", bytes);
        ASSERT_EQ(OpenThroughSource(file, nullptr, source), S_OK);
        EXPECT_EQ(TrackCount(source.Get(), true), 0);
        EXPECT_EQ(TrackCount(source.Get(), false), 0);
        ComPtr<IFlashFile5> file5;
        ASSERT_EQ(source.As(file5), S_OK);
        EXPECT_EQ(file5->ReOpenFile(), reopened);
        EXPECT_EQ(source->SendCommandEx(3, nullptr, nullptr), S_OK);
    }
}

// Cut at every byte of its last two tags and at every field of its first tag (type, DataSize,
// Timestamp, TimestampExtended, StreamID, body, PreviousTagSize), a file opens with the tags
// before the cut, as a walk finds them, and reads to their end.
TEST_F(BadInputTest, FileCutInEveryFieldOfATagOpensWithTheTagsBeforeTheCut) {
    const auto sample = Sample();
    if (!sample) GTEST_SKIP() << "ffmpeg is not available";
    const std::string flv = ReadWhole(*sample);
    const std::vector<Tag> tags = TagsOf(flv);
    ASSERT_GT(tags.size(), 4u);

    std::vector<std::size_t> cuts;
    const std::size_t first = tags[0].offset;
    for (std::size_t field : {0, 1, 2, 4, 7, 8, 11, 12}) cuts.push_back(first + field);
    cuts.push_back(tags[0].end - 2);
    for (std::size_t cut = tags[tags.size() - 2].offset; cut < flv.size(); ++cut) {
        cuts.push_back(cut);
    }
    for (const std::size_t cut : cuts) {
        SCOPED_TRACE(cut);
        ExpectOpenLikeAWalk(temp.Write("cut.flv", flv.substr(0, cut)));
        if (HasFailure()) break;
    }
}

// A time stamp that jumps days ahead (a damaged recording) leaves a gap that reads fill, but a
// seek across it costs no more than the tags around it: it once decoded and discarded the whole
// gap (audio: days of silence; video: the frame repeated every frame duration).
TEST_F(BadInputTest, SeekAcrossATimeStampJumpOfDaysIsQuick) {
    const auto sample = Sample();
    if (!sample) GTEST_SKIP() << "ffmpeg is not available";
    std::string flv = ReadWhole(*sample);
    const std::vector<Tag> tags = TagsOf(flv);
    constexpr std::uint32_t kJump = 0x7F000000;  // about 24 days
    bool lastVideo = false;
    bool lastAudio = false;
    for (auto tag = tags.rbegin(); tag != tags.rend(); ++tag) {
        bool& done = tag->type == 9 ? lastVideo : lastAudio;
        if (tag->type != 8 && tag->type != 9) continue;
        if (!done) SetTagTime(flv, tag->offset, kJump);
        done = true;
    }
    const fs::path file = temp.Write("jump.flv", flv);
    ComPtr<IMediaSource> source;
    ASSERT_EQ(OpenThroughSource(file, nullptr, source), S_OK);
    ASSERT_EQ(TrackCount(source.Get(), true), 1);
    ASSERT_EQ(TrackCount(source.Get(), false), 1);
    EXPECT_GE(TrackDuration(source.Get(), true), kJump);
    EXPECT_EQ(TrackDuration(source.Get(), false), kJump);

    for (const bool video : {true, false}) {
        for (const double time : {kJump / 2.0, kJump - 1000.0, 1000.0, kJump + 5000.0}) {
            SCOPED_TRACE(testing::Message() << (video ? "video " : "audio ") << time);
            const auto start = std::chrono::steady_clock::now();
            EXPECT_EQ(video ? source->SeekVideo(-1, 0, time) : source->SeekAudio(-1, 0, time),
                      S_OK);
            const auto packets = ReadToCurrentEnd(source.Get(), video, 3);
            EXPECT_LT(std::chrono::steady_clock::now() - start, kSeekBound);
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
// duration).
TEST_F(BadInputTest, ExtendedAndBackwardTimeStampsDeliverEveryFrameOnce) {
    const auto sample = Sample();
    if (!sample) GTEST_SKIP() << "ffmpeg is not available";
    const std::string original = ReadWhole(*sample);
    const std::vector<Tag> tags = TagsOf(original);
    auto timeOf = [&](const Tag& tag) {
        const auto* b = reinterpret_cast<const unsigned char*>(original.data() + tag.offset);
        return std::uint32_t{b[4]} << 16 | std::uint32_t{b[5]} << 8 | b[6];
    };
    std::string extended = original;
    for (const Tag& tag : tags) SetTagTime(extended, tag.offset, 0x01000000u + timeOf(tag));
    std::string backwards = original;
    std::size_t videoTags = 0;
    for (const Tag& tag : tags) {
        // Every third video tag goes 150 ms back in time.
        if (tag.type != 9 || ++videoTags % 3 != 0) continue;
        SetTagTime(backwards, tag.offset, timeOf(tag) >= 150 ? timeOf(tag) - 150 : 0);
    }
    for (const auto& [name, bytes] :
         {std::pair{"extended", extended}, std::pair{"backwards", backwards}}) {
        SCOPED_TRACE(name);
        const fs::path file = temp.Write(std::string(name) + ".flv", bytes);
        const ScannedFile scanned = ScanFile(file);
        ASSERT_FALSE(scanned.video.empty());
        ComPtr<IMediaSource> source;
        ASSERT_EQ(OpenThroughSource(file, nullptr, source), S_OK);
        EXPECT_EQ(TrackDuration(source.Get(), true), scanned.facts.videoDuration);
        ASSERT_EQ(source->SeekVideo(-1, 0, static_cast<double>(scanned.video.front().time)), S_OK);
        const auto frames = ReadToCurrentEnd(source.Get(), true, kReadLimit);
        EXPECT_EQ(frames.size(), scanned.video.size());
        double time = 0.0;
        for (const DeliveredPacket& frame : frames) {
            EXPECT_GE(frame.duration, 0.0) << frame.time;
            EXPECT_GE(frame.time, time);
            time = frame.time;
        }
        if (std::string(name) == "extended" && frames.size() == scanned.video.size()) {
            for (std::size_t i = 0; i < frames.size(); ++i) {
                EXPECT_EQ(frames[i].time, static_cast<double>(scanned.video[i].time));
            }
        }
    }
}

// A cache file that is cut short, has a byte flipped, or is of another format version does not
// load: the open walks the file and writes the cache file again. One whose record count runs far
// beyond its stream loads what the stream holds. Either way the open is that of a walk.
TEST_F(BadInputTest, DamagedCacheFilesAreWalkedPastAndRewritten) {
    const auto sample = Sample();
    if (!sample) GTEST_SKIP() << "ffmpeg is not available";
    const fs::path file = temp.Write("clip.flv", ReadWhole(*sample));
    const ScannedFile scanned = ScanFile(file);
    ExpectOpenLikeAWalk(file, L"clip");
    const fs::path videoCache = CacheFilePath(DataHome(), 'v', "clip");
    const std::string good = ReadWhole(videoCache);
    ASSERT_GT(good.size(), 100u);

    std::string flipped = good;
    flipped[good.size() / 2] ^= 0x20;
    std::string otherVersion = good;
    otherVersion[8] = 2;  // the container file's format version
    const std::pair<const char*, std::string> damaged[] = {
        {"truncated", good.substr(0, good.size() - 7)},
        {"flipped byte", flipped},
        {"other version", otherVersion},
    };
    for (const auto& [name, bytes] : damaged) {
        SCOPED_TRACE(name);
        WriteWhole(videoCache, bytes);
        ExpectOpenLikeAWalk(file, L"clip");
        std::vector<IndexEntry> video, audio;
        ASSERT_TRUE(StoredIndexOf(videoCache, video, audio));
        EXPECT_EQ(video, scanned.video);
    }

    // The record count lies behind the checksum: the damaged count gets a file saved for it.
    SCOPED_TRACE("count beyond the stream");
    ASSERT_TRUE(SetStoredCount(videoCache, 0x7FFFFFFF));
    ExpectOpenLikeAWalk(file, L"clip");
    std::vector<IndexEntry> video, audio;
    ASSERT_TRUE(StoredIndexOf(videoCache, video, audio));
    EXPECT_EQ(video, scanned.video);
}

// A hash that is no plain file name (path separators, "..") disables the cache for that open:
// the file is walked, and nothing is written, inside the cache folder or outside it.
TEST_F(BadInputTest, HashWithPathSeparatorsDisablesTheCache) {
    const auto sample = Sample();
    if (!sample) GTEST_SKIP() << "ffmpeg is not available";
    const fs::path file = temp.Write("clip.flv", ReadWhole(*sample));
    for (const wchar_t* hash : {L"../../escape", L"a/b", L"a\\b", L"..", L"/tmp/x", L"x\x01"}) {
        ExpectOpenLikeAWalk(file, hash);
    }
    std::vector<fs::path> written;
    for (const auto& entry : fs::recursive_directory_iterator(temp.Path())) {
        if (entry.is_regular_file() && entry.path().extension() == ".cache") {
            written.push_back(entry.path());
        }
    }
    EXPECT_TRUE(written.empty()) << written.front();
}
}  // namespace
