// CFLV_ScriptData: reading script tag bodies into a flat property list, writing property lists
// back, and the invariants between the two.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flv/ScriptData.h"
#include "tests/flv/ScriptTestSupport.h"

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

class ScriptDataTest : public ScriptBytesTest {};

// Where an ECMA array ends, and what its count counts. Each body is followed in the file by an
// end marker that a reader running past the body would take.
TEST_F(ScriptDataTest, EcmaArrayLayouts) {
    const std::string duration = Text("duration") + Number(10);
    const struct {
        std::string body;
        std::vector<std::wstring> names;
    } cases[] = {
        {Array(1, duration + kEnd), {L"duration"}},
        // the end marker ends the array before its count
        {Array(5, duration + kEnd), {L"duration"}},
        // a count of 0, as many writers leave it: read on to the end marker, or the body's end
        {Array(0, duration + kEnd), {L"duration"}},
        {Array(0, duration), {L"duration"}},
        // the count ends an array without end marker
        {Array(2, Text("w") + Number(640) + Text("h") + Number(480)), {L"w", L"h"}},
        // strict arrays do not use up the count
        {Array(1, Text("s") + "\x0A"s + U32(0) + Text("n") + Number(3) + Text("late") + Number(4)),
         {L"s", L"n"}},
        // a Reference takes only its marker
        {Array(2, Text("r") + "\x07"s + Text("w") + Number(7) + kEnd), {L"r", L"w"}},
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
        ASSERT_TRUE(ReadBody(body, c.body + kEnd, static_cast<std::uint32_t>(c.body.size())));
        EXPECT_EQ(body.ObjectName(), L"onMetaData");
        std::vector<std::wstring> names;
        for (const ScriptProperty& property : body.Properties()) names.push_back(property.name);
        EXPECT_EQ(names, c.names);
        EXPECT_EQ(stream->Tell(), c.body.size());
    }
}

// Numbers, Booleans and strings become variants; anything else (a Date here) is empty.
TEST_F(ScriptDataTest, ValuesBecomeVariantsByType) {
    const std::string bytes =
        Array(4, Text("n") + Number(1.5) + Text("t") + "\x01\x02"s + Text("s") + "\x02\x00\x04"s +
                     "avc1" + Text("d") + "\x0B"s + Double(0) + "\x00\x00"s + kEnd);
    CFLV_ScriptData body;
    ASSERT_TRUE(ReadBody(body, bytes, static_cast<std::uint32_t>(bytes.size())));
    const std::vector<ScriptProperty>& list = body.Properties();
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0].value.vt, VT_R8);
    EXPECT_EQ(list[0].value.dblVal, 1.5);
    EXPECT_EQ(list[1].value.vt, VT_BOOL);
    EXPECT_EQ(list[1].value.boolVal, VARIANT_TRUE);
    ASSERT_EQ(list[2].value.vt, VT_BSTR);
    EXPECT_EQ(std::wstring(list[2].value.bstrVal, SysStringLen(list[2].value.bstrVal)), L"avc1");
    EXPECT_EQ(list[3].value.vt, VT_EMPTY);
}

TEST_F(ScriptDataTest, TruncatedBodiesFailCleanlyAtEveryLength) {
    const std::string full = Array(3, Text("s") + "\x02\x00\x03"s + "abc" +                  //
                                          Text("t") + "\x0A"s + U32(1) + Number(5) + kEnd +  //
                                          Text("b") + "\x01\x01"s + Text("n") + Number(2) + kEnd);
    for (std::size_t length = 1; length < full.size(); ++length) {
        SCOPED_TRACE(length);
        const std::string prefix = full.substr(0, length);
        // The body is cut (DataSize = length), and the file goes on with bytes that parse.
        CFLV_ScriptData cut;
        const bool read = ReadBody(cut, prefix + full, static_cast<std::uint32_t>(length));
        EXPECT_LE(stream->Tell(), length);
        EXPECT_TRUE(!read || stream->Tell() == length);
        // The file itself ends early while DataSize claims the whole body.
        CFLV_ScriptData shortFile;
        const bool shortRead = ReadBody(shortFile, prefix, static_cast<std::uint32_t>(full.size()));
        EXPECT_TRUE(length >= full.size() - 3 || !shortRead);
        EXPECT_LE(stream->Tell(), length);
    }
    // Only the missing end marker is forgiven (the strict array "t" does not count).
    CFLV_ScriptData body;
    EXPECT_TRUE(ReadBody(body, full, static_cast<std::uint32_t>(full.size() - 3)));
    EXPECT_EQ(body.Properties().size(), 4u);
}

// Numbers (VT_I4 too) and Booleans (1 only for VARIANT_TRUE) are written; anything else becomes
// an unnamed Undefined. Names that are not ASCII: the length field counts the encoded bytes, and
// GetDataSize agrees with the bytes written.
TEST_F(ScriptDataTest, WritesTheDocumentedBytes) {
    CFLV_ScriptData body;
    body.SetObjectName(L"onMetaData");
    ASSERT_EQ(body.AddProperty(L"duration", R8(12.5)), S_OK);
    ASSERT_EQ(body.AddProperty(L"width", I4(-640)), S_OK);
    ASSERT_EQ(body.AddProperty(L"\u65E5\u672C\u8A9E", Bool(VARIANT_TRUE)), S_OK);
    ASSERT_EQ(body.AddProperty(L"odd", Bool(1)), S_OK);
    VARIANT text = TextValue(L"dropped");
    ASSERT_EQ(body.AddProperty(L"creator", text), S_OK);
    VariantClear(&text);

    COutputStream out;
    body.Write(out);
    EXPECT_EQ(Written(out),
              Array(5, Text("duration") + Number(12.5) +                      // no end marker
                           Text("width") + Number(-640) +                     //
                           "\x00\x09\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"s +  // 9 bytes
                           "\x01\x01"s +                                      // Boolean 1
                           Text("odd") + "\x01\x00"s +                        // Boolean 0
                           "\x00\x00\x06"s));                                 // Undefined
    EXPECT_EQ(body.GetDataSize(), out.Position());
}
}  // namespace
