#include "flv/TagSearch.h"

#include <algorithm>
#include <cstring>

#include "flv/TagLayout.h"

namespace {
// TagType and DataSize: the part of a header that tells whether it can be a tag.
constexpr std::size_t kTypeAndSizeBytes = 4;

std::uint32_t BigEndian(const unsigned char* bytes, unsigned count) {
    std::uint32_t value = 0;
    for (unsigned i = 0; i < count; ++i) value = (value << 8) | bytes[i];
    return value;
}

bool IsTagTypeByte(unsigned char byte) {
    return IsFlvBodyTag(byte);
}

// Nonzero when one of the eight bytes of `word` can be a TagType: one of them with its lowest bit
// cleared is 8 (TagType 8 or 9), or one is 18. The test for a zero byte tells this exactly of the
// word as a whole (not of which byte).
std::uint64_t MayHoldTagType(std::uint64_t word) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    constexpr std::uint64_t kHighBits = 0x8080808080808080ull;
    const auto hasZeroByte = [](std::uint64_t bytes) {
        return (bytes - kOnes) & ~bytes & kHighBits;
    };
    return hasZeroByte((word & ~kOnes) ^ (kOnes * kFlvAudioTag)) |
           hasZeroByte(word ^ (kOnes * kFlvScriptTag));
}

// The first byte of [first, last) that can be a TagType, or `last`. 32 bytes at a time, of which
// all-zero ones (a zero-filled stretch) cost one test: so zero-filled stretches and junk pass at
// the speed of memory, and only the bytes of a piece that may hold a candidate are looked at one
// by one.
const unsigned char* FindTagTypeByte(const unsigned char* first, const unsigned char* last) {
    constexpr std::ptrdiff_t kPiece = 32;
    while (last - first >= kPiece) {
        std::uint64_t words[kPiece / 8];
        std::memcpy(words, first, sizeof words);
        if ((words[0] | words[1] | words[2] | words[3]) != 0 &&
            (MayHoldTagType(words[0]) | MayHoldTagType(words[1]) | MayHoldTagType(words[2]) |
             MayHoldTagType(words[3])) != 0) {
            break;
        }
        first += kPiece;
    }
    return std::find_if(first, last, IsTagTypeByte);
}
}  // namespace

CFLV_TagSearch::Verdict CFLV_TagSearch::HeaderAt(std::uint64_t offset) {
    unsigned char type = 0;
    const std::uint64_t fileSize = input_.FileSize();
    if (offset > fileSize || kFlvTagHeaderSize > fileSize - offset || !Peek(offset, &type, 1)) {
        return Verdict::kNotYet;
    }
    return IsTagTypeByte(type) ? Verdict::kTag : Verdict::kNotTag;
}

bool CFLV_TagSearch::PreviousTagSizeBeyondWindowFits(const CInputStream& input,
                                                     std::uint32_t dataSize) {
    unsigned char bytes[kFlvPreviousTagSizeBytes];
    return !input.PeekAt(input.Tell() + dataSize, bytes, sizeof bytes) ||
           BigEndian32(bytes) == dataSize + kFlvTagHeaderSize;
}

bool CFLV_TagSearch::ConfirmedAt(std::uint64_t offset) {
    unsigned char typeAndSize[kTypeAndSizeBytes];
    if (!Peek(offset, typeAndSize, sizeof typeAndSize) || !IsTagTypeByte(typeAndSize[0])) {
        return false;
    }
    const std::uint32_t dataSize = BigEndian(typeAndSize + 1, 3);
    const std::uint64_t bodyEnd = offset + kFlvTagHeaderSize + dataSize;
    unsigned char previousTagSize[kFlvPreviousTagSizeBytes];
    return Peek(bodyEnd, previousTagSize, sizeof previousTagSize) &&
           BigEndian32(previousTagSize) == dataSize + kFlvTagHeaderSize &&
           HeaderAt(bodyEnd + kFlvPreviousTagSizeBytes) == Verdict::kTag;
}

bool CFLV_TagSearch::Peek(std::uint64_t offset, unsigned char* buffer, std::size_t count) {
    const std::uint64_t fileSize = input_.FileSize();
    if (offset > fileSize || count > fileSize - offset) return false;
    const std::uint64_t windowStart = input_.WindowStart();
    if (offset >= windowStart && offset - windowStart <= input_.Length() &&
        count <= input_.Length() - (offset - windowStart)) {
        std::memcpy(buffer, input_.Data() + (offset - windowStart), count);
        return true;
    }
    if (offset < aheadStart_ || offset - aheadStart_ > aheadLength_ ||
        count > aheadLength_ - (offset - aheadStart_)) {
        if (!ahead_) ahead_ = std::make_unique_for_overwrite<unsigned char[]>(kAheadBlockSize);
        const auto length =
            static_cast<std::size_t>(std::min<std::uint64_t>(kAheadBlockSize, fileSize - offset));
        aheadLength_ = 0;
        if (length < count || !input_.PeekAt(offset, ahead_.get(), length)) return false;
        aheadStart_ = offset;
        aheadLength_ = length;
    }
    std::memcpy(buffer, ahead_.get() + (offset - aheadStart_), count);
    return true;
}

bool CFLV_TagSearch::FindFrom(std::uint64_t from, std::uint64_t& found) {
    std::uint64_t at = from;
    // Window by window: the bytes that can be a TagType are found in memory, and only those are
    // looked at further. SeekTo fails at the end of the file (and on a read error).
    while (input_.SeekTo(at)) {
        const unsigned char* first = input_.Data() + input_.Position();
        const unsigned char* last = input_.Data() + input_.Length();
        const unsigned char* candidate = FindTagTypeByte(first, last);
        at += static_cast<std::uint64_t>(candidate - first);
        if (candidate == last) continue;
        if (ConfirmedAt(at)) {
            found = at;
            return true;
        }
        ++at;
    }
    return false;
}
