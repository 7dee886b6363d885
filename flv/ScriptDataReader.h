// ScriptDataReader: what the AMF0 value readers see of one script tag body.
//
// It wraps the input stream with the body's end offset and hands out the big-endian fields of
// AMF0 (UI8, UI16, UI24, UI32, DOUBLE, text). No read takes a byte at or beyond the end, even
// when the file goes on: the bytes after a body belong to the next tag (PreviousTagSize, tag
// header, payload) and are never parsed as values. A request that the body cannot supply fails
// before anything is allocated, so a length or count field larger than the body costs nothing.
//
// It also carries the two limits that keep a crafted body cheap: the nesting depth of values
// (kMaxDepth) and the number of named values built while one body is read (kMaxVariables).
// Each loop of the value readers consumes at least one byte per pass, so the work is bounded
// by the body's size as well.
//
// The first failure is recorded as a ScriptDataError, so that callers and tests can tell a
// short body from a nesting bomb.
#pragma once

#include <cstdint>
#include <string>

#include "io/InputStream.h"

enum class ScriptDataError : std::uint32_t {
    kNone = 0,
    kTruncated,      // a field runs past the end of the body (or of the file)
    kTooDeep,        // values nested more than kMaxDepth levels
    kTooManyValues,  // more than kMaxVariables named values in one body
    kOutOfMemory,    // an allocation failed
};

class ScriptDataReader {
  public:
    // The top-level value of a body is at depth 1; a value inside an array is one deeper.
    static constexpr unsigned kMaxDepth = 64;
    // Named values (ECMA array properties, at every depth) that one body may hold. Real
    // metadata carries a few dozen; the bound keeps memory proportional to a sane body.
    static constexpr std::uint64_t kMaxVariables = 65536;

    // Reads from the input's cursor up to (not including) the file offset `end`.
    ScriptDataReader(CInputStream& input, std::uint64_t end) noexcept : input(input), end(end) {}

    // Body bytes left between the cursor and the end.
    std::uint64_t Remaining() const noexcept {
        const std::uint64_t position = input.Tell();
        return position < end ? end - position : 0;
    }

    // Field reads: false (and kTruncated recorded) when the field is not wholly in the body.
    [[nodiscard]] bool ReadU8(std::uint8_t& value);
    [[nodiscard]] bool ReadU16(std::uint64_t& value);
    [[nodiscard]] bool ReadU32(std::uint64_t& value);
    [[nodiscard]] bool ReadDouble(double& value);
    [[nodiscard]] bool Skip(std::uint64_t count);
    // `count` bytes of ANSI text, decoded. Nothing is allocated unless the bytes are there.
    [[nodiscard]] bool ReadText(std::wstring& text, std::uint64_t count);

    // Looks at the next 3 bytes as UI24 without moving (the object end marker 00 00 09 reads as
    // 9). When fewer than 3 body bytes are left, `value` is 0 and the result false; that is not
    // an error, the callers only compare the value.
    bool PeekU24(std::uint32_t& value);
    // Steps over 3 bytes when the body has them; otherwise stays. Not an error either way.
    bool SkipU24();

    // Accounts for one more named value; false (kTooManyValues) beyond kMaxVariables.
    [[nodiscard]] bool CountVariable();

    // Records `error` unless an earlier one is recorded; returns false for the caller to pass on.
    bool Fail(ScriptDataError error) noexcept {
        if (firstError == ScriptDataError::kNone) firstError = error;
        return false;
    }
    ScriptDataError Error() const noexcept { return firstError; }

  private:
    // True when `count` bytes lie between the cursor and the end; records kTruncated if not.
    bool Has(std::uint64_t count);

    CInputStream& input;
    const std::uint64_t end;
    std::uint64_t variableCount = 0;
    ScriptDataError firstError = ScriptDataError::kNone;
};
