#include "flv/Metadata.h"

#include <cmath>
#include <cstdint>
#include <new>
#include <optional>
#include <string_view>

#include "io/FieldWriters.h"

namespace {
constexpr std::uint8_t kScriptTagType = 18;
constexpr std::uint32_t kTagHeaderSize = 11;
constexpr std::int32_t kAvcCodecId = 7;
constexpr std::int32_t kAacSoundFormat = 10;
// What a codec id given as any other text stands for.
constexpr std::int32_t kCodecIdFromOtherText = 2;
// Stands in for a frame rate that cannot divide the frame count.
constexpr double kFallbackFrameRate = 30.0;
constexpr double kAudioDelaySeconds = 0.038;

// A name of the reading table that sets a 32-bit field.
struct IntegerRule {
    const wchar_t* name;
    LONG StreamFacts::*field;
    bool positiveOnly;
    // For the codec ids: the text that selects `textValue` (any other text gives
    // kCodecIdFromOtherText); null where a string is not accepted.
    const wchar_t* codecText;
    std::int32_t textValue;
};

constexpr IntegerRule kIntegerRules[] = {
    {L"width", &StreamFacts::width, true, nullptr, 0},
    {L"height", &StreamFacts::height, true, nullptr, 0},
    {L"videodatarate", &StreamFacts::videoDataRate, false, nullptr, 0},
    {L"videocodecid", &StreamFacts::videoCodec, false, L"avc1", kAvcCodecId},
    {L"audiodatarate", &StreamFacts::audioDataRate, false, nullptr, 0},
    {L"audiocodecid", &StreamFacts::soundFormat, false, L"mp4a", kAacSoundFormat},
};

// The value as a number: VT_R8 and VT_I4 only.
std::optional<double> NumberOf(const VARIANT& value) {
    if (value.vt == VT_R8) return value.dblVal;
    if (value.vt == VT_I4) return static_cast<double>(value.lVal);
    return std::nullopt;
}

// Truncation toward zero, when the result is a 32-bit integer.
std::optional<std::int32_t> Truncated(double number) {
    if (!std::isfinite(number)) return std::nullopt;
    const double whole = std::trunc(number);
    if (whole < -2147483648.0 || whole > 2147483647.0) return std::nullopt;
    return static_cast<std::int32_t>(whole);
}

// Whole-string comparison with an ASCII lower-case word, ignoring case.
bool EqualsIgnoringCase(BSTR text, std::wstring_view lowerWord) {
    const std::wstring_view value(text != nullptr ? text : L"", SysStringLen(text));
    if (value.size() != lowerWord.size()) return false;
    for (std::size_t i = 0; i < value.size(); ++i) {
        wchar_t c = value[i];
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
        if (c != lowerWord[i]) return false;
    }
    return true;
}

void ApplyIntegerRule(const IntegerRule& rule, const VARIANT& value, StreamFacts& facts) {
    if (value.vt == VT_BSTR) {
        if (rule.codecText != nullptr) {
            facts.*rule.field = EqualsIgnoringCase(value.bstrVal, rule.codecText)
                                    ? rule.textValue
                                    : kCodecIdFromOtherText;
        }
        return;
    }
    const std::optional<double> number = NumberOf(value);
    if (!number || (rule.positiveOnly && !(*number > 0.0))) return;
    if (const std::optional<std::int32_t> whole = Truncated(*number)) facts.*rule.field = *whole;
}

void ApplyProperty(const ScriptProperty& property, StreamFacts& facts) {
    if (property.name == L"framerate") {
        const std::optional<double> number = NumberOf(property.value);
        if (number && std::isfinite(*number) && *number > 0.0) facts.frameRate = *number;
        return;
    }
    for (const IntegerRule& rule : kIntegerRules) {
        if (property.name == rule.name) {
            ApplyIntegerRule(rule, property.value, facts);
            return;
        }
    }
}

VARIANT DoubleValue(double number) {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_R8;
    value.dblVal = number;
    return value;
}

VARIANT IntegerValue(std::int32_t number) {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_I4;
    value.lVal = number;
    return value;
}

VARIANT BooleanValue(bool flag) {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BOOL;
    value.boolVal = flag ? VARIANT_TRUE : VARIANT_FALSE;
    return value;
}

double DurationSeconds(const StreamFacts& facts) {
    const double frames = static_cast<double>(facts.videoFrameCount);
    const double rate = std::isfinite(facts.frameRate) && facts.frameRate > 0.0
                            ? facts.frameRate
                            : kFallbackFrameRate;
    const double duration = frames / rate;
    return std::isfinite(duration) ? duration : frames / kFallbackFrameRate;
}

// The "onMetaData" body for `facts`; false when a value cannot be added.
bool BuildMetaData(const StreamFacts& facts, CFLV_ScriptData& body) {
    body.SetObjectName(L"onMetaData");
    const struct {
        const wchar_t* name;
        VARIANT value;
    } entries[] = {
        {L"duration", DoubleValue(DurationSeconds(facts))},
        {L"width", IntegerValue(facts.width)},
        {L"height", IntegerValue(facts.height)},
        {L"videodatarate", IntegerValue(facts.videoDataRate)},
        {L"framerate", DoubleValue(facts.frameRate)},
        {L"videocodecid", IntegerValue(facts.videoCodec)},
        {L"audiodatarate", IntegerValue(facts.audioDataRate)},
        {L"audiodelay", DoubleValue(kAudioDelaySeconds)},
        {L"audiocodecid", IntegerValue(facts.soundFormat)},
        {L"canSeekToEnd", BooleanValue(true)},
    };
    for (const auto& entry : entries) {
        if (FAILED(body.AddProperty(entry.name, entry.value))) return false;
    }
    return true;
}
}  // namespace

void ApplyMetadata(const CFLV_ScriptData& body, StreamFacts& facts) {
    for (const ScriptProperty& property : body.Properties()) ApplyProperty(property, facts);
}

bool WriteMetaData(COutputStream& output, const StreamFacts& facts) {
    try {
        CFLV_ScriptData body;
        if (!BuildMetaData(facts, body)) return false;
        // The body goes to a buffer of its own first: the tag's DataSize is then the number
        // of bytes the body really has, and a failure leaves `output` untouched.
        COutputStream bodyBytes;
        body.Write(bodyBytes);
        if (bodyBytes.Failed()) return false;
        const auto dataSize = static_cast<std::uint32_t>(bodyBytes.Position());

        WriteValue(output, kScriptTagType, FieldType::UI8);
        WriteValue(output, dataSize, FieldType::UI24);
        WriteValue(output, std::uint32_t{0}, FieldType::UI24);  // time
        WriteValue(output, std::uint8_t{0}, FieldType::UI8);    // extended time
        WriteValue(output, std::uint32_t{0}, FieldType::UI24);  // stream id
        output.Append(bodyBytes.Data(), static_cast<std::size_t>(dataSize));
        WriteU32(output, dataSize + kTagHeaderSize);
        return !output.Failed();
    } catch (const std::bad_alloc&) {
        return false;
    }
}
