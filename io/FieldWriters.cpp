#include "io/FieldWriters.h"

#include <bit>
#include <cmath>
#include <limits>
#include <memory>
#include <new>

#include "platform/TextConvert.h"

namespace {
// Appends the low `width` bytes of `value`, most significant first unless `littleEndian`.
void AppendInteger(COutputStream& stream, std::uint64_t value, unsigned width, bool littleEndian) {
    unsigned char bytes[8];
    for (unsigned i = 0; i < width; ++i) {
        const unsigned shift = 8 * (littleEndian ? i : width - 1 - i);
        bytes[i] = static_cast<unsigned char>((value >> shift) & 0xFF);
    }
    stream.Append(bytes, width);
}

// An integer field of a known integer code; 24-bit fields are always big-endian.
void WriteInteger(COutputStream& stream, std::uint32_t value, FieldType type, bool littleEndian) {
    const unsigned width = FieldWidth(type);
    AppendInteger(stream, value, width, littleEndian && (width == 2 || width == 4));
}

// Truncates toward zero into the signed 32-bit range without undefined behaviour.
std::int32_t TruncateToInt32(double value) {
    if (std::isnan(value)) return 0;
    if (value <= static_cast<double>(std::numeric_limits<std::int32_t>::min())) {
        return std::numeric_limits<std::int32_t>::min();
    }
    if (value >= static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
        return std::numeric_limits<std::int32_t>::max();
    }
    return static_cast<std::int32_t>(value);
}
}  // namespace

void WriteDouble(COutputStream& stream, double value, bool littleEndian) {
    AppendInteger(stream, std::bit_cast<std::uint64_t>(value), 8, littleEndian);
}

void WriteValue(COutputStream& stream, std::uint32_t value, FieldType type, bool littleEndian) {
    if (!IsKnownField(type)) return;
    if (type == FieldType::DOUBLE) {
        WriteDouble(stream, static_cast<double>(value), littleEndian);
    } else {
        WriteInteger(stream, value, type, littleEndian);
    }
}

void WriteValue(COutputStream& stream, std::int32_t value, FieldType type, bool littleEndian) {
    if (type == FieldType::DOUBLE) {
        WriteDouble(stream, static_cast<double>(value), littleEndian);
    } else {
        WriteValue(stream, static_cast<std::uint32_t>(value), type, littleEndian);
    }
}

void WriteValue(COutputStream& stream, double value, FieldType type, bool littleEndian) {
    if (type == FieldType::DOUBLE) {
        WriteDouble(stream, value, littleEndian);
    } else {
        WriteValue(stream, TruncateToInt32(value), type, littleEndian);
    }
}

void WriteValue(COutputStream& stream, std::uint8_t value, FieldType type, bool littleEndian) {
    WriteValue(stream, std::uint32_t{value}, type, littleEndian);
}

void WriteU16(COutputStream& stream, std::uint16_t value, bool littleEndian) {
    AppendInteger(stream, value, 2, littleEndian);
}

void WriteU32(COutputStream& stream, std::uint32_t value, bool littleEndian) {
    AppendInteger(stream, value, 4, littleEndian);
}

void WriteU32(COutputStream& stream, std::int32_t value, bool littleEndian) {
    WriteU32(stream, static_cast<std::uint32_t>(value), littleEndian);
}

void WriteText(COutputStream& stream, const wchar_t* text) {
    if (text == nullptr) return;
    // The size asked for first includes the terminator, which is converted but not written.
    const int needed = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 1) return;
    const std::unique_ptr<char[]> bytes(new (std::nothrow) char[static_cast<std::size_t>(needed)]);
    if (!bytes) {
        stream.MarkFailed();
        return;
    }
    const int converted =
        WideCharToMultiByte(CP_ACP, 0, text, -1, bytes.get(), needed, nullptr, nullptr);
    if (converted > 1) stream.Append(bytes.get(), static_cast<std::size_t>(converted - 1));
}
