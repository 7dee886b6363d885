// The stored index stream: its layout and write batches, and the manager loading it from a
// parameter container (as a cache file or the source object hands it over).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flv/Manager.h"
#include "flv/StoredIndex.h"
#include "mediakit/MediaKit.h"
#include "platform/Bstr.h"
#include "platform/Com.h"
#include "platform/ComObject.h"
#include "tests/support/FlvBuilder.h"
#include "tests/support/FlvTestFile.h"

namespace {
// A memory stream that notes the size of every write.
class CRecordingStream final : public ComObject<CRecordingStream>, public IStream {
  public:
    COM_DELEGATING_IUNKNOWN
    explicit CRecordingStream(ComObjectArgs args) : ComObject(args) {}
    HRESULT FinalConstruct() { return CreateStreamOnHGlobal(nullptr, TRUE, inner.Put()); }
    HRESULT InternalQueryInterface(REFIID riid, void** ppv) {
        return QueryInterfaceTable<IStream, ISequentialStream>(this, riid, ppv);
    }

    HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG count, ULONG* read) override {
        return inner->Read(buffer, count, read);
    }
    HRESULT STDMETHODCALLTYPE Write(const void* buffer, ULONG count, ULONG* written) override {
        writes.push_back(count);
        return inner->Write(buffer, count, written);
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin,
                                   ULARGE_INTEGER* position) override {
        return inner->Seek(move, origin, position);
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override { return inner->SetSize(size); }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream* target, ULARGE_INTEGER count, ULARGE_INTEGER* read,
                                     ULARGE_INTEGER* written) override {
        return inner->CopyTo(target, count, read, written);
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD flags) override { return inner->Commit(flags); }
    HRESULT STDMETHODCALLTYPE Revert() override { return inner->Revert(); }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD flags) override {
        return inner->Stat(stat, flags);
    }
    HRESULT STDMETHODCALLTYPE Clone(IStream** copy) override { return inner->Clone(copy); }

    ComPtr<IStream> inner;
    std::vector<ULONG> writes;
};

std::vector<IndexEntry> Entries(std::size_t count, std::uint32_t frameType) {
    std::vector<IndexEntry> entries;
    for (std::size_t i = 0; i < count; ++i) {
        entries.push_back({1000 + i * 0x100000000ull, i * 40, frameType});
    }
    return entries;
}

std::string StreamBytes(IStream* stream) {
    STATSTG stat{};
    EXPECT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
    std::string bytes(stat.cbSize.QuadPart, '\0');
    EXPECT_EQ(stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr), S_OK);
    ULONG read = 0;
    EXPECT_EQ(stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read), S_OK);
    return bytes;
}

ComPtr<IStream> StreamOf(const std::string& bytes) {
    ComPtr<IStream> stream;
    EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream.Put()), S_OK);
    ULONG written = 0;
    EXPECT_EQ(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written), S_OK);
    return stream;
}

std::string Le32(std::uint32_t value) {
    std::string out;
    for (int i = 0; i < 4; ++i) out += static_cast<char>(value >> (8 * i));
    return out;
}

std::string Record(std::uint64_t position, std::uint64_t time, std::uint32_t frameType,
                   std::uint32_t kind) {
    std::string out;
    for (int i = 0; i < 8; ++i) out += static_cast<char>(position >> (8 * i));
    for (int i = 0; i < 8; ++i) out += static_cast<char>(time >> (8 * i));
    out += std::string(8, '\0');
    return out + Le32(frameType) + Le32(0) + Le32(kind);
}

class StoredIndexTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(MediaKitRegisterClasses(), S_OK);
        ASSERT_EQ(CreateInstance(CLSID_MediaParams, params), S_OK);
    }

    void SetLong(const wchar_t* name, LONG value) {
        ASSERT_EQ(params->SetLong(Bstr(name).Get(), -1, value), S_OK);
    }
    void SetStream(const wchar_t* name, IStream* stream) {
        ASSERT_EQ(params->SetStream(Bstr(name).Get(), 0, 1, stream), S_OK);
    }

    ComPtr<IMediaParams> params;
};

TEST_F(StoredIndexTest, RecordsAreWrittenInEightBatchesAndTheRest) {
    struct Case {
        std::size_t records;
        std::vector<ULONG> recordWrites;
    };
    const Case cases[] = {
        {0, {}},
        {3, {108}},
        {16, {72, 72, 72, 72, 72, 72, 72, 72}},
        {20, {72, 72, 72, 72, 72, 72, 72, 72, 144}},
    };
    CExtraData extra;
    extra.Assign(reinterpret_cast<const BYTE*>("\x01\x02\x03"), 3);
    for (const Case& c : cases) {
        ComPtr<IStream> stream;
        ASSERT_EQ(ComObject<CRecordingStream>::Create(nullptr, stream), S_OK);
        auto* recording = static_cast<CRecordingStream*>(stream.Get());
        ASSERT_EQ(WriteStoredIndex(stream.Get(), &extra, nullptr, Entries(c.records, 1), 1), S_OK);
        const std::vector<ULONG> head = {4, 4, 3, 4};  // V, A, the extra data, N
        ASSERT_GE(recording->writes.size(), head.size());
        EXPECT_EQ(std::vector<ULONG>(recording->writes.begin(), recording->writes.begin() + 4),
                  head);
        EXPECT_EQ(std::vector<ULONG>(recording->writes.begin() + 4, recording->writes.end()),
                  c.recordWrites)
            << c.records << " records";
        EXPECT_EQ(StreamBytes(stream.Get()).size(), 8 + 3 + 4 + 36 * c.records);
    }
}

TEST_F(StoredIndexTest, LayoutIsLittleEndianWithReservedZeros) {
    ComPtr<IStream> stream;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream.Put()), S_OK);
    CExtraData audio;
    audio.Assign(reinterpret_cast<const BYTE*>("\x12\x10"), 2);
    ASSERT_EQ(WriteStoredIndex(stream.Get(), nullptr, &audio, {{0x0102030405060708ull, 0x1234, 2}},
                               kStoredAudioKind),
              S_OK);
    EXPECT_EQ(StreamBytes(stream.Get()), Le32(0) + Le32(2) + "\x12\x10" + Le32(1) +
                                             Record(0x0102030405060708ull, 0x1234, 2, 2));
}

TEST_F(StoredIndexTest, BuildIndexLoadsStreamsExtraDataAndFacts) {
    // A real file, so that the audio format can be read from its first audio tag.
    FlvBuilder flv;
    flv.AvcSequenceHeader(0);
    flv.AacSequenceHeader(0);
    for (std::uint32_t i = 0; i < 30; ++i) {
        flv.AvcFrame(i * 40, i % 10 == 0 ? 1 : 2, 40, 8);
        flv.Audio(i * 23, 2, 2, 0, 1, 5);  // MP3, 22 kHz, 8-bit, stereo
    }
    FlvTestFile file(flv.Bytes());
    CFLV_Manager scanned;
    scanned.BuildIndex(nullptr, file.InputAt(13));

    ComPtr<IStream> video;
    ComPtr<IStream> audio;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, video.Put()), S_OK);
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, audio.Put()), S_OK);
    ASSERT_EQ(WriteStoredIndex(video.Get(), scanned.videoExtra.get(), nullptr, scanned.videoIndex,
                               kStoredVideoKind),
              S_OK);
    ASSERT_EQ(WriteStoredIndex(audio.Get(), nullptr, scanned.audioExtra.get(), scanned.audioIndex,
                               kStoredAudioKind),
              S_OK);
    SetLong(L"VideoCodecType", 7);
    SetLong(L"VideoWidth", 176);
    SetLong(L"VideoHeight", 144);
    ASSERT_EQ(params->SetDouble(Bstr(L"VideoFrameRate").Get(), -1, 12.5), S_OK);
    SetLong(L"VideoDateRate", 300);
    SetLong(L"AudioCodecType", 2);
    SetLong(L"AudioDataRate", 64);
    SetStream(L"FileVideoIndexes", video.Get());
    SetStream(L"FileAudioIndexes", audio.Get());

    CFLV_Manager loaded;
    loaded.BuildIndex(params.Get(), file.InputAt(13));
    EXPECT_EQ(loaded.videoIndex, scanned.videoIndex);
    EXPECT_EQ(loaded.audioIndex, scanned.audioIndex);
    ASSERT_TRUE(loaded.videoExtra);
    EXPECT_EQ(loaded.videoExtra->Length(), FlvBuilder::AvcRecord().size());
    ASSERT_TRUE(loaded.audioExtra);
    EXPECT_EQ(loaded.audioExtra->Length(), 2u);
    EXPECT_EQ(loaded.facts.width, 176);
    EXPECT_EQ(loaded.facts.height, 144);
    EXPECT_EQ(loaded.facts.videoDataRate, 300);
    EXPECT_EQ(loaded.facts.audioDataRate, 64);
    EXPECT_TRUE(loaded.facts.hasVideo);
    EXPECT_TRUE(loaded.facts.hasAudio);
    EXPECT_EQ(loaded.facts.videoFrameCount, 30u);
    EXPECT_DOUBLE_EQ(loaded.facts.videoDuration, 80.0 + 29 * 40 + 40);
    EXPECT_EQ(loaded.facts.sampleRate, 22050);
    EXPECT_EQ(loaded.facts.channels, 2);
    EXPECT_EQ(loaded.facts.bitsPerSample, 8);
    EXPECT_EQ(loaded.facts.audioCodecCode, 0x15001);

    // The file grows after an open from the stored index: a refresh goes on from the last
    // indexed tag and ends with the index of a full walk of the grown file.
    FlvBuilder grown = flv;
    for (std::uint32_t i = 30; i < 35; ++i) {
        grown.AvcFrame(i * 40, 2, 40, 8);
        grown.Audio(i * 23, 2, 2, 0, 1, 5);
    }
    file.Append(std::string_view(grown.Bytes()).substr(flv.Bytes().size()));
    loaded.RefreshIndex(nullptr, file.Input());
    FlvTestFile whole(grown.Bytes(), "grown.flv");
    CFLV_Manager full;
    full.BuildIndex(nullptr, whole.InputAt(13));
    EXPECT_EQ(loaded.videoIndex, full.videoIndex);
    EXPECT_EQ(loaded.audioIndex, full.audioIndex);
    EXPECT_EQ(loaded.facts.videoFrameCount, 35u);
}

TEST_F(StoredIndexTest, ExtraDataNeedsTheFactsOfItsStream) {
    SetStream(L"FileVideoIndexes",
              StreamOf(Le32(2) + Le32(0) + "\xAA\xBB" + Le32(1) + Record(13, 0, 1, 1)).Get());
    FlvTestFile file(FlvBuilder().Bytes());
    CFLV_Manager manager;
    manager.BuildIndex(params.Get(), file.Input());
    EXPECT_EQ(manager.videoIndex.size(), 1u);
    EXPECT_EQ(manager.videoExtra, nullptr);  // no "VideoCodecType"
}

TEST_F(StoredIndexTest, CountBeyondTheStreamStopsAtItsEnd) {
    // N says a billion; two whole records and half of a third are there.
    const std::string bytes = Le32(0) + Le32(0) + Le32(1000000000) + Record(13, 0, 1, 1) +
                              Record(40, 7, 2, 7) + Record(99, 9, 9, 1).substr(0, 18);
    StoredIndexExtras extras;
    std::vector<IndexEntry> video;
    std::vector<IndexEntry> audio;
    EXPECT_FALSE(ReadStoredIndex(StreamOf(bytes).Get(), extras, video, audio));
    EXPECT_EQ(video, (std::vector<IndexEntry>{{13, 0, 1}}));
    // Any kind other than 1 is audio.
    EXPECT_EQ(audio, (std::vector<IndexEntry>{{40, 7, 2}}));
    EXPECT_LE(video.capacity(), 2u);
}

TEST_F(StoredIndexTest, DamagedSizesLoadNothingBeyondTheDamage) {
    StoredIndexExtras extras;
    std::vector<IndexEntry> video;
    std::vector<IndexEntry> audio;
    // V larger than the stream: no extra data is allocated, no record read.
    EXPECT_FALSE(
        ReadStoredIndex(StreamOf(Le32(0x7FFFFFFF) + Le32(0) + "ab").Get(), extras, video, audio));
    EXPECT_TRUE(extras.video.Empty());
    // Negative sizes and counts count as none.
    EXPECT_TRUE(ReadStoredIndex(StreamOf(Le32(0xFFFFFFFF) + Le32(0) + Le32(0x80000000)).Get(),
                                extras, video, audio));
    // Too short for its own header.
    EXPECT_FALSE(ReadStoredIndex(StreamOf("\x01\x00").Get(), extras, video, audio));
    EXPECT_TRUE(video.empty());
    EXPECT_TRUE(audio.empty());
}

TEST_F(StoredIndexTest, RefreshWithAContainerReplacesTheIndexes) {
    FlvBuilder flv;
    flv.Video(0, 1, 2, 4);
    FlvTestFile file(flv.Bytes());
    CFLV_Manager manager;
    manager.BuildIndex(nullptr, file.InputAt(13));
    ASSERT_EQ(manager.videoIndex.size(), 1u);
    const std::uint64_t resume = manager.resumeOffset;

    ComPtr<IStream> stream;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream.Put()), S_OK);
    ASSERT_EQ(WriteStoredIndex(stream.Get(), nullptr, nullptr, Entries(3, 2), kStoredVideoKind),
              S_OK);
    SetStream(L"FileVideoIndexes", stream.Get());
    manager.facts.frameRate = 0;  // a stored frame rate of 0 still gives a finite duration
    manager.RefreshIndex(params.Get(), file.Input());
    EXPECT_EQ(manager.videoIndex, Entries(3, 2));
    EXPECT_EQ(manager.facts.videoFrameCount, 3u);
    EXPECT_DOUBLE_EQ(manager.facts.videoDuration, 1000.0 / 30 + 80);
    EXPECT_EQ(manager.resumeOffset, resume);
}
}  // namespace
