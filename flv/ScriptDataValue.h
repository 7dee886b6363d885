// The AMF0 values of a script tag body: ScriptDataValue (SCRIPTDATAVALUE), the named value
// ScriptDataVariable (SCRIPTDATAVARIABLE) that an ECMA array holds, and ScriptDataObject
// (SCRIPTDATAOBJECT), the name and value that make up a whole body. The three are mutually
// recursive and live together here.
//
// The reader is tolerant and flat; what it does with each marker:
//
//   0  Number        8-byte big-endian double
//   1  Boolean       1 byte, nonzero = true
//   2  String        16-bit length + text          (ScriptDataString)
//   3  Object        the marker only: its members are read as if they followed in the
//                    enclosing array
//   4  MovieClip     like String
//   5  Null, 6 Undefined, 7 Reference, 9 Object end: the marker only
//   8  ECMA array    UI32 count, then named values until the end marker 00 00 09 or until
//                    `count` values that are not strict arrays have been read; then 3 bytes
//                    (the end marker, or whatever stands there) are stepped over
//   10 Strict array  UI32 count and that many values, read and dropped; an end marker right
//                    after them is consumed
//   11 Date          10 bytes stepped over (double + 16-bit offset)
//   12 Long string   32-bit length + text
//   above 12         the marker only; the value keeps it as its type
//
// Together, "Object carries nothing", "a strict-array property does not count" and "a strict
// array consumes a following end marker" read the usual seek table (an Object-valued property
// whose members are two strict arrays) as further properties of the enclosing array, with the
// object's end marker taken by its last strict array.
//
// Writing emits the marker and, by type: 0 the double, 1 the byte, 2/4/12 the string, 8 the
// variable count (UI32) and each variable's name and value; nothing for other types. No end
// marker is ever written. GetWriteSize is the number of bytes Write emits.
#pragma once

#include <cstdint>
#include <vector>

#include "flv/ScriptDataString.h"
#include "io/OutputStream.h"

class ScriptDataReader;

// AMF0 type markers.
enum ScriptDataType : std::uint32_t {
    kScriptNumber = 0,
    kScriptBoolean = 1,
    kScriptString = 2,
    kScriptObject = 3,
    kScriptMovieClip = 4,
    kScriptNull = 5,
    kScriptUndefined = 6,
    kScriptReference = 7,
    kScriptEcmaArray = 8,
    kScriptObjectEnd = 9,
    kScriptStrictArray = 10,
    kScriptDate = 11,
    kScriptLongString = 12,
};

// The object end marker 00 00 09, read as UI24.
constexpr std::uint32_t kScriptObjectEndMarker = 9;
// A date: the double and the 16-bit time zone offset, stepped over.
constexpr std::uint64_t kScriptDateSize = 10;

struct ScriptDataVariable;

struct ScriptDataValue {
    ScriptDataValue();
    ~ScriptDataValue();
    ScriptDataValue(const ScriptDataValue&);
    ScriptDataValue(ScriptDataValue&&) noexcept;
    ScriptDataValue& operator=(const ScriptDataValue&);
    ScriptDataValue& operator=(ScriptDataValue&&) noexcept;

    // Reads a marker and the value it announces. `depth` is this value's nesting level (1 for
    // the value of a body); a value deeper than ScriptDataReader::kMaxDepth fails.
    [[nodiscard]] bool Read(ScriptDataReader& reader, unsigned depth);
    void Write(COutputStream& output) const;
    std::uint64_t GetWriteSize() const;

    std::uint32_t type = kScriptUndefined;
    double number = 0.0;
    std::uint8_t boolean = 0;
    // Markers 2 and 4 (16-bit length) and 12 (32-bit length).
    ScriptDataString string;
    // Marker 8, in file order.
    std::vector<ScriptDataVariable> variables;

  private:
    [[nodiscard]] bool ReadEcmaArray(ScriptDataReader& reader, unsigned depth);
    [[nodiscard]] bool ReadStrictArray(ScriptDataReader& reader, unsigned depth);
};

struct ScriptDataVariable {
    // The name (16-bit length, no marker), then the value at `depth`.
    [[nodiscard]] bool Read(ScriptDataReader& reader, unsigned depth);
    void Write(COutputStream& output) const;
    std::uint64_t GetWriteSize() const;

    ScriptDataString name;
    ScriptDataValue value;
};

// A script tag body: a String marker (read without being checked), the name, the value.
struct ScriptDataObject {
    [[nodiscard]] bool Read(ScriptDataReader& reader);
    void Write(COutputStream& output) const;
    std::uint64_t GetWriteSize() const;

    ScriptDataString name;
    ScriptDataValue value;
};
