// The AMF0 value classes on their own: what each marker consumes, the limits that keep a crafted
// value cheap, and the string length field on writing.
#include <gtest/gtest.h>

#include <string>

#include "flv/ScriptDataReader.h"
#include "flv/ScriptDataValue.h"
#include "tests/flv/ScriptTestSupport.h"

using namespace std::string_literals;
using namespace script_test;

namespace {
class ScriptDataValueTest : public ScriptBytesTest {
  protected:
    // Reads one value from `bytes` (all of them form the body).
    bool ReadValue(const std::string& bytes) {
        CInputStream& input = Input(bytes);
        reader = std::make_unique<ScriptDataReader>(input, bytes.size());
        value = ScriptDataValue();
        return value.Read(*reader, 1);
    }
    std::uint64_t Consumed() const { return stream->Tell(); }

    std::unique_ptr<ScriptDataReader> reader;
    ScriptDataValue value;
};

// A strict array nested `levels` deep around a Number: levels + 1 values deep.
std::string NestedStrictArrays(unsigned levels) {
    std::string bytes;
    for (unsigned i = 0; i < levels; ++i) bytes += "\x0A"s + U32(1);
    return bytes + Number(1.0);
}

TEST_F(ScriptDataValueTest, EachMarkerConsumesItsOwnBytes) {
    const struct {
        std::string bytes;
        std::uint32_t type;
        std::uint64_t consumed;
    } cases[] = {
        {"\x00"s + Double(2.5), kScriptNumber, 9},
        {"\x01\x07"s, kScriptBoolean, 2},
        {"\x02\x00\x03"s
         "abc",
         kScriptString, 6},
        {"\x04\x00\x02"s
         "mc",
         kScriptMovieClip, 5},
        {"\x0C\x00\x00\x00\x01"s
         "z",
         kScriptLongString, 6},
        {"\x03\x00\x00\x09"s, kScriptObject, 1},  // the Object carries nothing
        {"\x05\xFF"s, kScriptNull, 1},
        {"\x06\xFF"s, kScriptUndefined, 1},
        {"\x07\x00\x01"s, kScriptReference, 1},  // no reference index is read
        {"\x09\xFF"s, kScriptObjectEnd, 1},
        {"\x0B"s + Double(0) + "\x00\x3C"s, kScriptDate, 11},  // date skipped whole
        {"\x0D\x00\x00"s, 13, 1},                              // unknown marker keeps its type
        {"\xFF\x00"s, 255, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        ASSERT_TRUE(ReadValue(c.bytes));
        EXPECT_EQ(value.type, c.type);
        EXPECT_EQ(Consumed(), c.consumed);
    }
}

TEST_F(ScriptDataValueTest, LongStringOf70000BytesIsReadWhole) {
    const std::string text(70000, 'q');
    ASSERT_TRUE(ReadValue("\x0C"s + U32(70000) + text));
    EXPECT_EQ(value.type, kScriptLongString);
    EXPECT_EQ(value.string.isLong, 1u);
    EXPECT_EQ(value.string.length, 70000u);
    EXPECT_EQ(value.string.text, std::wstring(70000, L'q'));
}

TEST_F(ScriptDataValueTest, StringLengthBeyondTheBodyFailsBeforeReadingText) {
    // Long string claiming 4 GiB - 1 with two bytes of text.
    ASSERT_FALSE(
        ReadValue("\x0C\xFF\xFF\xFF\xFF"
                  "ab"s));
    EXPECT_EQ(reader->Error(), ScriptDataError::kTruncated);
    EXPECT_EQ(Consumed(), 5u);  // marker and length field only
    EXPECT_FALSE(
        ReadValue("\x02\x00\x05"
                  "abcd"s));
}

TEST_F(ScriptDataValueTest, SeekTableMembersBecomePropertiesAndTheArrayEndIsConsumed) {
    const std::string bytes = "\x08"s + U32(2) +                  // ECMA array, count 2
                              Text("K") + "\x03"s +               // K: Object (counts 1)
                              Text("T") + "\x0A"s + U32(2) +      // T: strict array
                              Number(0.0) + Number(1.5) +         //
                              Text("P") + "\x0A"s + U32(1) +      // P: strict array
                              Number(1024.0) + "\x00\x00\x09"s +  //   takes K's end
                              Text("duration") + Number(1.5) +    // counts 2
                              "\x00\x00\x09"s;                    // the array's end
    ASSERT_TRUE(ReadValue(bytes));
    ASSERT_EQ(value.variables.size(), 4u);
    EXPECT_EQ(value.variables[0].value.type, kScriptObject);
    EXPECT_EQ(value.variables[1].value.type, kScriptStrictArray);
    EXPECT_EQ(value.variables[2].name.text, L"P");
    EXPECT_EQ(value.variables[3].name.text, L"duration");
    EXPECT_EQ(reader->Remaining(), 0u);
}

TEST_F(ScriptDataValueTest, NestingIsBoundedAt64Levels) {
    ASSERT_TRUE(ReadValue(NestedStrictArrays(63)));  // 64 values deep
    EXPECT_EQ(Consumed(), 63u * 5 + 9);

    EXPECT_FALSE(ReadValue(NestedStrictArrays(64)));  // 65 deep
    EXPECT_EQ(reader->Error(), ScriptDataError::kTooDeep);

    // A bomb of ECMA arrays, each holding one property that holds the next.
    std::string bomb;
    for (int i = 0; i < 10000; ++i) bomb += "\x08"s + U32(1) + Text("a");
    EXPECT_FALSE(ReadValue(bomb + Number(0)));
    EXPECT_EQ(reader->Error(), ScriptDataError::kTooDeep);
}

TEST_F(ScriptDataValueTest, HugeCountsEndWithTheData) {
    // Strict array of 2^32 - 1 elements with one element present.
    EXPECT_FALSE(ReadValue("\x0A\xFF\xFF\xFF\xFF"s + Number(1)));
    EXPECT_EQ(reader->Error(), ScriptDataError::kTruncated);

    // ECMA array of 2^32 - 1 properties: the end marker ends it.
    ASSERT_TRUE(ReadValue("\x08\xFF\xFF\xFF\xFF"s + Text("a") + Number(1) + "\x00\x00\x09"s));
    EXPECT_EQ(value.variables.size(), 1u);

    // Without an end marker the body's end fails it.
    EXPECT_FALSE(ReadValue("\x08\xFF\xFF\xFF\xFF"s + Text("a") + Number(1)));
}

TEST_F(ScriptDataValueTest, NamedValuesPerBodyAreBounded) {
    // 65,537 one-letter properties of Null: 4 bytes each.
    std::string bytes = "\x08"s + U32(0xFFFFFFFF);
    for (std::uint64_t i = 0; i <= ScriptDataReader::kMaxVariables; ++i)
        bytes += Text("n") + "\x05";
    EXPECT_FALSE(ReadValue(bytes + "\x00\x00\x09"s));
    EXPECT_EQ(reader->Error(), ScriptDataError::kTooManyValues);
}

TEST_F(ScriptDataValueTest, StrictArrayPropertiesDoNotCount) {
    // Count 1: the strict array does not use it up, the Number does.
    ASSERT_TRUE(ReadValue("\x08"s + U32(1) + Text("s") + "\x0A"s + U32(0) + Text("n") + Number(3) +
                          Text("late") + Number(4)));
    ASSERT_EQ(value.variables.size(), 2u);
    EXPECT_EQ(value.variables[1].name.text, L"n");
    // The three bytes after the counted value were stepped over.
    EXPECT_EQ(Consumed(), 5u + 3 + 5 + 3 + 9 + 3);
}

TEST(ScriptDataStringTest, LengthFieldCountsEncodedBytes) {
    ScriptDataString name;
    name.SetText(L"gr\u00F6\u00DFe \u65E5");  // 7 characters, 11 bytes in UTF-8
    EXPECT_EQ(name.length, 7u);
    COutputStream out;
    name.Write(out);
    EXPECT_EQ(Written(out),
              "\x00\x0B"
              "gr\xC3\xB6\xC3\x9F"
              "e \xE6\x97\xA5"s);
    EXPECT_EQ(name.GetWriteSize(), out.Position());

    name.SetText(L"\U0001F600", true);  // one character, 4 bytes, 32-bit length
    COutputStream longOut;
    name.Write(longOut);
    EXPECT_EQ(Written(longOut), "\x00\x00\x00\x04\xF0\x9F\x98\x80"s);
    EXPECT_EQ(name.GetWriteSize(), 8u);
}

TEST(ScriptDataStringTest, TextBeyondA16BitLengthIsCutAtAWholeCharacter) {
    ScriptDataString name;
    // 'a' then 21,845 three-byte characters: 65,536 bytes, one more than the field holds.
    name.SetText(L"a" + std::wstring(21845, L'\u20AC'));
    COutputStream out;
    name.Write(out);
    ASSERT_EQ(out.Position(), 2u + 65533);  // the last euro sign is dropped whole
    EXPECT_EQ(Written(out).substr(0, 2), "\xFF\xFD"s);
    EXPECT_EQ(name.GetWriteSize(), out.Position());
}

TEST(ScriptDataValueWriteTest, SizesMatchTheBytesWritten) {
    ScriptDataValue array;
    array.type = kScriptEcmaArray;
    const std::uint32_t types[] = {kScriptNumber, kScriptBoolean,    kScriptString,   kScriptNull,
                                   kScriptDate,   kScriptLongString, kScriptEcmaArray};
    for (std::uint32_t type : types) {
        ScriptDataVariable& variable = array.variables.emplace_back();
        variable.name.SetText(L"v");
        variable.value.type = type;
        variable.value.string.SetText(L"\u00E9t\u00E9", type == kScriptLongString);
    }
    COutputStream out;
    array.Write(out);
    EXPECT_EQ(array.GetWriteSize(), out.Position());
    // marker, count, then per variable name (3) + value
    EXPECT_EQ(out.Position(), 1u + 4 + 7 * 3 + 9 + 2 + 8 + 1 + 1 + 10 + 5);
}
}  // namespace
