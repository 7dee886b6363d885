// Helpers shared by the script data and metadata tests: AMF0 field builders for bulk inputs
// (hand-written inputs stay inline in the tests) and a fixture that serves bytes through an
// input stream on a temporary file.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "flv/ScriptData.h"
#include "io/InputStream.h"
#include "tests/support/TempDir.h"

namespace script_test {
inline std::string U16(std::uint16_t value) {
    return {static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)};
}

inline std::string U32(std::uint32_t value) {
    return U16(static_cast<std::uint16_t>(value >> 16)) +
           U16(static_cast<std::uint16_t>(value & 0xFFFF));
}

// The 8 big-endian bytes of a double.
inline std::string Double(double value) {
    const auto bits = std::bit_cast<std::uint64_t>(value);
    return U32(static_cast<std::uint32_t>(bits >> 32)) + U32(static_cast<std::uint32_t>(bits));
}

// A property name or short string: 16-bit length and the bytes.
inline std::string Text(std::string_view text) {
    return U16(static_cast<std::uint16_t>(text.size())) + std::string(text);
}

// A Number value: marker 0 and the double.
inline std::string Number(double value) {
    return std::string(1, '\0') + Double(value);
}

// Automation values of the three types the writer turns into AMF0.
inline VARIANT R8(double number) {
    VARIANT value;
    value.vt = VT_R8;
    value.dblVal = number;
    return value;
}

inline VARIANT I4(LONG number) {
    VARIANT value;
    value.vt = VT_I4;
    value.lVal = number;
    return value;
}

inline VARIANT Bool(VARIANT_BOOL flag) {
    VARIANT value;
    value.vt = VT_BOOL;
    value.boolVal = flag;
    return value;
}

// Reads the body of the script tag that a real file has first (at offset 13) from `input`,
// opened on the file; the cursor ends after the body.
inline void ReadFirstScriptTag(CInputStream& input, CFLV_ScriptData& body) {
    ASSERT_TRUE(input.SeekTo(13));
    std::uint8_t tagType = 0;
    std::uint32_t dataSize = 0;
    ASSERT_TRUE(input.ReadValue(tagType, FieldType::UI8));
    ASSERT_TRUE(input.ReadValue(dataSize, FieldType::UI24));
    ASSERT_EQ(tagType, 18);
    ASSERT_TRUE(input.SkipBytes(7));  // time, extended time, stream id
    body.DataSize = dataSize;
    ASSERT_TRUE(body.Read(input));
    EXPECT_EQ(input.Tell(), 24u + dataSize);
}

// The bytes an output stream holds.
inline std::string Written(const COutputStream& stream) {
    return std::string(reinterpret_cast<const char*>(stream.Data()), stream.Position());
}
}  // namespace script_test

class ScriptBytesTest : public ::testing::Test {
  protected:
    // A fresh input stream on a file holding `bytes`, cursor at `start`.
    CInputStream& Input(const std::string& bytes, std::uint64_t start = 0) {
        temp.Write("script.bin", bytes);
        stream = std::make_unique<CInputStream>();
        stream->Open(temp.Wide("script.bin"));
        EXPECT_TRUE(stream->IsOpen());
        if (start != 0) {
            EXPECT_TRUE(stream->SeekTo(start));
        }
        return *stream;
    }

    // Reads `body` with DataSize `dataSize` from a file holding `bytes`, starting at `start`.
    bool ReadBody(CFLV_ScriptData& body, const std::string& bytes, std::uint32_t dataSize,
                  std::uint64_t start = 0) {
        CInputStream& input = Input(bytes, start);
        body.DataSize = dataSize;
        return body.Read(input);
    }

    TempDir temp;
    std::unique_ptr<CInputStream> stream;
};
