// The field writers: append big-endian integers, doubles and text at the cursor of an output
// stream, which grows to take them. They report nothing and cannot fail (an output stream
// that cannot grow marks itself failed, see COutputStream).
//
// Widths follow the field code: 8-bit codes write the low byte, 16-bit codes two bytes,
// 24-bit codes the low three bytes (higher bits dropped), 32-bit codes four bytes, DOUBLE the
// eight bytes of the IEEE-754 value, sign and exponent first. A code above DOUBLE writes
// nothing. `littleEndian` writes 16- and 32-bit fields least significant byte first and a
// double in the machine's (little-endian) order; every FLV and AMF0 field is big-endian.
#pragma once

#include <cstdint>

#include "io/FieldType.h"
#include "io/OutputStream.h"

// DOUBLE receives the value converted to double.
void WriteValue(COutputStream& stream, std::int32_t value, FieldType type,
                bool littleEndian = false);
// DOUBLE receives the value converted as unsigned.
void WriteValue(COutputStream& stream, std::uint32_t value, FieldType type,
                bool littleEndian = false);
// Integer codes receive the value truncated toward zero to a signed 32-bit integer (NaN gives 0,
// values beyond the range give the nearest limit); DOUBLE receives the value.
void WriteValue(COutputStream& stream, double value, FieldType type, bool littleEndian = false);
// The byte, zero-extended to the field's width.
void WriteValue(COutputStream& stream, std::uint8_t value, FieldType type,
                bool littleEndian = false);

void WriteU16(COutputStream& stream, std::uint16_t value, bool littleEndian = false);
void WriteU32(COutputStream& stream, std::int32_t value, bool littleEndian = false);
void WriteU32(COutputStream& stream, std::uint32_t value, bool littleEndian = false);
void WriteDouble(COutputStream& stream, double value, bool littleEndian = false);
// The text's bytes in the ANSI code page, without length or terminator; null writes nothing.
void WriteText(COutputStream& stream, const wchar_t* text);
