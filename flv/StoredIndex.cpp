#include "flv/StoredIndex.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "flv/IndexMemory.h"

namespace {
// Records are read a block at a time (a quarter of a megabyte): few calls on a stream that reads
// a file, and a buffer that stays small beside the index it fills (fresh memory is costly).
constexpr std::uint64_t kReadBlockRecords = 7282;
constexpr std::uint64_t kBatches = 8;

void PutLittle(BYTE* target, std::uint64_t value, unsigned bytes) {
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(target, &value, bytes);
        return;
    }
    for (unsigned i = 0; i < bytes; ++i) target[i] = static_cast<BYTE>(value >> (8 * i));
}

std::uint64_t GetLittle(const BYTE* source, unsigned bytes) {
    if constexpr (std::endian::native == std::endian::little) {
        // One load where the processor's order is the stream's.
        std::uint64_t value = 0;
        std::memcpy(&value, source, bytes);
        return value;
    }
    std::uint64_t value = 0;
    for (unsigned i = bytes; i > 0; --i) value = (value << 8) | source[i - 1];
    return value;
}

HRESULT WriteAll(IStream* stream, const void* bytes, std::uint64_t count) {
    if (count == 0) return S_OK;
    if (count > std::numeric_limits<ULONG>::max()) return E_INVALIDARG;
    ULONG written = 0;
    const HRESULT hr = stream->Write(bytes, static_cast<ULONG>(count), &written);
    if (FAILED(hr)) return hr;
    return written == count ? S_OK : STG_E_MEDIUMFULL;
}

HRESULT WriteInt32(IStream* stream, std::uint64_t value) {
    if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
        return E_INVALIDARG;
    }
    BYTE bytes[4];
    PutLittle(bytes, value, 4);
    return WriteAll(stream, bytes, sizeof bytes);
}

// Converts `count` entries starting at `first` into `buffer` and writes them in one write.
HRESULT WriteRecords(IStream* stream, std::vector<BYTE>& buffer, const IndexEntry* first,
                     std::uint64_t count, std::uint32_t kind) {
    for (std::uint64_t i = 0; i < count; ++i) {
        EncodeStoredRecord(buffer.data() + i * kStoredRecordSize, first[i], kind);
    }
    return WriteAll(stream, buffer.data(), count * kStoredRecordSize);
}

// Reads a stream, noting whether any read failed: a stream that checks its bytes as they are read
// (a large one of a loaded cache file) fails a read when it finds them damaged, and then nothing
// read from it may be used.
class StreamReader {
  public:
    explicit StreamReader(IStream* stream) : stream_(stream) {}
    bool Failed() const { return failed_; }

    // Reads up to `count` bytes; returns how many came (fewer only at the end or on failure).
    std::uint64_t Some(BYTE* target, std::uint64_t count) {
        ULONG got = 0;
        if (FAILED(stream_->Read(target, static_cast<ULONG>(count), &got))) {
            failed_ = true;
            return 0;
        }
        return std::min<std::uint64_t>(got, count);
    }

    bool Int32(std::int32_t& value) {
        BYTE bytes[4];
        if (Some(bytes, sizeof bytes) != sizeof bytes) return false;
        value = static_cast<std::int32_t>(static_cast<std::uint32_t>(GetLittle(bytes, 4)));
        return true;
    }

    // Reads on to the end of the stream through `buffer`, so that a stream that checks its bytes
    // has seen them all.
    void ToEnd(BYTE* buffer, std::uint64_t capacity) {
        while (!failed_ && Some(buffer, capacity) > 0) {
        }
    }

  private:
    IStream* stream_;
    bool failed_ = false;
};

// The stream's size, from Stat or else from a seek to its end; false when neither answers.
bool StreamSize(IStream* stream, std::uint64_t& size) {
    STATSTG stat{};
    if (SUCCEEDED(stream->Stat(&stat, STATFLAG_NONAME))) {
        size = stat.cbSize.QuadPart;
        return true;
    }
    ULARGE_INTEGER end{};
    if (FAILED(stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_END, &end))) return false;
    size = end.QuadPart;
    return true;
}

// Reads an extra-data block of `declared` bytes (nothing when it is 0 or less) if the stream
// holds that many more bytes.
bool ReadExtra(StreamReader& reader, std::int32_t declared, std::uint64_t& left,
               CExtraData& extra) {
    if (declared <= 0) return true;
    const auto count = static_cast<std::uint64_t>(declared);
    if (count > left) return false;
    std::vector<BYTE> bytes(count);
    if (reader.Some(bytes.data(), count) != count) return false;
    left -= count;
    extra.Assign(bytes.data(), count);
    return true;
}
}  // namespace

void EncodeStoredRecord(BYTE* record, const IndexEntry& entry, std::uint32_t kind) noexcept {
    std::memset(record, 0, kStoredRecordSize);
    PutLittle(record, entry.position, 8);
    PutLittle(record + 8, entry.time, 8);
    PutLittle(record + 24, entry.frameType, 4);
    PutLittle(record + 32, kind, 4);
}

HRESULT WriteStoredIndex(IStream* stream, const CExtraData* videoExtra,
                         const CExtraData* audioExtra, std::span<const IndexEntry> entries,
                         std::uint32_t kind) noexcept {
    if (stream == nullptr) return E_POINTER;
    try {
        const std::uint64_t videoBytes = videoExtra != nullptr ? videoExtra->Length() : 0;
        const std::uint64_t audioBytes = audioExtra != nullptr ? audioExtra->Length() : 0;
        const std::uint64_t count = entries.size();
        const std::uint64_t batch = count / kBatches;
        // The largest single write is one batch, or the rest (fewer than 8 records).
        if (batch > std::numeric_limits<ULONG>::max() / kStoredRecordSize) return E_INVALIDARG;
        HRESULT hr = WriteInt32(stream, videoBytes);
        if (SUCCEEDED(hr)) hr = WriteInt32(stream, audioBytes);
        if (SUCCEEDED(hr) && videoBytes > 0) hr = WriteAll(stream, videoExtra->Data(), videoBytes);
        if (SUCCEEDED(hr) && audioBytes > 0) hr = WriteAll(stream, audioExtra->Data(), audioBytes);
        if (SUCCEEDED(hr)) hr = WriteInt32(stream, count);
        if (FAILED(hr) || count == 0) return hr;

        std::vector<BYTE> buffer((batch + kBatches) * kStoredRecordSize);
        const IndexEntry* next = entries.data();
        if (batch >= 1) {
            for (std::uint64_t i = 0; i < kBatches; ++i, next += batch) {
                hr = WriteRecords(stream, buffer, next, batch, kind);
                if (FAILED(hr)) return hr;
            }
        }
        const std::uint64_t rest = count - batch * kBatches;
        return rest > 0 ? WriteRecords(stream, buffer, next, rest, kind) : S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

namespace {
// ReadStoredIndex up to the last record: V, A, the extra data, N and the records.
void ReadRecords(StreamReader& reader, std::uint64_t size, StoredIndexExtras& extras,
                 IndexArray& videoIndex, IndexArray& audioIndex, StoredIndexRead& result) {
    std::int32_t videoBytes = 0;
    std::int32_t audioBytes = 0;
    std::int32_t declared = 0;
    if (size < 8 || !reader.Int32(videoBytes) || !reader.Int32(audioBytes)) return;
    std::uint64_t left = size - 8;
    if (!ReadExtra(reader, videoBytes, left, extras.video) ||
        !ReadExtra(reader, audioBytes, left, extras.audio)) {
        return;
    }
    if (left < 4 || !reader.Int32(declared)) return;
    left -= 4;
    // What a writer writes: sizes and a count that are not negative, exactly the records counted.
    bool canonical = videoBytes >= 0 && audioBytes >= 0 && declared >= 0 &&
                     left == static_cast<std::uint64_t>(std::max(declared, 0)) * kStoredRecordSize;
    if (declared <= 0) {
        result.complete = true;
        result.canonical = canonical;
        return;
    }

    // Never more records than the stream can hold, whatever N says.
    const auto wanted = static_cast<std::uint64_t>(declared);
    std::uint64_t remaining = std::min(wanted, left / kStoredRecordSize);
    // Not cleared: every byte used is read into it first.
    const std::unique_ptr<BYTE[]> block(
        new BYTE[std::min(remaining, kReadBlockRecords) * kStoredRecordSize]);
    std::uint32_t firstKind = 0;
    IndexStorage* video = nullptr;
    IndexStorage* audio = nullptr;
    while (remaining > 0) {
        const std::uint64_t records = std::min(remaining, kReadBlockRecords);
        const std::uint64_t got =
            reader.Some(block.get(), records * kStoredRecordSize) / kStoredRecordSize;
        if (got > 0 && firstKind == 0) {
            // A stream holds one kind of record: room for all of them at once.
            const auto kind = static_cast<std::uint32_t>(GetLittle(block.get() + 32, 4));
            firstKind = kind == kStoredVideoKind ? kStoredVideoKind : kStoredAudioKind;
            IndexArray& first = kind == kStoredVideoKind ? videoIndex : audioIndex;
            ReserveIndex(first, first.size() + remaining);
        }
        bool reservedZero = true;
        bool oneKind = true;
        // A block as a writer writes it, all of the first kind, is decoded straight into the room
        // reserved for it; any other kind in it, and the block is taken record by record.
        IndexStorage*& firstTarget = firstKind == kStoredVideoKind ? video : audio;
        if (got > 0 && firstTarget == nullptr) {
            firstTarget = &(firstKind == kStoredVideoKind ? videoIndex : audioIndex).Own();
        }
        const std::size_t at = got > 0 ? firstTarget->size() : 0;
        if (got > 0) {
            firstTarget->resize(at + static_cast<std::size_t>(got));
            IndexEntry* entry = firstTarget->data() + at;
            for (std::uint64_t i = 0; i < got; ++i, ++entry) {
                const BYTE* record = block.get() + i * kStoredRecordSize;
                oneKind &= static_cast<std::uint32_t>(GetLittle(record + 32, 4)) == firstKind;
                reservedZero &= (GetLittle(record + 16, 8) | GetLittle(record + 28, 4)) == 0;
                entry->position = GetLittle(record, 8);
                entry->time = GetLittle(record + 8, 8);
                entry->frameType = static_cast<std::uint32_t>(GetLittle(record + 24, 4));
            }
        }
        if (!oneKind) {
            firstTarget->resize(at);
            reservedZero = true;
            for (std::uint64_t i = 0; i < got; ++i) {
                const BYTE* record = block.get() + i * kStoredRecordSize;
                const auto kind = static_cast<std::uint32_t>(GetLittle(record + 32, 4));
                reservedZero &= (GetLittle(record + 16, 8) | GetLittle(record + 28, 4)) == 0;
                oneKind &= kind == firstKind;
                IndexStorage*& target = kind == kStoredVideoKind ? video : audio;
                if (target == nullptr) {
                    target = &(kind == kStoredVideoKind ? videoIndex : audioIndex).Own();
                }
                target->push_back({GetLittle(record, 8), GetLittle(record + 8, 8),
                                   static_cast<std::uint32_t>(GetLittle(record + 24, 4))});
            }
        }
        canonical = canonical && reservedZero && oneKind;
        if (got < records) return;
        remaining -= records;
    }
    result.complete = wanted * kStoredRecordSize <= left;
    result.canonical = canonical && result.complete;
    result.kind = firstKind;
}
}  // namespace

StoredIndexRead ReadStoredIndex(IStream* stream, StoredIndexExtras& extras, IndexArray& videoIndex,
                                IndexArray& audioIndex) {
    StoredIndexRead result;
    if (stream == nullptr) return result;
    std::uint64_t size = 0;
    if (!StreamSize(stream, size)) return result;
    if (FAILED(stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr))) return result;
    StreamReader reader(stream);
    ReadRecords(reader, size, extras, videoIndex, audioIndex, result);
    // The rest of the stream is read too (nothing when it is as written), so that a stream that
    // checks its bytes has checked every one before what it gave is used.
    if (!reader.Failed()) {
        BYTE rest[4096];
        reader.ToEnd(rest, sizeof rest);
    }
    result.failed = reader.Failed();
    return result;
}

HRESULT WriteConfigChanges(IStream* stream, const std::vector<ConfigChange>& changes) noexcept {
    if (stream == nullptr) return E_POINTER;
    HRESULT hr = WriteInt32(stream, changes.size());
    for (const ConfigChange& change : changes) {
        if (FAILED(hr)) break;
        BYTE record[kConfigChangeRecordSize];
        PutLittle(record, change.position, 8);
        PutLittle(record + 8, change.hash, 8);
        hr = WriteAll(stream, record, sizeof record);
    }
    return hr;
}

bool ReadConfigChanges(IStream* stream, std::vector<ConfigChange>& changes, bool* failed) {
    changes.clear();
    if (failed != nullptr) *failed = false;
    std::uint64_t size = 0;
    std::int32_t declared = 0;
    if (stream == nullptr || !StreamSize(stream, size) ||
        FAILED(stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr)) || size < 4) {
        return false;
    }
    StreamReader reader(stream);
    bool whole = reader.Int32(declared) && declared >= 0;
    // Never more records than the stream can hold, whatever N says.
    const auto wanted = static_cast<std::uint64_t>(std::max(declared, 0));
    const std::uint64_t present = std::min(wanted, (size - 4) / kConfigChangeRecordSize);
    changes.reserve(present);
    for (std::uint64_t i = 0; whole && i < present; ++i) {
        BYTE record[kConfigChangeRecordSize];
        if (reader.Some(record, sizeof record) != sizeof record) {
            whole = false;
            break;
        }
        const ConfigChange change{GetLittle(record, 8), GetLittle(record + 8, 8)};
        // Changes are in file order; one that is not is damage, and is left out.
        if (!changes.empty() && change.position <= changes.back().position) continue;
        changes.push_back(change);
    }
    BYTE rest[256];
    reader.ToEnd(rest, sizeof rest);
    // A stream found damaged as it was read gives nothing.
    if (reader.Failed()) changes.clear();
    if (failed != nullptr) *failed = reader.Failed();
    return whole && !reader.Failed() && present == wanted;
}
