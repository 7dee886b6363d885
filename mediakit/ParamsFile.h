// The file form of a parameter container (MediaParams::SaveToFile, SaveToStream). All numbers are
// little-endian.
//
//   header, 24 bytes:
//     0   8  magic "MKPARAMS"
//     8   4  format version (kParamsFileVersion; version 1 is read too)
//     12  4  CRC-32 (IEEE 802.3, as zlib computes it) of the content bytes, except the bytes of
//            large streams (below); version 1: of every content byte
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
//         stream  u64 size in bytes; from kLargeStreamBytes on (not in version 1), the u32 CRC-32
//                 of its bytes; then the stream's whole content
//   Object (IUnknown) elements are not written; a name left without elements is not written.
//
// A reader checks the magic, version and size first, every count and size against the bytes left
// before it allocates, and the header's checksum before anything it read is used; names appear
// once. A large stream carries a checksum of its own so that a file load need not read it: the
// stream reads from the file, and its bytes are checked as they are read (FileRangeStream.h). So
// a cache file of a long index is read once, by whoever reads the index, and never held whole.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "mediakit/ParamList.h"

namespace mediakit {

constexpr LONG kParamsFileVersion = 2;
constexpr std::size_t kParamsFileHeaderSize = 24;
// Streams from this size on carry their own checksum (and a file load leaves them in the file).
constexpr std::uint64_t kLargeStreamBytes = std::uint64_t{1} << 16;
// Neither a save nor a load handles more than this.
constexpr std::uint64_t kMaxParamsFileBytes = std::uint64_t{1} << 30;
constexpr HRESULT kParamsFileDamaged = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
// The file cannot be read: missing, unreadable, or over kMaxParamsFileBytes.
constexpr HRESULT kParamsFileUnreadable = HRESULT_FROM_WIN32(ERROR_CANTREAD);

// The file form of `list` (nested containers and streams read through their interfaces).
// Throws std::bad_alloc only.
HRESULT WriteParamsFile(const ParamList& list, std::string& bytes);

// The content size that a file header announces; false when the header is not one of ours.
[[nodiscard]] bool ReadParamsFileHeader(std::string_view header, std::uint64_t& contentSize);

// Parses a whole file. kParamsFileDamaged (list untouched) for anything malformed. Throws
// std::bad_alloc only.
HRESULT ReadParamsFile(std::string_view bytes, ParamList& list);

// Reads the file at `path` and parses it as ReadParamsFile does, a block at a time, except that
// streams of kLargeStreamBytes or more are neither read nor held: they become read-only streams
// over their range of the file (FileRangeStream.h), which keep the file open and check their
// bytes as they are read (in a version 1 file, whose one checksum covers them, they are read
// here once for it). kParamsFileUnreadable when the file cannot be opened or read,
// kParamsFileDamaged (list untouched) for anything malformed, including a checksum that does not
// match. Throws std::bad_alloc only.
HRESULT LoadParamsFile(std::wstring_view path, ParamList& list);

}  // namespace mediakit
