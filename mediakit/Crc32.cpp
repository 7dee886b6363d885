#include "mediakit/Crc32.h"

#include <array>

#if (defined(__x86_64__) || defined(_M_X64)) && (defined(__GNUC__) || defined(__clang__))
#define MEDIAKIT_CRC32_FOLDING 1
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace mediakit {
namespace {

// CRC-32 tables for eight bytes a step ("slicing by 8"): table[0] is the classic byte table, and
// table[k][n] is the CRC of byte n followed by k zero bytes.
constexpr std::array<std::array<std::uint32_t, 256>, 8> MakeCrcTables() {
    std::array<std::array<std::uint32_t, 256>, 8> tables{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        tables[0][n] = c;
    }
    for (std::size_t k = 1; k < 8; ++k) {
        for (std::uint32_t n = 0; n < 256; ++n) {
            const std::uint32_t previous = tables[k - 1][n];
            tables[k][n] = tables[0][previous & 0xFFu] ^ (previous >> 8);
        }
    }
    return tables;
}
constexpr auto kCrcTables = MakeCrcTables();

#ifdef MEDIAKIT_CRC32_FOLDING
// The folding below takes whole 16-byte blocks, at least four of them.
constexpr std::size_t kFoldBlock = 16;
constexpr std::size_t kFoldMinimum = 64;

bool ProcessorCanFold() noexcept {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
    return (ecx & bit_PCLMUL) != 0 && (ecx & bit_SSE4_1) != 0;
}

#define MEDIAKIT_FOLDING_TARGET __attribute__((target("pclmul,sse4.1")))

MEDIAKIT_FOLDING_TARGET inline __m128i Load(const std::uint8_t* at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// `value` carried forward by the distance that `constants` stand for, plus `next`.
MEDIAKIT_FOLDING_TARGET inline __m128i Fold(__m128i value, __m128i constants, __m128i next) {
    const __m128i low = _mm_clmulepi64_si128(value, constants, 0x00);
    const __m128i high = _mm_clmulepi64_si128(value, constants, 0x11);
    return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

// The state after `size` bytes (a multiple of 16, at least 64), by folding 64 bytes a step with
// carry-less multiplication: the method of Gopal et al., "Fast CRC Computation for Generic
// Polynomials Using PCLMULQDQ Instruction" (Intel, 2009), with the constants of its bit-reflected
// form for the polynomial 0x04C11DB7 (x^n mod P for the fold distances, then Barrett reduction).
MEDIAKIT_FOLDING_TARGET std::uint32_t FoldBlocks(std::uint32_t state, const std::uint8_t* bytes,
                                                 std::size_t size) noexcept {
    const __m128i fold4 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
    const __m128i fold1 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
    const __m128i fold64 = _mm_set_epi64x(0, 0x0163cd6124);
    const __m128i barrett = _mm_set_epi64x(0x01f7011641, 0x01db710641);
    const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);

    __m128i x1 = _mm_xor_si128(Load(bytes), _mm_cvtsi32_si128(static_cast<int>(state)));
    __m128i x2 = Load(bytes + 16);
    __m128i x3 = Load(bytes + 32);
    __m128i x4 = Load(bytes + 48);
    bytes += kFoldMinimum;
    size -= kFoldMinimum;
    for (; size >= kFoldMinimum; size -= kFoldMinimum, bytes += kFoldMinimum) {
        x1 = Fold(x1, fold4, Load(bytes));
        x2 = Fold(x2, fold4, Load(bytes + 16));
        x3 = Fold(x3, fold4, Load(bytes + 32));
        x4 = Fold(x4, fold4, Load(bytes + 48));
    }
    // Four lanes into one, then the remaining 16-byte blocks.
    x1 = Fold(x1, fold1, x2);
    x1 = Fold(x1, fold1, x3);
    x1 = Fold(x1, fold1, x4);
    for (; size >= kFoldBlock; size -= kFoldBlock, bytes += kFoldBlock) {
        x1 = Fold(x1, fold1, Load(bytes));
    }
    // 128 bits to 64, then 64 to 32 by Barrett reduction.
    x2 = _mm_clmulepi64_si128(x1, fold1, 0x10);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2);
    x2 = _mm_srli_si128(x1, 4);
    x1 = _mm_and_si128(x1, low32);
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(x1, fold64, 0x00), x2);
    x2 = _mm_and_si128(x1, low32);
    x2 = _mm_clmulepi64_si128(x2, barrett, 0x10);
    x2 = _mm_and_si128(x2, low32);
    x2 = _mm_clmulepi64_si128(x2, barrett, 0x00);
    x1 = _mm_xor_si128(x1, x2);
    return static_cast<std::uint32_t>(_mm_extract_epi32(x1, 1));
}
#endif

}  // namespace

std::uint32_t Crc32UpdateByTable(std::uint32_t state, const void* bytes,
                                 std::size_t size) noexcept {
    const auto& t = kCrcTables;
    const auto* next = static_cast<const std::uint8_t*>(bytes);
    std::size_t left = size;
    for (; left >= 8; left -= 8, next += 8) {
        const std::uint32_t low =
            state ^ (std::uint32_t{next[0]} | std::uint32_t{next[1]} << 8 |
                     std::uint32_t{next[2]} << 16 | std::uint32_t{next[3]} << 24);
        state = t[7][low & 0xFFu] ^ t[6][(low >> 8) & 0xFFu] ^ t[5][(low >> 16) & 0xFFu] ^
                t[4][low >> 24] ^ t[3][next[4]] ^ t[2][next[5]] ^ t[1][next[6]] ^ t[0][next[7]];
    }
    for (; left > 0; --left, ++next) state = t[0][(state ^ *next) & 0xFFu] ^ (state >> 8);
    return state;
}

std::uint32_t Crc32Update(std::uint32_t state, const void* bytes, std::size_t size) noexcept {
#ifdef MEDIAKIT_CRC32_FOLDING
    static const bool canFold = ProcessorCanFold();
    if (canFold && size >= kFoldMinimum) {
        const std::size_t folded = size & ~(kFoldBlock - 1);
        state = FoldBlocks(state, static_cast<const std::uint8_t*>(bytes), folded);
        return Crc32UpdateByTable(state, static_cast<const std::uint8_t*>(bytes) + folded,
                                  size - folded);
    }
#endif
    return Crc32UpdateByTable(state, bytes, size);
}

}  // namespace mediakit
