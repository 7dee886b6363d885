// ScriptDataString: an AMF0 string without its marker (SCRIPTDATASTRING), used for property
// names and for String, MovieClip and Long string values.
//
//   length  UI16, or UI32 when isLong is nonzero
//   text    `length` bytes of ANSI text (UTF-8 here), no terminator
//
// On reading, `length` is the length field's value and `text` the decoded characters. On
// writing, the length field carries the number of bytes of the encoded text, which for text
// beyond ASCII is more than its number of characters; text that does not fit a 16-bit length
// field is cut at the last whole character that fits.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "io/OutputStream.h"

class ScriptDataReader;

struct ScriptDataString {
    static constexpr std::uint64_t kMaxShortLength = 0xFFFF;
    static constexpr std::uint64_t kMaxLongLength = 0xFFFFFFFF;

    // Reads the length field (its width chosen by isLong) and then the text. Fails, with the
    // old text kept, when the field or the text is not in the body.
    [[nodiscard]] bool Read(ScriptDataReader& reader);
    // Copies `value` and selects the length field's width; `length` becomes the number of
    // characters.
    void SetText(std::wstring_view value, bool longLength = false);
    // Length field and encoded text.
    void Write(COutputStream& output) const;
    // Bytes that Write emits: 2 (or 4) + the encoded text's bytes.
    std::uint64_t GetWriteSize() const;

    // Nonzero selects the 32-bit length field.
    std::uint32_t isLong = 0;
    // Read: the length field's value. SetText: the number of characters.
    std::uint64_t length = 0;
    std::wstring text;

  private:
    unsigned LengthFieldSize() const noexcept { return isLong != 0 ? 4 : 2; }
    // The text in the ANSI code page, cut to what the length field can state.
    std::string EncodedText() const;
};
