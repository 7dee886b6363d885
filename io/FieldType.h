// Field codes of the typed reads and writes: the width of one FLV or AMF0 field in the file.
// The names are those of the FLV file format. A signed code is handled exactly like the
// unsigned code before it: no read or write sign-extends.
#pragma once

#include <cstdint>

enum class FieldType : std::uint32_t {
    UI8 = 0,
    SI8 = 1,
    UI16 = 2,
    SI16 = 3,
    UI24 = 4,
    SI24 = 5,
    UI32 = 6,
    SI32 = 7,
    DOUBLE = 8,
};

// The highest known code; reads and writes reject (or ignore) anything above it.
constexpr std::uint32_t kLastFieldCode = static_cast<std::uint32_t>(FieldType::DOUBLE);

constexpr bool IsKnownField(FieldType type) {
    return static_cast<std::uint32_t>(type) <= kLastFieldCode;
}

// Bytes that a field of a known code occupies in the file (1, 2, 3, 4 or 8).
constexpr unsigned FieldWidth(FieldType type) {
    constexpr unsigned kWidths[kLastFieldCode + 1] = {1, 1, 2, 2, 3, 3, 4, 4, 8};
    return kWidths[static_cast<std::uint32_t>(type)];
}
