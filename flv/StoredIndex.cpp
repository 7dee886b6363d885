#include "flv/StoredIndex.h"

#include <algorithm>
#include <limits>
#include <new>

#include "flv/IndexMemory.h"

namespace {
constexpr std::uint64_t kReadBlockRecords = 1024;
constexpr std::uint64_t kBatches = 8;

void PutLittle(BYTE* target, std::uint64_t value, unsigned bytes) {
    for (unsigned i = 0; i < bytes; ++i) target[i] = static_cast<BYTE>(value >> (8 * i));
}

std::uint64_t GetLittle(const BYTE* source, unsigned bytes) {
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

void EncodeRecord(BYTE* record, const IndexEntry& entry, std::uint32_t kind) {
    std::fill(record, record + kStoredRecordSize, BYTE{0});
    PutLittle(record, entry.position, 8);
    PutLittle(record + 8, entry.time, 8);
    PutLittle(record + 24, entry.frameType, 4);
    PutLittle(record + 32, kind, 4);
}

// Converts `count` entries starting at `first` into `buffer` and writes them in one write.
HRESULT WriteRecords(IStream* stream, std::vector<BYTE>& buffer, const IndexEntry* first,
                     std::uint64_t count, std::uint32_t kind) {
    for (std::uint64_t i = 0; i < count; ++i) {
        EncodeRecord(buffer.data() + i * kStoredRecordSize, first[i], kind);
    }
    return WriteAll(stream, buffer.data(), count * kStoredRecordSize);
}

// Reads up to `count` bytes; returns how many came (fewer only at the end or on failure).
std::uint64_t ReadSome(IStream* stream, BYTE* target, std::uint64_t count) {
    ULONG got = 0;
    if (FAILED(stream->Read(target, static_cast<ULONG>(count), &got))) return 0;
    return std::min<std::uint64_t>(got, count);
}

bool ReadInt32(IStream* stream, std::int32_t& value) {
    BYTE bytes[4];
    if (ReadSome(stream, bytes, sizeof bytes) != sizeof bytes) return false;
    value = static_cast<std::int32_t>(static_cast<std::uint32_t>(GetLittle(bytes, 4)));
    return true;
}

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
bool ReadExtra(IStream* stream, std::int32_t declared, std::uint64_t& left, CExtraData& extra) {
    if (declared <= 0) return true;
    const auto count = static_cast<std::uint64_t>(declared);
    if (count > left) return false;
    std::vector<BYTE> bytes(count);
    if (ReadSome(stream, bytes.data(), count) != count) return false;
    left -= count;
    extra.Assign(bytes.data(), count);
    return true;
}
}  // namespace

HRESULT WriteStoredIndex(IStream* stream, const CExtraData* videoExtra,
                         const CExtraData* audioExtra, const std::vector<IndexEntry>& entries,
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

bool ReadStoredIndex(IStream* stream, StoredIndexExtras& extras,
                     std::vector<IndexEntry>& videoIndex, std::vector<IndexEntry>& audioIndex) {
    if (stream == nullptr) return false;
    std::uint64_t size = 0;
    if (!StreamSize(stream, size)) return false;
    if (FAILED(stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr))) return false;

    std::int32_t videoBytes = 0;
    std::int32_t audioBytes = 0;
    std::int32_t declared = 0;
    if (size < 8 || !ReadInt32(stream, videoBytes) || !ReadInt32(stream, audioBytes)) return false;
    std::uint64_t left = size - 8;
    if (!ReadExtra(stream, videoBytes, left, extras.video) ||
        !ReadExtra(stream, audioBytes, left, extras.audio)) {
        return false;
    }
    if (left < 4 || !ReadInt32(stream, declared)) return false;
    left -= 4;
    if (declared <= 0) return true;

    // Never more records than the stream can hold, whatever N says.
    const std::uint64_t wanted = static_cast<std::uint64_t>(declared);
    std::uint64_t remaining = std::min(wanted, left / kStoredRecordSize);
    std::vector<BYTE> block(std::min(remaining, kReadBlockRecords) * kStoredRecordSize);
    bool reserved = false;
    while (remaining > 0) {
        const std::uint64_t records = std::min(remaining, kReadBlockRecords);
        const std::uint64_t got =
            ReadSome(stream, block.data(), records * kStoredRecordSize) / kStoredRecordSize;
        for (std::uint64_t i = 0; i < got; ++i) {
            const BYTE* record = block.data() + i * kStoredRecordSize;
            const auto kind = static_cast<std::uint32_t>(GetLittle(record + 32, 4));
            std::vector<IndexEntry>& target = kind == kStoredVideoKind ? videoIndex : audioIndex;
            if (!reserved) {
                // A stream holds one kind of record: room for all of them at once.
                ReserveIndex(target, target.size() + remaining);
                reserved = true;
            }
            target.push_back({GetLittle(record, 8), GetLittle(record + 8, 8),
                              static_cast<std::uint32_t>(GetLittle(record + 24, 4))});
        }
        if (got < records) return false;
        remaining -= records;
    }
    return wanted * kStoredRecordSize <= left;
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

bool ReadConfigChanges(IStream* stream, std::vector<ConfigChange>& changes) {
    changes.clear();
    std::uint64_t size = 0;
    std::int32_t declared = 0;
    if (stream == nullptr || !StreamSize(stream, size) ||
        FAILED(stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr)) || size < 4 ||
        !ReadInt32(stream, declared)) {
        return false;
    }
    if (declared <= 0) return declared == 0;
    // Never more records than the stream can hold, whatever N says.
    const auto wanted = static_cast<std::uint64_t>(declared);
    const std::uint64_t present = std::min(wanted, (size - 4) / kConfigChangeRecordSize);
    changes.reserve(present);
    for (std::uint64_t i = 0; i < present; ++i) {
        BYTE record[kConfigChangeRecordSize];
        if (ReadSome(stream, record, sizeof record) != sizeof record) return false;
        const ConfigChange change{GetLittle(record, 8), GetLittle(record + 8, 8)};
        // Changes are in file order; one that is not is damage, and is left out.
        if (!changes.empty() && change.position <= changes.back().position) continue;
        changes.push_back(change);
    }
    return present == wanted;
}
