#include "flv/ScriptDataString.h"

#include "flv/ScriptDataReader.h"
#include "io/FieldWriters.h"
#include "platform/TextConvert.h"

namespace {
// A UTF-8 continuation byte (10xxxxxx) never starts a character.
constexpr bool IsContinuationByte(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}
}  // namespace

bool ScriptDataString::Read(ScriptDataReader& reader) {
    std::uint64_t fieldValue = 0;
    const bool lengthRead = isLong != 0 ? reader.ReadU32(fieldValue) : reader.ReadU16(fieldValue);
    if (!lengthRead) return false;
    // The reader checks the bytes against the body before the text is allocated.
    std::wstring decoded;
    if (!reader.ReadText(decoded, fieldValue)) return false;
    length = fieldValue;
    text = std::move(decoded);
    return true;
}

void ScriptDataString::SetText(std::wstring_view value, bool longLength) {
    text.assign(value);
    isLong = longLength ? 1 : 0;
    length = text.size();
}

std::string ScriptDataString::EncodedText() const {
    std::string bytes = WideToUtf8(text);
    const std::uint64_t limit = isLong != 0 ? kMaxLongLength : kMaxShortLength;
    if (bytes.size() > limit) {
        std::size_t cut = static_cast<std::size_t>(limit);
        while (cut > 0 && IsContinuationByte(bytes[cut])) --cut;
        bytes.resize(cut);
    }
    return bytes;
}

void ScriptDataString::Write(COutputStream& output) const {
    const std::string bytes = EncodedText();
    if (isLong != 0) {
        WriteU32(output, static_cast<std::uint32_t>(bytes.size()));
    } else {
        WriteU16(output, static_cast<std::uint16_t>(bytes.size()));
    }
    output.Append(bytes.data(), bytes.size());
}

std::uint64_t ScriptDataString::GetWriteSize() const {
    return LengthFieldSize() + EncodedText().size();
}
