// CFLV_TagSearch: where tags start again after bytes that are not a tag.
//
// A file can hold stretches that are no tag: zero-filled holes (a server that pre-allocates its
// file, a crash), junk, a file header longer than 9 bytes (DataOffset above 9), a tag whose
// DataSize was damaged. The manager's walk asks this class where the next tag starts after such
// a stretch, and whether the bytes after a tag with a wrong PreviousTagSize look like a tag.
//
// A tag start is confirmed at offset X when all of this is in the file:
//
//   X            UI8   TagType 8, 9 or 18
//   X + 1        UI24  DataSize S
//   X + 11             the body, S bytes
//   X + 11 + S   UI32  PreviousTagSize = S + 11
//   X + 15 + S         the next tag's 11-byte header, TagType 8, 9 or 18
//
// The next tag's DataSize is not looked at: that tag may still be being written, and whether
// its size is sound is for the walk to find out when it gets there. Zero-filled stretches never
// hold a candidate (TagType 0); in junk about one byte in 85 is one, and the 32-bit
// PreviousTagSize makes a false start all but impossible.
//
// A candidate whose confirmation needs bytes past the end of the file is passed over: in a
// finished file it is junk (a DataSize too large), and in a file still being written the bytes
// after it are that same tag's unwritten body, so nothing later is confirmed either and the walk
// waits where the stretch began. So a walk of a file that is still growing steps over a stretch
// to the same tag as a walk of the finished file, unless junk was made to hold a confirmed tag
// start inside the body of a tag.
//
// Reads go through the input stream's window while scanning forward. The few bytes far ahead
// that a candidate's PreviousTagSize and next header need come from a second, smaller block of
// the file that the search keeps (64 KiB, allocated at its first use): a candidate with a large
// DataSize costs no window reload, and candidates one after another whose DataSizes point far
// ahead (junk of one repeated byte) cost one read per block, not one each.
#pragma once

#include <cstdint>
#include <memory>

#include "flv/TagLayout.h"
#include "io/InputStream.h"

class CFLV_TagSearch {
  public:
    // What the bytes at an offset are.
    enum class Verdict {
        kTag,     // a tag header: TagType 8, 9 or 18 (its DataSize is not looked at)
        kNotTag,  // no tag header: another TagType
        kNotYet,  // the 11 header bytes are not all in the file yet
    };

    explicit CFLV_TagSearch(CInputStream& input) noexcept : input_(input) {}

    // Whether the PreviousTagSize after the `dataSize` body bytes at `input`'s cursor is
    // dataSize + 11, looked at before the body is read: true also when it is not (wholly) in
    // the file yet. The cursor and the window stay as they are.
    static bool PreviousTagSizeFits(const CInputStream& input, std::uint32_t dataSize) {
        // Position <= Length < 2^63 and DataSize < 2^24: the sums cannot overflow.
        const std::uint64_t at = input.Position() + dataSize;
        if (at + kFlvPreviousTagSizeBytes <= input.Length()) {
            return BigEndian32(input.Data() + at) == dataSize + kFlvTagHeaderSize;
        }
        return PreviousTagSizeBeyondWindowFits(input, dataSize);
    }
    // The header at file offset `offset`; the cursor and the window stay as they are.
    Verdict HeaderAt(std::uint64_t offset);
    // True when a tag start is confirmed at `offset` (above); the cursor and the window stay.
    bool ConfirmedAt(std::uint64_t offset);
    // The first offset at or after `from` where a tag start is confirmed, into `found`; false
    // when the file holds none. Moves the window and the cursor (the caller seeks afterwards).
    [[nodiscard]] bool FindFrom(std::uint64_t from, std::uint64_t& found);

  private:
    // PreviousTagSizeFits when the field lies beyond the window.
    static bool PreviousTagSizeBeyondWindowFits(const CInputStream& input, std::uint32_t dataSize);
    static std::uint32_t BigEndian32(const unsigned char* bytes) noexcept {
        return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
               (std::uint32_t{bytes[2]} << 8) | bytes[3];
    }
    // Copies the `count` bytes at file offset `offset`: from the input's window, else from the
    // block ahead, reloaded at `offset` when it does not hold them. False when they are not all
    // in the file.
    bool Peek(std::uint64_t offset, unsigned char* buffer, std::size_t count);

    static constexpr std::size_t kAheadBlockSize = 0x10000;

    CInputStream& input_;
    std::unique_ptr<unsigned char[]> ahead_;
    std::uint64_t aheadStart_ = 0;
    std::size_t aheadLength_ = 0;
};
