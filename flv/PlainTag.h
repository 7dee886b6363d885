// The walk's quick reading of the tags that make up almost every file: an audio or video tag whose
// body is one coded frame, in a layout whose fixed fields say all that the index needs. Such a tag
// is read straight from the bytes at hand, without a body element; every other tag (script data,
// sequence headers, VP6 with its adjustment byte, unknown codecs and frame types, bodies shorter
// than their fixed fields) is left to the body classes, which read it as they always do. What is
// read here is exactly what CFLV_VideoData::Scan and CFLV_AudioData::Scan give for these tags.
//
//   video body   offset 0  bits 4-7 FrameType (1, 2 or 3), bits 0-3 CodecID (2, 3, 6 or 7)
//                CodecID 7 (AVC): offset 1 AVCPacketType (not 0), offset 2 SI24 CompositionTime
//   audio body   offset 0  bits 4-7 SoundFormat
//                SoundFormat 10 (AAC): offset 1 AACPacketType (not 0)
//   then         the payload, to the end of the body
#pragma once

#include <cstdint>

#include "flv/TagLayout.h"

// The most bytes of a body that ReadPlainTag looks at (the AVC fixed fields).
constexpr std::uint64_t kPlainTagMostFixedBytes = 5;

struct PlainTag {
    std::uint32_t tagType = 0;   // kFlvAudioTag or kFlvVideoTag
    std::uint32_t dataSize = 0;  // body bytes
    std::uint32_t timestamp = 0;
    // Video only.
    std::uint32_t codecId = 0;
    std::uint32_t frameType = 0;
    std::int32_t compositionTime = 0;  // AVC; 0 otherwise
    // Bytes after the fixed fields: none for an empty AVC or AAC frame (not an index entry).
    std::uint32_t payloadSize = 0;
};

// Reads the tag whose header starts at `bytes`, with `available` bytes at hand there. True for a
// plain tag (above) whose header and fixed body fields are all at hand; false, with `tag` in any
// state, for anything else. Neither the payload nor the PreviousTagSize is looked at.
[[nodiscard]] inline bool ReadPlainTag(const unsigned char* bytes, std::uint64_t available,
                                       PlainTag& tag) {
    constexpr std::uint32_t kAvc = 7;
    constexpr std::uint32_t kAac = 10;
    constexpr unsigned char kSequenceHeader = 0;
    if (available <= kFlvTagHeaderSize) return false;
    const std::uint32_t dataSize =
        (std::uint32_t{bytes[1]} << 16) | (std::uint32_t{bytes[2]} << 8) | bytes[3];
    const unsigned char* body = bytes + kFlvTagHeaderSize;
    const std::uint64_t bodyAtHand = available - kFlvTagHeaderSize;
    std::uint32_t fixedBytes = 1;
    if (bytes[0] == kFlvVideoTag) {
        const std::uint32_t frameType = body[0] >> 4;
        const std::uint32_t codec = body[0] & 0x0F;
        if (frameType < 1 || frameType > 3) return false;
        if (codec == kAvc) {
            fixedBytes = 5;
            if (dataSize < fixedBytes || bodyAtHand < fixedBytes || body[1] == kSequenceHeader) {
                return false;
            }
            const std::uint32_t raw =
                (std::uint32_t{body[2]} << 16) | (std::uint32_t{body[3]} << 8) | body[4];
            tag.compositionTime = static_cast<std::int32_t>(raw ^ 0x800000) - 0x800000;
        } else if (codec == 2 || codec == 3 || codec == 6) {
            if (dataSize < fixedBytes) return false;
            tag.compositionTime = 0;
        } else {
            return false;  // VP6 (an adjustment byte to keep) or an unknown codec
        }
        tag.codecId = codec;
        tag.frameType = frameType;
    } else if (bytes[0] == kFlvAudioTag) {
        if (dataSize < fixedBytes) return false;
        if (body[0] >> 4 == kAac) {
            fixedBytes = 2;
            if (dataSize < fixedBytes || bodyAtHand < fixedBytes || body[1] == kSequenceHeader) {
                return false;
            }
        }
    } else {
        return false;
    }
    tag.tagType = bytes[0];
    tag.dataSize = dataSize;
    tag.timestamp = (std::uint32_t{bytes[7]} << 24) | (std::uint32_t{bytes[4]} << 16) |
                    (std::uint32_t{bytes[5]} << 8) | bytes[6];
    tag.payloadSize = dataSize - fixedBytes;
    return true;
}
