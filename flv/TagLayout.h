// The FLV tag layout shared by the tag wrapper, the bodies and the manager's walk.
//
//   offset 0   UI8   TagType: 8 audio, 9 video, 18 script data
//   offset 1   UI24  DataSize: body bytes after the 11-byte tag header
//   offset 4   UI24  Timestamp: bits 0-23 of the tag time (ms)
//   offset 7   UI8   TimestampExtended: bits 24-31 of the tag time
//   offset 8   UI24  StreamID (written as 0, skipped on reading)
//   offset 11  DataSize bytes of body
//   then       UI32  PreviousTagSize (11 + DataSize); readers only test that it is there
#pragma once

#include <cstdint>

#include "io/InputStream.h"

constexpr std::uint32_t kFlvAudioTag = 8;
constexpr std::uint32_t kFlvVideoTag = 9;
constexpr std::uint32_t kFlvScriptTag = 18;
constexpr std::uint64_t kFlvTagHeaderSize = 11;
constexpr std::uint64_t kFlvPreviousTagSizeBytes = 4;

// True for the tag types that carry a body element (audio, video, script data).
constexpr bool IsFlvBodyTag(std::uint32_t tagType) {
    return tagType == kFlvAudioTag || tagType == kFlvVideoTag || tagType == kFlvScriptTag;
}

// True when the `count` bytes at the cursor are in the file (whether or not they are in the
// window yet).
inline bool FlvBytesInFile(const CInputStream& input, std::uint64_t count) {
    const std::uint64_t at = input.Tell();
    const std::uint64_t size = input.FileSize();
    return at <= size && count <= size - at;
}

// Moves the cursor past `count` bytes that must be in the file, without loading them into the
// window when they lie beyond it: a payload is stepped over at the cost of at most one window
// reload at its end, never copied. False, with the cursor unchanged, when the bytes are not
// all in the file.
[[nodiscard]] inline bool FlvStepOver(CInputStream& input, std::uint64_t count) {
    if (input.Position() <= input.Length() && count <= input.Length() - input.Position()) {
        return input.SkipBytes(count);
    }
    if (!FlvBytesInFile(input, count)) return false;
    const std::uint64_t target = input.Tell() + count;
    if (target < input.FileSize()) return input.SeekTo(target);
    // The bytes end at the end of the file, where SeekTo cannot land: seek to the last byte
    // and take it. count >= 1 here, since an empty step always fits the window.
    return input.SeekTo(target - 1) && input.SkipBytes(1);
}

// The fields of one 11-byte tag header.
struct FlvTagHeader {
    std::uint32_t tagType = 0;
    std::uint32_t dataSize = 0;   // body bytes
    std::uint32_t timestamp = 0;  // Timestamp | TimestampExtended << 24, in ms
};

// Reads the tag header at the cursor (StreamID is skipped). False, with nothing stored, when the
// 11 bytes are not all in the file.
[[nodiscard]] inline bool ReadFlvTagHeader(CInputStream& input, FlvTagHeader& header) {
    if (!input.EnsureAvailable(kFlvTagHeaderSize)) return false;
    const unsigned char* bytes = input.Data() + input.Position();
    header.tagType = bytes[0];
    header.dataSize = (std::uint32_t{bytes[1]} << 16) | (std::uint32_t{bytes[2]} << 8) | bytes[3];
    header.timestamp = (std::uint32_t{bytes[7]} << 24) | (std::uint32_t{bytes[4]} << 16) |
                       (std::uint32_t{bytes[5]} << 8) | bytes[6];
    return input.SkipBytes(kFlvTagHeaderSize);
}
