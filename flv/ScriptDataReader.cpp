#include "flv/ScriptDataReader.h"

bool ScriptDataReader::Has(std::uint64_t count) {
    if (count <= Remaining()) return true;
    return Fail(ScriptDataError::kTruncated);
}

bool ScriptDataReader::ReadU8(std::uint8_t& value) {
    if (!Has(1)) return false;
    return input.ReadValue(value, FieldType::UI8) || Fail(ScriptDataError::kTruncated);
}

bool ScriptDataReader::ReadU16(std::uint64_t& value) {
    if (!Has(2)) return false;
    return input.ReadValue(value, FieldType::UI16) || Fail(ScriptDataError::kTruncated);
}

bool ScriptDataReader::ReadU32(std::uint64_t& value) {
    if (!Has(4)) return false;
    return input.ReadValue(value, FieldType::UI32) || Fail(ScriptDataError::kTruncated);
}

bool ScriptDataReader::ReadDouble(double& value) {
    if (!Has(8)) return false;
    return input.ReadValue(value, FieldType::DOUBLE) || Fail(ScriptDataError::kTruncated);
}

bool ScriptDataReader::Skip(std::uint64_t count) {
    if (!Has(count)) return false;
    return input.SkipBytes(count) || Fail(ScriptDataError::kTruncated);
}

bool ScriptDataReader::ReadText(std::wstring& text, std::uint64_t count) {
    if (!Has(count)) return false;
    return input.ReadText(text, count) || Fail(ScriptDataError::kTruncated);
}

bool ScriptDataReader::PeekU24(std::uint32_t& value) {
    value = 0;
    if (Remaining() < 3) return false;
    if (input.PeekValue(value, FieldType::UI24)) return true;
    value = 0;
    return false;
}

bool ScriptDataReader::SkipU24() {
    return Remaining() >= 3 && input.SkipBytes(3);
}

bool ScriptDataReader::CountVariable() {
    if (variableCount >= kMaxVariables) return Fail(ScriptDataError::kTooManyValues);
    ++variableCount;
    return true;
}
