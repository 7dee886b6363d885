#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "io/FieldWriters.h"

// Every writer's exact bytes, in one buffer.
TEST(FieldWriters, WriteTheExactBytesOfEachField) {
    COutputStream out;
    WriteValue(out, 0x123456u, FieldType::UI24);        // 12 34 56
    WriteValue(out, 0x01234567u, FieldType::UI24);      // upper byte dropped: 23 45 67
    WriteValue(out, std::uint8_t{7}, FieldType::UI32);  // zero-extended: 00 00 00 07
    WriteValue(out, -2, FieldType::SI16);               // FF FE
    WriteU16(out, 0xABCD);                              // AB CD
    WriteU32(out, -1);                                  // FF FF FF FF
    WriteValue(out, 100.0, FieldType::DOUBLE);          // 40 59 00 00 00 00 00 00
    WriteValue(out, 100.9, FieldType::UI16);            // truncated toward zero: 00 64
    WriteValue(out, 5u, FieldType::DOUBLE);             // 40 14 00 00 00 00 00 00
    WriteValue(out, 1e300, FieldType::UI32);            // saturated: 7F FF FF FF
    WriteValue(out, -1e300, FieldType::UI32);           // saturated: 80 00 00 00
    WriteValue(out, std::numeric_limits<double>::quiet_NaN(), FieldType::UI32);  // 00 00 00 00
    WriteValue(out, 0x1234u, FieldType::UI16, true);    // little-endian: 34 12
    WriteValue(out, 0x123456u, FieldType::UI24, true);  // 24-bit stays: 12 34 56
    WriteU32(out, 0x01020304u, true);                   // 04 03 02 01
    WriteDouble(out, 100.0, true);                      // 00 00 00 00 00 00 59 40
    WriteValue(out, 1u, static_cast<FieldType>(9));     // unknown code: nothing
    WriteText(out, L"duration");                        // no length, no terminator
    WriteText(out, nullptr);                            // nothing
    WriteText(out, L"\u00E9");  // in the ANSI code page: C3 A9 in UTF-8, E9 in 1252
    const std::string expected(
        "\x12\x34\x56\x23\x45\x67\x00\x00\x00\x07\xFF\xFE\xAB\xCD"
        "\xFF\xFF\xFF\xFF\x40\x59\x00\x00\x00\x00\x00\x00\x00\x64"
        "\x40\x14\x00\x00\x00\x00\x00\x00\x7F\xFF\xFF\xFF\x80\x00\x00\x00"
        "\x00\x00\x00\x00\x34\x12\x12\x34\x56\x04\x03\x02\x01"
        "\x00\x00\x00\x00\x00\x00\x59\x40"
        "duration",
        73);
    const std::string accent = GetACP() == CP_UTF8 ? "\xC3\xA9" : "\xE9";
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.Data()), out.Position()),
              expected + accent);
}
