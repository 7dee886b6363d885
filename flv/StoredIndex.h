// The stored index stream: one stream's tag index and codec extra data as bytes, as the index
// cache keeps it and as the source object hands it to its stream objects.
//
// All fields little-endian; 32-bit fields signed, 64-bit fields unsigned.
//
//   offset 0          4        V: bytes of video codec extra data (0 if none)
//   offset 4          4        A: bytes of audio codec extra data (0 if none)
//   offset 8          V        video codec extra data
//   offset 8 + V      A        audio codec extra data
//   offset 8 + V + A  4        N: number of records
//   then              36 × N   records
//
// Record (36 bytes): 0 position (8), 8 time (8), 16 reserved (8, written 0), 24 frameType (4),
// 28 reserved (4, written 0), 32 stream kind (4): 1 video, anything else audio (writers put 2).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "flv/ConfigChange.h"
#include "flv/ExtraData.h"
#include "flv/IndexArray.h"
#include "platform/MemoryStream.h"

constexpr std::uint32_t kStoredVideoKind = 1;
constexpr std::uint32_t kStoredAudioKind = 2;
constexpr std::uint64_t kStoredRecordSize = 36;

// Writes a stored index stream at the stream's current position: V and A from the two extra
// data holders (null for none), their bytes, N = entries.size(), and one record of `kind` per
// entry in order. The records go through a conversion buffer of N/8 + 8 records: when N/8 is at
// least 1, eight writes of N/8 records each, then the remaining records in one write (none when
// there are none); below 8 records, one write. Returns S_OK, the stream's failure, E_INVALIDARG
// when a size does not fit its field, or E_OUTOFMEMORY; nothing is thrown.
HRESULT WriteStoredIndex(IStream* stream, const CExtraData* videoExtra,
                         const CExtraData* audioExtra, std::span<const IndexEntry> entries,
                         std::uint32_t kind) noexcept;

// One record as WriteStoredIndex writes it: kStoredRecordSize bytes at `record`.
void EncodeStoredRecord(BYTE* record, const IndexEntry& entry, std::uint32_t kind) noexcept;

// The bytes WriteStoredIndex writes for `extraBytes` bytes of extra data and `records` records.
constexpr std::uint64_t StoredIndexSize(std::uint64_t extraBytes, std::uint64_t records) {
    return 4 + 4 + extraBytes + 4 + records * kStoredRecordSize;
}

// What ReadStoredIndex found besides the records.
struct StoredIndexExtras {
    CExtraData video;  // the V bytes (empty when V <= 0)
    CExtraData audio;  // the A bytes (empty when A <= 0)
};

// How a stored index stream read.
struct StoredIndexRead {
    // Everything N announced was there.
    bool complete = false;
    // The stream is exactly what WriteStoredIndex writes for what was read: V, A and N not
    // negative, N records and nothing after them, every record of one kind (1 or 2) with its
    // reserved fields 0. Only such a stream may be stood in for by one made from what was read
    // (flv/StoredIndexStream.h).
    bool canonical = false;
    // The kind of the first record (kStoredVideoKind, or kStoredAudioKind for any other value);
    // 0 when there is none.
    std::uint32_t kind = 0;
    // A read of the stream failed, as a stream that checks its bytes as they are read does when
    // it finds them damaged: nothing read from it may be used.
    bool failed = false;
};

// Reads a stored index stream from its start: the extra data into `extras`, and each complete
// record appended to `videoIndex` (kind 1) or `audioIndex` (any other kind), decoded straight
// from blocks of a quarter of a megabyte into the arrays. Reading stops at the end of the stream
// whatever N says; a record cut short there is dropped, and nothing is allocated for records
// the stream does not hold. An extra-data size beyond the end of the stream ends the read before
// it. What was read before a shortfall stands. The stream is read to its end (so that a stream
// that checks its bytes has checked them all); a read that fails makes the result `failed`, and
// then what was appended must be dropped. May throw std::bad_alloc.
StoredIndexRead ReadStoredIndex(IStream* stream, StoredIndexExtras& extras, IndexArray& videoIndex,
                                IndexArray& audioIndex);

// The configuration change stream: the later codec configurations of one stream, kept beside its
// stored index (under a name of its own, so that stored indexes without it still load).
//
//   offset 0   4        N: number of records (32-bit signed, little-endian)
//   then       16 x N   records: position (8), hash (8), both unsigned little-endian
//
// WriteConfigChanges writes it at the stream's current position; S_OK or the stream's failure
// (E_INVALIDARG for more records than the count field holds). ReadConfigChanges reads it from
// the stream's start into `changes` (replacing what it held), stopping at the end of the stream
// whatever N says and dropping a record that is not in position order; false when the stream held
// less than N announced, and false with no changes when a read of it failed. May throw
// std::bad_alloc.
constexpr std::uint64_t kConfigChangeRecordSize = 16;
HRESULT WriteConfigChanges(IStream* stream, const std::vector<ConfigChange>& changes) noexcept;
// `failed`, when given, says whether a read failed.
bool ReadConfigChanges(IStream* stream, std::vector<ConfigChange>& changes, bool* failed = nullptr);
