// fuzz_script: CFLV_ScriptData::Read over a script tag body of arbitrary bytes.
//
// The input is the body; DataSize is its size, and a PreviousTagSize follows it in the file as
// in a real one (a body must never read into it). A successful read leaves the cursor at the
// body's end; a failed one names its reason. What was read is written again: GetDataSize must
// equal the bytes written, and reading those back gives the same name and, property by
// property, the numbers and booleans with their names (any other value is written as an unnamed
// Undefined and reads back as an unnamed VT_EMPTY).
#include <cstring>

#include "flv/ScriptData.h"
#include "fuzz/FuzzSupport.h"
#include "io/OutputStream.h"

namespace {
constexpr std::uint8_t kPreviousTagSize[4] = {0, 0, 0, 0};

// The property as the writer emits it and the reader gets it back.
bool RoundTripped(const ScriptProperty& original, const ScriptProperty& reread) {
    const VARIANT& value = original.value;
    if (value.vt != VT_R8 && value.vt != VT_BOOL) {
        return reread.name.empty() && reread.value.vt == VT_EMPTY;
    }
    return original.name == reread.name && reread.value.vt == value.vt &&
           (value.vt == VT_R8
                ? std::memcmp(&value.dblVal, &reread.value.dblVal, sizeof(double)) == 0
                : value.boolVal == reread.value.boolVal);
}

void CheckRoundTrip(CFLV_ScriptData& script, MemoryFile& file) {
    COutputStream output;
    script.Write(output);
    FUZZ_CHECK(!output.Failed());
    FUZZ_CHECK(script.GetDataSize() == output.Position());

    file.Assign(output.Data(), output.Position());
    file.Append(kPreviousTagSize, sizeof kPreviousTagSize);
    CInputStream input;
    file.Open(input);
    CFLV_ScriptData reread;
    reread.DataSize = static_cast<std::uint32_t>(output.Position());
    FUZZ_CHECK(reread.Read(input));
    FUZZ_CHECK(reread.ObjectName() == script.ObjectName());
    FUZZ_CHECK(reread.Properties().size() == script.Properties().size());
    for (std::size_t i = 0; i < script.Properties().size(); ++i) {
        FUZZ_CHECK(RoundTripped(script.Properties()[i], reread.Properties()[i]));
    }
}
}  // namespace

int FuzzScript(const std::uint8_t* data, std::size_t size) {
    static MemoryFile file;
    // A tag's DataSize is a 24-bit field.
    if (size > 0xFFFFFF) return 0;
    file.Assign(data, size);
    file.Append(kPreviousTagSize, sizeof kPreviousTagSize);
    CInputStream input;
    file.Open(input);

    CFLV_ScriptData script;
    script.DataSize = static_cast<std::uint32_t>(size);
    if (!script.Read(input)) {
        FUZZ_CHECK(script.LastReadError() != ScriptDataError::kNone);
        return 0;
    }
    FUZZ_CHECK(input.Tell() == size);
    CheckRoundTrip(script, file);
    return 0;
}
