// CRC-32 as zlib computes it (IEEE 802.3, reflected, initial and final value 0xFFFFFFFF): the
// checksum of the parameter container's file form. A cache file of a long index runs to tens of
// megabytes, so the checksum is taken 64 bytes a step with carry-less multiplication where the
// processor has it (x86-64 with PCLMULQDQ and SSE4.1), and eight bytes a step with tables
// elsewhere; both give the same value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace mediakit {

// The running state of a checksum taken piece by piece: Crc32Update over consecutive pieces,
// then Crc32Final, gives Crc32 of the pieces joined.
constexpr std::uint32_t kCrc32Start = 0xFFFFFFFFu;
std::uint32_t Crc32Update(std::uint32_t state, const void* bytes, std::size_t size) noexcept;
constexpr std::uint32_t Crc32Final(std::uint32_t state) noexcept {
    return state ^ 0xFFFFFFFFu;
}

inline std::uint32_t Crc32(std::string_view bytes) noexcept {
    return Crc32Final(Crc32Update(kCrc32Start, bytes.data(), bytes.size()));
}

// The table version alone, whatever the processor has (tests compare the two).
std::uint32_t Crc32UpdateByTable(std::uint32_t state, const void* bytes, std::size_t size) noexcept;

}  // namespace mediakit
