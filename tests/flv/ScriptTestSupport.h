// Helpers shared by the script data and metadata tests: short names for the AMF0 field builders
// and automation values.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "flv/ScriptData.h"
#include "tests/support/FlvBuilder.h"

namespace script_test {
inline constexpr auto U32 = [](std::uint32_t value) { return FlvBuilder::BigEndian(value, 4); };
// A property name or short string: 16-bit length and the bytes.
inline constexpr auto Text = [](std::string_view text) { return FlvBuilder::Amf0Name(text); };
// A Number value: marker 0 and the 8 big-endian bytes of the double.
inline constexpr auto Number = [](double value) { return FlvBuilder::Amf0Number(value); };

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
// A VT_BSTR value that the caller clears.
inline constexpr auto TextValue = [](const wchar_t* text) {
    return MakeVariant(VT_BSTR, &VARIANT::bstrVal, SysAllocString(text));
};

// The bytes an output stream holds.
inline std::string Written(const COutputStream& stream) {
    return std::string(reinterpret_cast<const char*>(stream.Data()), stream.Position());
}
}  // namespace script_test
