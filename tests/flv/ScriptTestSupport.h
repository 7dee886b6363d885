// Helpers shared by the script data and metadata tests: short names for the AMF0 field builders,
// automation values, and a fixture that serves bytes through an input stream on a temporary
// file.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "flv/ScriptData.h"
#include "io/InputStream.h"
#include "tests/support/FlvBuilder.h"
#include "tests/support/TempDir.h"

namespace script_test {
inline constexpr auto U32 = [](std::uint32_t value) { return FlvBuilder::BigEndian(value, 4); };
// A property name or short string: 16-bit length and the bytes.
inline constexpr auto Text = [](std::string_view text) { return FlvBuilder::Amf0Name(text); };
// A Number value: marker 0 and the 8 big-endian bytes of the double.
inline constexpr auto Number = [](double value) { return FlvBuilder::Amf0Number(value); };
inline constexpr auto Double = [](double value) { return Number(value).substr(1); };

// An automation value of `type` holding `content` in `field`.
template <class T>
VARIANT MakeVariant(VARTYPE type, T VARIANT::*field, T content) {
    VARIANT value{};
    value.vt = type;
    value.*field = content;
    return value;
}
inline constexpr auto R8 = [](double n) { return MakeVariant(VT_R8, &VARIANT::dblVal, n); };
inline constexpr auto I4 = [](LONG n) { return MakeVariant(VT_I4, &VARIANT::lVal, n); };
inline constexpr auto Bool = [](VARIANT_BOOL b) {
    return MakeVariant(VT_BOOL, &VARIANT::boolVal, b);
};
// A VT_BSTR value that the caller clears.
inline constexpr auto TextValue = [](const wchar_t* text) {
    return MakeVariant(VT_BSTR, &VARIANT::bstrVal, SysAllocString(text));
};

// The bytes an output stream holds.
inline std::string Written(const COutputStream& stream) {
    return std::string(reinterpret_cast<const char*>(stream.Data()), stream.Position());
}
}  // namespace script_test

class ScriptBytesTest : public ::testing::Test {
  protected:
    // A fresh input stream on a file holding `bytes`, cursor at its start.
    CInputStream& Input(const std::string& bytes) {
        temp.Write("script.bin", bytes);
        stream = std::make_unique<CInputStream>();
        stream->Open(temp.Wide("script.bin"));
        return *stream;
    }

    // Reads `body` with DataSize `dataSize` from a file holding `bytes`.
    bool ReadBody(CFLV_ScriptData& body, const std::string& bytes, std::uint32_t dataSize) {
        body.DataSize = dataSize;
        return body.Read(Input(bytes));
    }

    TempDir temp;
    std::unique_ptr<CInputStream> stream;
};
