// The file form of a parameter container (MediaParams::SaveToFile, SaveToStream). All numbers are
// little-endian.
//
//   header, 24 bytes:
//     0   8  magic "MKPARAMS"
//     8   4  format version (kParamsFileVersion)
//     12  4  CRC-32 (IEEE 802.3, as zlib computes it) of the content bytes
//     16  8  content size in bytes; the file ends right after the content
//   content: one container
//     u32 name count, then per name:
//       u32 name size in bytes, the name in UTF-8
//       u32 element count (at least 1), then per element a u8 type (MediaParamType) and:
//         bool    u8 0 or 1
//         long    i32
//         uint64  u64
//         double  8 bytes, IEEE 754 binary64
//         string  u32 size in bytes, the text in UTF-8
//         params  a nested container, as above (at most kMaxParamsDepth levels below the top)
//         stream  u64 size in bytes, the stream's whole content
//   Object (IUnknown) elements are not written; a name left without elements is not written.
//
// A reader checks the magic, version, size and checksum first, then every count and size
// against the bytes left before it allocates; names appear once.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "mediakit/ParamList.h"

namespace mediakit {

constexpr LONG kParamsFileVersion = 1;
constexpr std::size_t kParamsFileHeaderSize = 24;
// Neither a save nor a load handles more than this.
constexpr std::uint64_t kMaxParamsFileBytes = std::uint64_t{1} << 30;
constexpr HRESULT kParamsFileDamaged = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);

// The file form of `list` (nested containers and streams read through their interfaces).
// Throws std::bad_alloc only.
HRESULT WriteParamsFile(const ParamList& list, std::string& bytes);

// The content size that a file header announces; false when the header is not one of ours.
[[nodiscard]] bool ReadParamsFileHeader(std::string_view header, std::uint64_t& contentSize);

// Parses a whole file. kParamsFileDamaged (list untouched) for anything malformed. Throws
// std::bad_alloc only.
HRESULT ReadParamsFile(std::string_view bytes, ParamList& list);

}  // namespace mediakit
