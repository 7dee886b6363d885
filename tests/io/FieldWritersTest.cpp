#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "io/FieldWriters.h"

namespace {
// The bytes written so far, as a string for comparison with literals.
std::string Written(const COutputStream& stream) {
    return std::string(reinterpret_cast<const char*>(stream.Data()), stream.Position());
}

TEST(FieldWriters, IntegerFieldsAreBigEndianAndCutToTheirWidth) {
    COutputStream out;
    WriteValue(out, 0x123456u, FieldType::UI24);        // 12 34 56
    WriteValue(out, 0x01234567u, FieldType::UI24);      // upper byte dropped: 23 45 67
    WriteValue(out, std::uint8_t{7}, FieldType::UI32);  // zero-extended: 00 00 00 07
    WriteValue(out, -2, FieldType::SI16);               // FF FE
    WriteValue(out, 0x1FFu, FieldType::UI8);            // low byte: FF
    WriteU16(out, 0xABCD);                              // AB CD
    WriteU32(out, -1);                                  // FF FF FF FF
    WriteU32(out, 0x01020304u);                         // 01 02 03 04
    EXPECT_EQ(Written(out), std::string("\x12\x34\x56"
                                        "\x23\x45\x67"
                                        "\x00\x00\x00\x07"
                                        "\xFF\xFE"
                                        "\xFF"
                                        "\xAB\xCD"
                                        "\xFF\xFF\xFF\xFF"
                                        "\x01\x02\x03\x04",
                                        23));
}

TEST(FieldWriters, DoubleOverloadWritesTheValueOrItsTruncation) {
    COutputStream out;
    WriteValue(out, 100.0, FieldType::DOUBLE);  // 40 59 00 00 00 00 00 00
    WriteValue(out, 100.9, FieldType::UI16);    // truncated toward zero: 00 64
    WriteValue(out, 5u, FieldType::DOUBLE);     // 40 14 00 00 00 00 00 00
    EXPECT_EQ(Written(out), std::string("\x40\x59\x00\x00\x00\x00\x00\x00"
                                        "\x00\x64"
                                        "\x40\x14\x00\x00\x00\x00\x00\x00",
                                        18));
}

TEST(FieldWriters, OutOfRangeDoublesSaturateInsteadOfOverflowing) {
    COutputStream out;
    WriteValue(out, 1e300, FieldType::UI32);                                     // 7F FF FF FF
    WriteValue(out, -1e300, FieldType::UI32);                                    // 80 00 00 00
    WriteValue(out, std::numeric_limits<double>::quiet_NaN(), FieldType::UI32);  // 00 00 00 00
    EXPECT_EQ(Written(out), std::string("\x7F\xFF\xFF\xFF\x80\x00\x00\x00\x00\x00\x00\x00", 12));
}

TEST(FieldWriters, LittleEndianAffectsSixteenAndThirtyTwoBitFieldsAndDoubles) {
    COutputStream out;
    WriteValue(out, 0x1234u, FieldType::UI16, true);    // 34 12
    WriteValue(out, 0x123456u, FieldType::UI24, true);  // 24-bit stays big-endian: 12 34 56
    WriteU32(out, 0x01020304u, true);                   // 04 03 02 01
    WriteDouble(out, 100.0, true);                      // 00 00 00 00 00 00 59 40
    EXPECT_EQ(Written(out), std::string("\x34\x12"
                                        "\x12\x34\x56"
                                        "\x04\x03\x02\x01"
                                        "\x00\x00\x00\x00\x00\x00\x59\x40",
                                        17));
}

TEST(FieldWriters, UnknownCodeWritesNothing) {
    COutputStream out;
    const auto code9 = static_cast<FieldType>(9);
    WriteValue(out, 1u, code9);
    WriteValue(out, 1, code9);
    WriteValue(out, 1.0, code9);
    WriteValue(out, std::uint8_t{1}, code9);
    EXPECT_EQ(out.Position(), 0u);
}

TEST(FieldWriters, TextIsWrittenWithoutLengthOrTerminator) {
    COutputStream out;
    WriteText(out, L"duration");
    EXPECT_EQ(Written(out), "duration");
    WriteText(out, L"");
    WriteText(out, nullptr);
    EXPECT_EQ(out.Position(), 8u);
    WriteText(out, L"\u00E9");  // UTF-8 as the ANSI code page: C3 A9
    EXPECT_EQ(Written(out), "duration\xC3\xA9");
}
}  // namespace
