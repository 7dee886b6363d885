// The stored index stream: its layout, and the manager loading it from a parameter container
// (as a cache file or the source object hands it over).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flv/Manager.h"
#include "flv/StoredIndex.h"
#include "flv/StoredIndexStream.h"
#include "frame/ComponentModule.h"
#include "mediakit/MediaKit.h"
#include "platform/Bstr.h"
#include "platform/Com.h"
#include "tests/support/FlvBuilder.h"
#include "tests/support/FlvTestFile.h"

namespace {
using Index = std::vector<IndexEntry>;

ComPtr<IStream> StreamOf(const std::string& bytes) {
    ComPtr<IStream> stream;
    EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream.Put()), S_OK);
    EXPECT_EQ(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr), S_OK);
    return stream;
}

// A stored index stream written from `index`.
ComPtr<IStream> Stored(const CExtraData* video, const CExtraData* audio, const Index& index,
                       std::uint32_t kind) {
    ComPtr<IStream> stream = StreamOf("");
    EXPECT_EQ(WriteStoredIndex(stream.Get(), video, audio, index, kind), S_OK);
    return stream;
}

std::string Le32(std::uint32_t value) {
    const std::string big = FlvBuilder::BigEndian(value, 4);
    return {big.rbegin(), big.rend()};
}

std::string Record(std::uint64_t position, std::uint32_t time, std::uint32_t frameType,
                   std::uint32_t kind) {
    return Le32(static_cast<std::uint32_t>(position)) + Le32(position >> 32) + Le32(time) +
           Le32(0) + std::string(8, '\0') + Le32(frameType) + Le32(0) + Le32(kind);
}

// Damaged streams load what they hold before the damage, and nothing is allocated for records
// or extra data that are not there. Only a stream exactly as a writer writes it is canonical
// (may be stood in for by a stream made from what was read).
TEST(StoredIndexTest, DamagedAndUncommonStreams) {
    const struct {
        std::string bytes;
        bool complete, canonical;
        Index video, audio;
    } cases[] = {
        // N says a billion; two whole records (any kind other than 1 is audio) and half a third
        {Le32(0) + Le32(0) + Le32(1000000000) + Record(0x100000013, 0, 1, 1) + Record(40, 7, 2, 7) +
             Record(99, 9, 9, 1).substr(0, 18),
         false,
         false,
         {{0x100000013, 0, 1}},
         {{40, 7, 2}}},
        {Le32(0x7FFFFFFF) + Le32(0) + "ab", false, false, {}, {}},  // V larger than the stream
        {Le32(0xFFFFFFFF) + Le32(0) + Le32(0x80000000), true, false, {}, {}},  // negatives are 0
        {"\x01\x00", false, false, {}, {}},  // too short for its own header
        // Whole and as written; then the same with a byte after it, with a reserved field set,
        // and with kind 7 (audio, but a writer puts 2).
        {Le32(0) + Le32(0) + Le32(1) + Record(13, 5, 2, 2), true, true, {}, {{13, 5, 2}}},
        {Le32(0) + Le32(0) + Le32(1) + Record(13, 5, 2, 2) + "x", true, false, {}, {{13, 5, 2}}},
        {Le32(0) + Le32(0) + Le32(1) + Record(13, 5, 2, 2).replace(20, 1, "\x01"),
         true,
         false,
         {},
         {{13, 5, 2}}},
        {Le32(0) + Le32(0) + Le32(1) + Record(13, 5, 2, 7), true, false, {}, {{13, 5, 2}}},
    };
    for (const auto& c : cases) {
        StoredIndexExtras extras;
        IndexArray video, audio;
        const StoredIndexRead read = ReadStoredIndex(StreamOf(c.bytes).Get(), extras, video, audio);
        EXPECT_EQ(read.complete, c.complete);
        EXPECT_EQ(read.canonical, c.canonical);
        EXPECT_EQ(video, c.video);
        EXPECT_EQ(audio, c.audio);
        EXPECT_LE(video.capacity(), 2u);
        EXPECT_TRUE(extras.video.Empty());
    }
    // The configuration changes: N says a billion, one record and half of another are there.
    std::vector<ConfigChange> changes;
    EXPECT_FALSE(ReadConfigChanges(
        StreamOf(Le32(1000000000) + Le32(13) + Le32(0) + Le32(7) + Le32(0) + Le32(99)).Get(),
        changes));
    EXPECT_EQ(changes, (std::vector<ConfigChange>{{13, 7}}));
    EXPECT_LE(changes.capacity(), 1u);
}

// A file opened from a stored index: the indexes and configuration changes come from the
// container. When the file grows (here by a hole and more tags), a refresh goes on from the last
// indexed tag and ends with the index and changes of a full walk of the grown file; a refresh
// with a container replaces the indexes again.
TEST(StoredIndexTest, LoadThenRefresh) {
    ASSERT_EQ(MediaKitRegisterClasses(), S_OK);
    FlvBuilder flv;
    flv.AvcSequenceHeader(0);
    flv.AacSequenceHeader(0);
    const auto frames = [&flv](std::uint32_t from, std::uint32_t to) {
        for (std::uint32_t i = from; i < to; ++i) {
            // The encoder restarts with another configuration twice.
            if (i == 20 || i == 32) flv.AvcSequenceHeader(i * 40, std::to_string(i));
            flv.AvcFrame(i * 40, i % 10 == 0 ? 1 : 2, 40, 8);
            flv.Audio(i * 23, 3, 3, 1, 1, 92);  // 23 frames of 16-bit stereo PCM at 44.1 kHz
        }
    };
    frames(0, 30);
    FlvTestFile file(flv.Bytes());
    CFLV_Manager scanned;
    scanned.BuildIndex(nullptr, file.InputAt(13));

    ComPtr<IMediaParams> params;
    ASSERT_EQ(CreateInstance(CLSID_MediaParams, params), S_OK);
    const auto video =
        Stored(scanned.videoExtra.get(), nullptr, scanned.videoIndex.ToVector(), kStoredVideoKind);
    const auto audio =
        Stored(nullptr, scanned.audioExtra.get(), scanned.audioIndex.ToVector(), kStoredAudioKind);
    ASSERT_EQ(params->SetStream(Bstr(L"FileVideoIndexes").Get(), 0, 1, video.Get()), S_OK);
    ASSERT_EQ(params->SetStream(Bstr(L"FileAudioIndexes").Get(), 0, 1, audio.Get()), S_OK);
    const auto changes = StreamOf("");
    ASSERT_EQ(WriteConfigChanges(changes.Get(), scanned.videoConfigChanges), S_OK);
    ASSERT_EQ(params->SetStream(Bstr(L"FileVideoConfigChanges").Get(), 0, 1, changes.Get()), S_OK);
    ASSERT_EQ(params->SetLong(Bstr(L"VideoCodecType").Get(), -1, 7), S_OK);  // takes the extra data

    CFLV_Manager loaded;
    loaded.BuildIndex(params.Get(), file.InputAt(13));
    EXPECT_EQ(loaded.videoIndex, scanned.videoIndex);
    ASSERT_NE(loaded.LoadedStoredIndex(true), nullptr);  // as written: it may be stood in for
    EXPECT_TRUE(loaded.LoadedStoredIndex(true)->entries.SharesWith(loaded.videoIndex));
    EXPECT_EQ(loaded.audioIndex, scanned.audioIndex);
    // The audio ends with its last tag's sound, whichever way the index came.
    EXPECT_DOUBLE_EQ(scanned.facts.audioDuration, 29 * 23 + 23 * 1000.0 / 44100);
    EXPECT_DOUBLE_EQ(loaded.facts.audioDuration, scanned.facts.audioDuration);
    EXPECT_EQ(scanned.videoConfigChanges.size(), 1u);
    EXPECT_EQ(loaded.videoConfigChanges, scanned.videoConfigChanges);

    const std::size_t loadedSize = flv.Size();
    flv.Raw(std::string(11, '\0'));  // a zero-filled hole, stepped over
    frames(30, 35);
    file.Append(std::string_view(flv.Bytes()).substr(loadedSize));
    loaded.RefreshIndex(nullptr, file.Input());
    EXPECT_EQ(loaded.LoadedStoredIndex(true), nullptr);  // the index changed since
    CFLV_Manager full;
    full.BuildIndex(nullptr, file.InputAt(13));
    EXPECT_EQ(loaded.videoIndex, full.videoIndex);
    EXPECT_EQ(loaded.audioIndex, full.audioIndex);
    EXPECT_DOUBLE_EQ(loaded.facts.audioDuration, full.facts.audioDuration);
    EXPECT_EQ(full.videoConfigChanges.size(), 2u);
    EXPECT_EQ(loaded.videoConfigChanges, full.videoConfigChanges);

    loaded.RefreshIndex(params.Get(), file.Input());
    EXPECT_EQ(loaded.videoIndex, scanned.videoIndex);
    EXPECT_DOUBLE_EQ(loaded.facts.audioDuration, scanned.facts.audioDuration);
}
// A stream over a decoded index reads as the bytes a writer writes, in pieces of any size, from
// any position and through clones, and refuses changes. A manager that loads it takes the
// records without reading the bytes, sharing them; the first change to a shared index copies it.
TEST(StoredIndexTest, AStreamOverADecodedIndex) {
    ASSERT_EQ(MediaKitRegisterClasses(), S_OK);
    auto content = std::make_shared<StoredIndexContent>();
    content->videoExtra.Assign(reinterpret_cast<const BYTE*>("abc"), 3);
    content->entries = IndexArray(Index{{13, 0, 1}, {0x1234567890, 40, 2}, {99, 80, 3}});
    content->kind = kStoredVideoKind;
    ComPtr<IStream> written =
        Stored(&content->videoExtra, nullptr, content->entries.ToVector(), kStoredVideoKind);
    std::string expected(8 + 3 + 4 + 3 * 36, '\0');
    ASSERT_EQ(written->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(written->Read(expected.data(), static_cast<ULONG>(expected.size()), nullptr), S_OK);

    ComPtr<IStream> stream;
    ASSERT_EQ(CreateStoredIndexStream(content, &ComponentModule(), stream), S_OK);
    for (const ULONG piece : {1u, 7u, 36u, 1000u}) {
        ASSERT_EQ(stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr), S_OK);
        std::string bytes;
        for (;;) {
            std::string chunk(piece, '\0');
            ULONG got = 0;
            ASSERT_EQ(stream->Read(chunk.data(), piece, &got), S_OK);
            if (got == 0) break;
            bytes += chunk.substr(0, got);
        }
        EXPECT_EQ(bytes, expected) << piece;
    }
    ComPtr<IStream> clone;
    ASSERT_EQ(stream->Seek(LARGE_INTEGER{50}, STREAM_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(stream->Clone(clone.Put()), S_OK);
    std::string rest(100, '\0');
    ULONG got = 0;
    ASSERT_EQ(clone->Read(rest.data(), 100, &got), S_OK);
    EXPECT_EQ(rest.substr(0, got), expected.substr(50));
    STATSTG stat{};
    ASSERT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(stat.cbSize.QuadPart, expected.size());
    EXPECT_EQ(stream->Write("x", 1, nullptr), STG_E_ACCESSDENIED);
    EXPECT_EQ(stream->SetSize(ULARGE_INTEGER{0}), STG_E_ACCESSDENIED);
    EXPECT_EQ(StoredIndexContentOf(written.Get()), nullptr);

    ComPtr<IMediaParams> params;
    ASSERT_EQ(CreateInstance(CLSID_MediaParams, params), S_OK);
    ASSERT_EQ(params->SetLong(Bstr(L"VideoCodecType").Get(), -1, 7), S_OK);
    ASSERT_EQ(params->SetStream(Bstr(L"FileVideoIndexes").Get(), 0, 1, clone.Get()), S_OK);
    FlvTestFile file(FlvBuilder().Bytes());
    CFLV_Manager manager;
    manager.BuildIndex(params.Get(), file.InputAt(13));
    EXPECT_TRUE(manager.videoIndex.SharesWith(content->entries));
    ASSERT_TRUE(manager.videoExtra);
    EXPECT_EQ(manager.videoExtra->Length(), 3u);
    ASSERT_NE(manager.LoadedStoredIndex(true), nullptr);
    EXPECT_TRUE(manager.LoadedStoredIndex(true)->entries.SharesWith(content->entries));
    EXPECT_EQ(manager.LoadedStoredIndex(false), nullptr);  // no such stream

    IndexArray copy = manager.videoIndex;
    copy.push_back({200, 120, 2});
    EXPECT_EQ(content->entries.size(), 3u);
    EXPECT_FALSE(copy.SharesWith(content->entries));
    copy.clear();
    EXPECT_EQ(manager.videoIndex, content->entries);
}
}  // namespace
