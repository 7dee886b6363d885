// AMF0 script data: what each value's marker consumes, the limits that keep a crafted value
// cheap, reading script tag bodies into a flat property list, and writing property lists back.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "flv/ScriptData.h"
#include "flv/ScriptDataReader.h"
#include "flv/ScriptDataValue.h"
#include "tests/flv/ScriptTestSupport.h"
#include "tests/support/FlvTestFile.h"

using namespace std::string_literals;
using namespace script_test;

namespace {
// The 13-byte start of every "onMetaData" body: String marker, length 10, the name.
const std::string kOnMetaData = "\x02\x00\x0A"s + "onMetaData";
const std::string kEnd = "\x00\x00\x09"s;

// "onMetaData" with an ECMA array of `count` and the bytes that follow it.
std::string Array(std::uint32_t count, const std::string& rest) {
    return kOnMetaData + "\x08"s + U32(count) + rest;
}

class ScriptDataTest : public ::testing::Test {
  protected:
    // An input stream on a file holding `bytes`, cursor at its start.
    CInputStream& Input(const std::string& bytes) {
        file = std::make_unique<FlvTestFile>(bytes);
        return file->Input();
    }

    std::unique_ptr<FlvTestFile> file;
};

// Where an ECMA array ends, and what its count counts. Each body is followed in the file by an
// end marker that a reader running past the body would take.
TEST_F(ScriptDataTest, EcmaArrayLayouts) {
    const std::string duration = Text("duration") + Number(10);
    const struct {
        std::string body;
        std::vector<std::wstring> names;
    } cases[] = {
        // the end marker ends the array before its count
        {Array(5, duration + kEnd), {L"duration"}},
        // a count of 0, as many writers leave it: read on to the end marker, or the body's end
        {Array(0, duration), {L"duration"}},
        // the count ends an array without end marker
        {Array(2, Text("w") + Number(640) + Text("h") + Number(480)), {L"w", L"h"}},
        // strict arrays do not use up the count
        {Array(1, Text("s") + "\x0A"s + U32(0) + Text("n") + Number(3) + Text("late") + Number(4)),
         {L"s", L"n"}},
        // the seek table: an Object holding two strict arrays, listed flat
        {Array(2, Text("keyframes") + "\x03"s +                                   //
                      Text("times") + "\x0A"s + U32(2) + Number(0) + Number(2) +  //
                      Text("filepositions") + "\x0A"s + U32(2) + Number(13) + Number(900) + kEnd +
                      duration + kEnd),
         {L"keyframes", L"times", L"filepositions", L"duration"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.body));
        CFLV_ScriptData body;
        body.DataSize = static_cast<std::uint32_t>(c.body.size());
        ASSERT_TRUE(body.Read(Input(c.body + kEnd)));
        std::vector<std::wstring> names;
        for (const ScriptProperty& property : body.Properties()) names.push_back(property.name);
        EXPECT_EQ(names, c.names);
        EXPECT_EQ(file->Input().Tell(), c.body.size());
    }
}

// Numbers (VT_I4 too) and Booleans are written. Names that are not ASCII: the length field counts
// the encoded bytes, and GetDataSize agrees with the bytes written.
TEST_F(ScriptDataTest, WritesTheDocumentedBytes) {
    CFLV_ScriptData body;
    body.SetObjectName(L"onMetaData");
    ASSERT_EQ(body.AddProperty(L"width", I4(-640)), S_OK);
    ASSERT_EQ(body.AddProperty(L"\u65E5\u672C\u8A9E",
                               MakeVariant(VT_BOOL, &VARIANT::boolVal, VARIANT_BOOL{VARIANT_TRUE})),
              S_OK);

    COutputStream out;
    body.Write(out);
    EXPECT_EQ(Written(out),
              Array(2, Text("width") + Number(-640) +                         //
                           "\x00\x09\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"s +  // 9 bytes
                           "\x01\x01"s));                                     // Boolean 1
    EXPECT_EQ(body.GetDataSize(), out.Position());
}
class ScriptDataValueTest : public ScriptDataTest {
  protected:
    // Reads one value from `bytes` (all of them form the body).
    bool ReadValue(const std::string& bytes) {
        reader = std::make_unique<ScriptDataReader>(Input(bytes), bytes.size());
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
        {"\x0C"s + U32(70000) + std::string(70000, 'q'), kScriptLongString, 70005},  // > 64 KiB
        {"\x07\x00\x01"s, kScriptReference, 1},  // no reference index is read
        {"\x0B"s + Number(0).substr(1) + "\x00\x3C"s, kScriptDate, 11},  // date skipped whole
        {"\x0D\x00\x00"s, 13, 1},  // unknown marker keeps its type
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        ASSERT_TRUE(ReadValue(c.bytes));
        EXPECT_EQ(value.type, c.type);
        EXPECT_EQ(file->Input().Tell(), c.consumed);
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
    EXPECT_EQ(file->Input().Tell(), 63u * 5 + 9);
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
    EXPECT_EQ(file->Input().Tell(), 5u);
    // Strict array of 2^32 - 1 elements with one element present.
    EXPECT_FALSE(ReadValue("\x0A\xFF\xFF\xFF\xFF"s + Number(1)));
    EXPECT_EQ(reader->Error(), ScriptDataError::kTruncated);
    // ECMA array of 2^32 - 1 properties: the end marker ends it.
    ASSERT_TRUE(ReadValue("\x08\xFF\xFF\xFF\xFF"s + Text("a") + Number(1) + "\x00\x00\x09"s));
    EXPECT_EQ(value.variables.size(), 1u);
    // 65,537 one-letter properties of Null: 4 bytes each.
    std::string many = "\x08"s + U32(0xFFFFFFFF);
    for (std::uint64_t i = 0; i <= ScriptDataReader::kMaxVariables; ++i) many += Text("n") + "\x05";
    EXPECT_FALSE(ReadValue(many + "\x00\x00\x09"s));
    EXPECT_EQ(reader->Error(), ScriptDataError::kTooManyValues);
}

}  // namespace
