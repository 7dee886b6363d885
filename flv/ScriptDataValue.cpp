#include "flv/ScriptDataValue.h"

#include "flv/ScriptDataReader.h"
#include "io/FieldWriters.h"

// Defined here, where ScriptDataVariable is complete.
ScriptDataValue::ScriptDataValue() = default;
ScriptDataValue::~ScriptDataValue() = default;
ScriptDataValue::ScriptDataValue(const ScriptDataValue&) = default;
ScriptDataValue::ScriptDataValue(ScriptDataValue&&) noexcept = default;
ScriptDataValue& ScriptDataValue::operator=(const ScriptDataValue&) = default;
ScriptDataValue& ScriptDataValue::operator=(ScriptDataValue&&) noexcept = default;

bool ScriptDataValue::Read(ScriptDataReader& reader, unsigned depth) {
    if (depth > ScriptDataReader::kMaxDepth) return reader.Fail(ScriptDataError::kTooDeep);
    std::uint8_t marker = 0;
    if (!reader.ReadU8(marker)) return false;
    type = marker;
    switch (marker) {
        case kScriptNumber:
            return reader.ReadDouble(number);
        case kScriptBoolean:
            if (!reader.ReadU8(boolean)) return false;
            boolean = boolean != 0 ? 1 : 0;
            return true;
        case kScriptString:
        case kScriptMovieClip:
            string.isLong = 0;
            return string.Read(reader);
        case kScriptLongString:
            string.isLong = 1;
            return string.Read(reader);
        case kScriptDate:
            return reader.Skip(kScriptDateSize);
        case kScriptEcmaArray:
            return ReadEcmaArray(reader, depth);
        case kScriptStrictArray:
            return ReadStrictArray(reader, depth);
        default:
            // Object, Null, Undefined, Reference, Object end and unknown markers: nothing more.
            return true;
    }
}

bool ScriptDataValue::ReadEcmaArray(ScriptDataReader& reader, unsigned depth) {
    std::uint64_t count = 0;
    if (!reader.ReadU32(count)) return false;
    // Many writers leave the count at 0 and end the array with its end marker only: a count of
    // 0 reads on to the end marker (or to the end of the body), so their metadata is not lost.
    const bool counted = count != 0;
    // The smallest property: an empty name (2 bytes) and a marker.
    constexpr std::uint64_t kSmallestProperty = 3;
    std::uint32_t next = 0;
    reader.PeekU24(next);
    // Every pass consumes at least 3 bytes (name length and marker), so the loop ends with
    // the body whatever the count says.
    while (next != kScriptObjectEndMarker &&
           (counted ? count != 0 : reader.Remaining() >= kSmallestProperty)) {
        if (!reader.CountVariable()) return false;
        ScriptDataVariable& variable = variables.emplace_back();
        if (!variable.Read(reader, depth + 1)) return false;
        if (variable.value.type != kScriptStrictArray && counted) --count;
        reader.PeekU24(next);
    }
    // The end marker, or the 3 bytes that follow the last counted value; not looked at.
    reader.SkipU24();
    return true;
}

bool ScriptDataValue::ReadStrictArray(ScriptDataReader& reader, unsigned depth) {
    std::uint64_t count = 0;
    if (!reader.ReadU32(count)) return false;
    // Elements are read and dropped. Each takes at least its marker byte, so a count beyond
    // the body fails at the body's end.
    for (std::uint64_t index = 0; index < count; ++index) {
        ScriptDataValue element;
        if (!element.Read(reader, depth + 1)) return false;
    }
    std::uint32_t next = 0;
    if (reader.PeekU24(next) && next == kScriptObjectEndMarker) reader.SkipU24();
    return true;
}

void ScriptDataValue::Write(COutputStream& output) const {
    WriteValue(output, static_cast<std::uint8_t>(type), FieldType::UI8);
    switch (type) {
        case kScriptNumber:
            WriteDouble(output, number);
            break;
        case kScriptBoolean:
            WriteValue(output, boolean, FieldType::UI8);
            break;
        case kScriptString:
        case kScriptMovieClip:
        case kScriptLongString:
            string.Write(output);
            break;
        case kScriptEcmaArray:
            WriteU32(output, static_cast<std::uint32_t>(variables.size()));
            for (const ScriptDataVariable& variable : variables) variable.Write(output);
            break;
        default:
            break;
    }
}

std::uint64_t ScriptDataValue::GetWriteSize() const {
    constexpr std::uint64_t kMarkerSize = 1;
    switch (type) {
        case kScriptNumber:
            return kMarkerSize + 8;
        case kScriptBoolean:
            return kMarkerSize + 1;
        case kScriptString:
        case kScriptMovieClip:
        case kScriptLongString:
            return kMarkerSize + string.GetWriteSize();
        case kScriptEcmaArray: {
            std::uint64_t size = kMarkerSize + 4;
            for (const ScriptDataVariable& variable : variables) size += variable.GetWriteSize();
            return size;
        }
        default:
            return kMarkerSize;
    }
}

bool ScriptDataVariable::Read(ScriptDataReader& reader, unsigned depth) {
    name.isLong = 0;
    return name.Read(reader) && value.Read(reader, depth);
}

void ScriptDataVariable::Write(COutputStream& output) const {
    name.Write(output);
    value.Write(output);
}

std::uint64_t ScriptDataVariable::GetWriteSize() const {
    return name.GetWriteSize() + value.GetWriteSize();
}

bool ScriptDataObject::Read(ScriptDataReader& reader) {
    // The name's marker is taken as String whatever it says.
    if (!reader.Skip(1)) return false;
    name.isLong = 0;
    return name.Read(reader) && value.Read(reader, 1);
}

void ScriptDataObject::Write(COutputStream& output) const {
    WriteValue(output, static_cast<std::uint8_t>(kScriptString), FieldType::UI8);
    name.Write(output);
    value.Write(output);
}

std::uint64_t ScriptDataObject::GetWriteSize() const {
    return 1 + name.GetWriteSize() + value.GetWriteSize();
}
