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

    std::unique_ptr<ScriptDataReader> reader;
    ScriptDataValue value;
};

TEST_F(ScriptDataValueTest, EachMarkerConsumesItsOwnBytes) {
    const struct {
        std::string bytes;
        std::uint32_t type;
        std::uint64_t consumed;
    } cases[] = {
        {"\x00"s + Double(2.5), kScriptNumber, 9},
        {"\x01\x07"s, kScriptBoolean, 2},
        {"\x02\x00\x03"s + "abc", kScriptString, 6},
        {"\x04\x00\x02"s + "mc", kScriptMovieClip, 5},
        {"\x0C\x00\x00\x00\x01"s + "z", kScriptLongString, 6},
        {"\x0C"s + U32(70000) + std::string(70000, 'q'), kScriptLongString, 70005},  // > 64 KiB
        {"\x03\x00\x00\x09"s, kScriptObject, 1},  // the Object carries nothing
        {"\x05\xFF"s, kScriptNull, 1},
        {"\x07\x00\x01"s, kScriptReference, 1},                // no reference index is read
        {"\x0B"s + Double(0) + "\x00\x3C"s, kScriptDate, 11},  // date skipped whole
        {"\x0D\x00\x00"s, 13, 1},                              // unknown marker keeps its type
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        ASSERT_TRUE(ReadValue(c.bytes));
        EXPECT_EQ(value.type, c.type);
        EXPECT_EQ(stream->Tell(), c.consumed);
    }
}

// A crafted file must never exhaust the stack: 64 levels of values at most.
TEST_F(ScriptDataValueTest, NestingIsBoundedAt64Levels) {
    // A strict array nested `levels` deep around a Number: levels + 1 values deep.
    const auto nested = [](unsigned levels) {
        std::string bytes;
        for (unsigned i = 0; i < levels; ++i) bytes += "\x0A"s + U32(1);
        return bytes + Number(1.0);
    };
    ASSERT_TRUE(ReadValue(nested(63)));
    EXPECT_EQ(stream->Tell(), 63u * 5 + 9);
    EXPECT_FALSE(ReadValue(nested(64)));
    EXPECT_EQ(reader->Error(), ScriptDataError::kTooDeep);

    // A bomb of ECMA arrays, each holding one property that holds the next.
    std::string bomb;
    for (int i = 0; i < 10000; ++i) bomb += "\x08"s + U32(1) + Text("a");
    EXPECT_FALSE(ReadValue(bomb + Number(0)));
    EXPECT_EQ(reader->Error(), ScriptDataError::kTooDeep);
}

// Lengths and counts are claims: the data ends them before anything is allocated for them, and
// the named values of one body are bounded.
TEST_F(ScriptDataValueTest, LengthsAndCountsCannotOutrunTheData) {
    // A long string of 4 GiB - 1 bytes with two bytes of text: marker and length read only.
    ASSERT_FALSE(ReadValue("\x0C\xFF\xFF\xFF\xFF"s + "ab"));
    EXPECT_EQ(reader->Error(), ScriptDataError::kTruncated);
    EXPECT_EQ(stream->Tell(), 5u);
    EXPECT_FALSE(ReadValue("\x02\x00\x05"s + "abcd"));
    // Strict array of 2^32 - 1 elements with one element present.
    EXPECT_FALSE(ReadValue("\x0A\xFF\xFF\xFF\xFF"s + Number(1)));
    EXPECT_EQ(reader->Error(), ScriptDataError::kTruncated);
    // ECMA array of 2^32 - 1 properties: the end marker ends it; without one, the body's end.
    ASSERT_TRUE(ReadValue("\x08\xFF\xFF\xFF\xFF"s + Text("a") + Number(1) + "\x00\x00\x09"s));
    EXPECT_EQ(value.variables.size(), 1u);
    EXPECT_FALSE(ReadValue("\x08\xFF\xFF\xFF\xFF"s + Text("a") + Number(1)));
    // 65,537 one-letter properties of Null: 4 bytes each.
    std::string many = "\x08"s + U32(0xFFFFFFFF);
    for (std::uint64_t i = 0; i <= ScriptDataReader::kMaxVariables; ++i) many += Text("n") + "\x05";
    EXPECT_FALSE(ReadValue(many + "\x00\x00\x09"s));
    EXPECT_EQ(reader->Error(), ScriptDataError::kTooManyValues);
}

// Text whose UTF-8 bytes a 16-bit length field cannot hold is cut at a whole character, and
// GetWriteSize agrees with the bytes written.
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
}  // namespace
