// What the decoders read from compressed frames themselves, before libavcodec sees them: whether
// a frame can start decoding (a keyframe), and which of the two screen video versions a stream
// uses (the host gives both the same codec code).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace mediakit {

enum class ScreenVideoVersion { kUnknown, kVersion1, kVersion2 };

// One screen video frame walked under the layout of one version.
//   header: UB[4] block width / 16 - 1, UB[12] image width, UB[4] block height / 16 - 1,
//           UB[12] image height (big-endian bit fields, 4 bytes);
//   version 2 only: one byte, 6 reserved zero bits, HasIFrameImage, HasPaletteInfo;
//   then one block per cell of the grid, row by row: UI16 data size, then (when the size is not
//   0) the block data. Version 2 block data starts with a flags byte (3 reserved zero bits,
//   2 bits colour depth, HasDiffBlocks, ZlibPrimeCompressCurrent, ZlibPrimeCompressPrevious)
//   followed by 2 bytes when a diff range is present and 2 when current priming is used.
//   Block data that is not primed is a zlib stream with its 2-byte header.
struct ScreenVideoLayout {
    bool valid = false;     // every block fits and the last one ends the frame exactly
    bool keyFrame = false;  // every block coded and none refers to the previous keyframe
};
ScreenVideoLayout ParseScreenVideo(std::span<const std::uint8_t> frame, ScreenVideoVersion version);

// The version whose layout the frame follows; version 1 when both fit, unknown when none does.
ScreenVideoVersion ClassifyScreenVideo(std::span<const std::uint8_t> frame);

// Keyframe tests of the coded frames as the FLV payload holds them.
// Sorenson H.263: the picture header's type field is 0 (intra).
bool IsSorensonKeyFrame(std::span<const std::uint8_t> frame);
// VP6 (after the adjustment byte): the frame-mode bit of the first byte is clear. With alpha the
// frame starts with a 3-byte offset of the alpha plane.
bool IsVp6KeyFrame(std::span<const std::uint8_t> frame, bool withAlpha);
// H.264 in length-prefixed NAL units: an IDR slice, or a first slice of type I or SI.
bool IsH264KeyFrame(std::span<const std::uint8_t> frame, int nalLengthSize);
// The NAL length size that an AVCDecoderConfigurationRecord declares (1 to 4); 4 when the
// record is absent or too short.
int AvcNalLengthSize(std::span<const std::uint8_t> configuration);

}  // namespace mediakit
