// CFLV_ScriptData: reading script tag bodies into a flat property list, writing property lists
// back, and the invariants between the two.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flv/ScriptData.h"
#include "tests/flv/ScriptTestSupport.h"
#include "tests/support/FfmpegTools.h"

using namespace std::string_literals;
using namespace script_test;

namespace {
// The 13-byte start of every "onMetaData" body: String marker, length 10, the name.
const std::string kOnMetaData =
    "\x02\x00\x0A"s
    "onMetaData";

// The body of a tag whose only property is "duration" = 10.0, 40 bytes.
const std::string kDurationBody = kOnMetaData + "\x08\x00\x00\x00\x01"s +  // ECMA array, count 1
                                  "\x00\x08"s
                                  "duration" +                               // name
                                  "\x00\x40\x24\x00\x00\x00\x00\x00\x00"s +  // Number 10.0
                                  "\x00\x00\x09"s;                           // end marker

class ScriptDataTest : public ScriptBytesTest {
  protected:
    // Writes `body`, checks that GetDataSize agrees with the bytes written, and reads them
    // back into a new body.
    CFLV_ScriptData RoundTrip(CFLV_ScriptData& body) {
        COutputStream out;
        body.Write(out);
        EXPECT_EQ(body.GetDataSize(), out.Position());
        CFLV_ScriptData back;
        EXPECT_TRUE(ReadBody(back, Written(out), body.GetDataSize()));
        EXPECT_EQ(stream->Tell(), out.Position());
        return back;
    }
};

TEST_F(ScriptDataTest, ReadsTheDurationBody) {
    ASSERT_EQ(kDurationBody.size(), 40u);
    CFLV_ScriptData body;
    EXPECT_FALSE(body.HasObjectName());
    // Behind an 11-byte tag header, followed by a PreviousTagSize.
    ASSERT_TRUE(ReadBody(body, std::string(11, 'h') + kDurationBody + "\x00\x00\x00\x33"s, 40, 11));
    EXPECT_EQ(body.ObjectName(), L"onMetaData");
    ASSERT_EQ(body.Properties().size(), 1u);
    EXPECT_EQ(body.Properties()[0].name, L"duration");
    EXPECT_EQ(body.Properties()[0].value.vt, VT_R8);
    EXPECT_EQ(body.Properties()[0].value.dblVal, 10.0);
    EXPECT_EQ(stream->Tell(), 11u + 40);
    EXPECT_STREQ(body.GetName(), L"Script Data");
}

TEST_F(ScriptDataTest, EndMarkerEndsTheArrayBeforeTheCount) {
    std::string bytes = kDurationBody;
    bytes[17] = '\x05';  // count 5, one property
    CFLV_ScriptData body;
    ASSERT_TRUE(ReadBody(body, bytes, 40));
    EXPECT_EQ(body.Properties().size(), 1u);
    EXPECT_EQ(stream->Tell(), 40u);
}

TEST_F(ScriptDataTest, CountOfZeroReadsOnToTheEndMarkerOrTheBodyEnd) {
    std::string bytes = kDurationBody;
    bytes[17] = '\x00';  // count 0, as many writers leave it
    CFLV_ScriptData body;
    ASSERT_TRUE(ReadBody(body, bytes, 40));
    ASSERT_EQ(body.Properties().size(), 1u);
    EXPECT_EQ(body.Properties()[0].name, L"duration");
    EXPECT_EQ(stream->Tell(), 40u);
    // Without the end marker the body's end ends the array.
    CFLV_ScriptData unmarked;
    ASSERT_TRUE(ReadBody(unmarked, bytes.substr(0, 37), 37));
    EXPECT_EQ(unmarked.Properties().size(), 1u);
}

TEST_F(ScriptDataTest, MissingEndMarkerStillLandsAtTheBodyEnd) {
    const std::string body2 = kOnMetaData + "\x08\x00\x00\x00\x02"s +  // count 2
                              "\x00\x01w"s + Number(640) +             // "w" = 640
                              "\x00\x01h"s + Number(480);              // "h" = 480, no end marker
    CFLV_ScriptData body;
    ASSERT_TRUE(ReadBody(body, body2 + "\x00\x00\x00\x2F"s + "\x09\x00\x00\x05"s,
                         static_cast<std::uint32_t>(body2.size())));
    ASSERT_EQ(body.Properties().size(), 2u);
    EXPECT_EQ(body.Properties()[1].value.dblVal, 480.0);
    EXPECT_EQ(stream->Tell(), body2.size());
}

TEST_F(ScriptDataTest, SeekTableMembersAreListedFlat) {
    const std::string bytes = kOnMetaData + "\x08"s + U32(2) +    // count 2
                              Text("keyframes") + "\x03"s +       // Object
                              Text("times") + "\x0A"s + U32(2) +  // strict array
                              Number(0) + Number(2) +             //
                              Text("filepositions") + "\x0A"s + U32(2) + Number(13) +
                              Number(900) +                   //
                              "\x00\x00\x09"s +               // the object's end
                              Text("duration") + Number(4) +  //
                              "\x00\x00\x09"s;                // the array's end
    CFLV_ScriptData body;
    ASSERT_TRUE(ReadBody(body, bytes, static_cast<std::uint32_t>(bytes.size())));
    const std::vector<ScriptProperty>& list = body.Properties();
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0].name, L"keyframes");
    EXPECT_EQ(list[1].name, L"times");
    EXPECT_EQ(list[2].name, L"filepositions");
    for (int i = 0; i < 3; ++i) EXPECT_EQ(list[i].value.vt, VT_EMPTY);
    EXPECT_EQ(list[3].name, L"duration");
    EXPECT_EQ(list[3].value.dblVal, 4.0);
}

TEST_F(ScriptDataTest, ValuesBecomeVariantsByType) {
    const std::string bytes = kOnMetaData + "\x08"s + U32(8) + Text("n") + Number(1.5) +  // VT_R8
                              Text("t") + "\x01\x02"s +  // VT_BOOL true
                              Text("f") + "\x01\x00"s +  // VT_BOOL false
                              Text("s") +
                              "\x02\x00\x04"
                              "avc1"s +  // VT_BSTR
                              Text("r") +
                              "\x07"s +  // Reference: marker only
                              Text("d") + "\x0B"s + Double(0) + "\x00\x00"s +  // Date
                              Text("l") + "\x0C"s + U32(1) + "L" +             // Long string
                              Text("u") + "\x0E"s +                            // unknown marker
                              "\x00\x00\x09"s;
    CFLV_ScriptData body;
    ASSERT_TRUE(ReadBody(body, bytes, static_cast<std::uint32_t>(bytes.size())));
    const std::vector<ScriptProperty>& list = body.Properties();
    ASSERT_EQ(list.size(), 8u);
    EXPECT_EQ(list[0].value.vt, VT_R8);
    EXPECT_EQ(list[1].value.vt, VT_BOOL);
    EXPECT_EQ(list[1].value.boolVal, VARIANT_TRUE);
    EXPECT_EQ(list[2].value.boolVal, VARIANT_FALSE);
    ASSERT_EQ(list[3].value.vt, VT_BSTR);
    EXPECT_EQ(std::wstring(list[3].value.bstrVal, SysStringLen(list[3].value.bstrVal)), L"avc1");
    for (int i = 4; i < 8; ++i) EXPECT_EQ(list[i].value.vt, VT_EMPTY) << i;
    EXPECT_EQ(list[7].name, L"u");
}

TEST_F(ScriptDataTest, ReferenceTakesOnlyItsMarker) {
    const std::string bytes = kOnMetaData + "\x08"s + U32(2) + Text("r") +
                              "\x07"s +                   // Reference, then two bytes that
                              "\x00\x01w"s + Number(7) +  // start the next property's name
                              "\x00\x00\x09"s;
    CFLV_ScriptData body;
    ASSERT_TRUE(ReadBody(body, bytes, static_cast<std::uint32_t>(bytes.size())));
    ASSERT_EQ(body.Properties().size(), 2u);
    EXPECT_EQ(body.Properties()[1].name, L"w");
    EXPECT_EQ(body.Properties()[1].value.dblVal, 7.0);
}

TEST_F(ScriptDataTest, TopLevelObjectGivesANameAndNoProperties) {
    const std::string bytes = kOnMetaData + "\x03"s +  // Object
                              Text("width") + Number(640) + "\x00\x00\x09"s;
    CFLV_ScriptData body;
    ASSERT_TRUE(body.AddProperty(L"old", R8(1)) == S_OK);
    ASSERT_TRUE(ReadBody(body, bytes + "tail", static_cast<std::uint32_t>(bytes.size())));
    EXPECT_EQ(body.ObjectName(), L"onMetaData");
    EXPECT_TRUE(body.Properties().empty());
    EXPECT_EQ(stream->Tell(), bytes.size());
}

TEST_F(ScriptDataTest, NameMarkerIsNotChecked) {
    std::string bytes = kDurationBody;
    bytes[0] = '\x08';
    CFLV_ScriptData body;
    ASSERT_TRUE(ReadBody(body, bytes, 40));
    EXPECT_EQ(body.ObjectName(), L"onMetaData");
}

TEST_F(ScriptDataTest, BytesAfterTheBodyAreNeverParsed) {
    // Count 3 but two properties and no end marker; what follows the body would make a valid
    // third property. The body's end ends the data: the read fails.
    const std::string body3 =
        kOnMetaData + "\x08"s + U32(3) + Text("a") + Number(1) + Text("b") + Number(2);
    CFLV_ScriptData body;
    ASSERT_TRUE(body.AddProperty(L"kept", I4(1)) == S_OK);
    EXPECT_FALSE(
        ReadBody(body, body3 + Text("c") + Number(3), static_cast<std::uint32_t>(body3.size())));
    EXPECT_EQ(body.LastReadError(), ScriptDataError::kTruncated);
    EXPECT_LE(stream->Tell(), body3.size());
    // A failed read leaves the name and the list as they were.
    EXPECT_FALSE(body.HasObjectName());
    ASSERT_EQ(body.Properties().size(), 1u);
    EXPECT_EQ(body.Properties()[0].name, L"kept");
}

TEST_F(ScriptDataTest, TruncatedBodiesFailCleanlyAtEveryLength) {
    const std::string full = kOnMetaData + "\x08"s + U32(3) + Text("s") +
                             "\x02\x00\x03"
                             "abc"s +
                             Text("t") + "\x0A"s + U32(1) + Number(5) + "\x00\x00\x09"s +
                             Text("b") + "\x01\x01"s + Text("n") + Number(2) + "\x00\x00\x09"s;
    for (std::size_t length = 0; length < full.size(); ++length) {
        SCOPED_TRACE(length);
        const std::string prefix = full.substr(0, length);
        const auto size = static_cast<std::uint32_t>(length);
        // The body is cut (DataSize = length), and the file goes on with bytes that parse.
        CFLV_ScriptData cut;
        const bool read = ReadBody(cut, prefix + full, size);
        EXPECT_LE(stream->Tell(), length);
        if (read) {
            EXPECT_EQ(stream->Tell(), length);
        }
        // The file itself ends early while DataSize claims the whole body.
        CFLV_ScriptData shortFile;
        if (length > 0) {
            const bool shortRead =
                ReadBody(shortFile, prefix, static_cast<std::uint32_t>(full.size()));
            if (length < full.size() - 3) {
                EXPECT_FALSE(shortRead);
            }
            EXPECT_LE(stream->Tell(), length);
        }
    }
    // Only the missing end marker is forgiven (the strict array "t" does not count).
    CFLV_ScriptData body;
    EXPECT_TRUE(ReadBody(body, full, static_cast<std::uint32_t>(full.size() - 3)));
    EXPECT_EQ(body.Properties().size(), 4u);
}

TEST_F(ScriptDataTest, EmptyBodyHoldsNothing) {
    CFLV_ScriptData body;
    ASSERT_TRUE(body.AddProperty(L"old", R8(1)) == S_OK);
    ASSERT_TRUE(ReadBody(body, kDurationBody, 0));
    EXPECT_TRUE(body.Properties().empty());
    EXPECT_FALSE(body.HasObjectName());
    EXPECT_EQ(stream->Tell(), 0u);
}

TEST_F(ScriptDataTest, DepthBombFailsTheBody) {
    std::string bytes = kOnMetaData + "\x08"s + U32(1) + Text("deep");
    for (int i = 0; i < 200; ++i) bytes += "\x0A"s + U32(1);
    bytes += Number(0);
    CFLV_ScriptData body;
    EXPECT_FALSE(ReadBody(body, bytes, static_cast<std::uint32_t>(bytes.size())));
    EXPECT_EQ(body.LastReadError(), ScriptDataError::kTooDeep);
}

TEST_F(ScriptDataTest, WritesTheDocumentedBytes) {
    CFLV_ScriptData body;
    body.SetObjectName(L"onMetaData");
    ASSERT_TRUE(body.AddProperty(L"duration", R8(12.5)) == S_OK);
    ASSERT_TRUE(body.AddProperty(L"canSeekToEnd", Bool(VARIANT_TRUE)) == S_OK);
    VARIANT text;
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(L"dropped");
    ASSERT_TRUE(body.AddProperty(L"creator", text) == S_OK);
    VariantClear(&text);

    COutputStream out;
    body.Write(out);
    EXPECT_EQ(Written(out), kOnMetaData + "\x08\x00\x00\x00\x03"s +  // count 3
                                "\x00\x08"s
                                "duration"
                                "\x00\x40\x29"s +
                                std::string(6, '\0') +
                                "\x00\x0C"s
                                "canSeekToEnd"
                                "\x01\x01"s +      // Boolean 1
                                "\x00\x00\x06"s);  // no name, Undefined
    EXPECT_EQ(out.Position(), 56u);
    EXPECT_EQ(body.GetDataSize(), 56u);
}

TEST_F(ScriptDataTest, WritesAnEmptyList) {
    CFLV_ScriptData body;
    body.SetObjectName(L"onMetaData");
    COutputStream out;
    body.Write(out);
    EXPECT_EQ(Written(out), kOnMetaData + "\x08\x00\x00\x00\x00"s);
    EXPECT_EQ(body.GetDataSize(), 18u);
}

TEST_F(ScriptDataTest, WrittenListsReadBackWithTheSameValues) {
    CFLV_ScriptData body;
    body.SetObjectName(L"m\u00E9ta");  // not ASCII: 5 bytes
    ASSERT_TRUE(body.AddProperty(L"width", I4(-640)) == S_OK);
    ASSERT_TRUE(body.AddProperty(L"framerate", R8(29.97)) == S_OK);
    ASSERT_TRUE(body.AddProperty(L"", Bool(VARIANT_FALSE)) == S_OK);
    ASSERT_TRUE(body.AddProperty(L"\u65E5\u672C\u8A9E", Bool(VARIANT_TRUE)) == S_OK);
    ASSERT_TRUE(body.AddProperty(L"odd", Bool(1)) == S_OK);  // not VARIANT_TRUE: false
    const CFLV_ScriptData back = RoundTrip(body);
    EXPECT_EQ(back.ObjectName(), L"m\u00E9ta");
    const std::vector<ScriptProperty>& list = back.Properties();
    ASSERT_EQ(list.size(), 5u);
    EXPECT_EQ(list[0].value.vt, VT_R8);
    EXPECT_EQ(list[0].value.dblVal, -640.0);
    EXPECT_EQ(list[1].value.dblVal, 29.97);
    EXPECT_EQ(list[2].value.boolVal, VARIANT_FALSE);
    EXPECT_EQ(list[3].name, L"\u65E5\u672C\u8A9E");
    EXPECT_EQ(list[3].value.boolVal, VARIANT_TRUE);
    EXPECT_EQ(list[4].value.boolVal, VARIANT_FALSE);

    CFLV_ScriptData unnamed;  // no name: an empty one is written
    EXPECT_EQ(RoundTrip(unnamed).ObjectName(), L"");
}

TEST_F(ScriptDataTest, AddPropertyRefusesValuesItCannotCopy) {
    CFLV_ScriptData body;
    VARIANT array;
    array.vt = VT_ARRAY | VT_I4;
    EXPECT_EQ(body.AddProperty(L"a", array), DISP_E_BADVARTYPE);
    EXPECT_TRUE(body.Properties().empty());
}

TEST_F(ScriptDataTest, CloneIsIndependent) {
    auto original = std::make_unique<CFLV_ScriptData>();
    original->DataSize = 77;
    original->SetObjectName(L"onMetaData");
    VARIANT text;
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(L"mp4a");
    ASSERT_TRUE(original->AddProperty(L"audiocodecid", text) == S_OK);
    VariantClear(&text);

    std::unique_ptr<CFlashObject> copy = original->Clone();
    auto& clone = dynamic_cast<CFLV_ScriptData&>(*copy);
    EXPECT_EQ(clone.DataSize, 77u);
    EXPECT_NE(clone.Properties()[0].value.bstrVal, original->Properties()[0].value.bstrVal);
    COutputStream first;
    COutputStream second;
    original->Write(first);
    clone.Write(second);
    EXPECT_EQ(Written(first), Written(second));

    original.reset();  // the clone's BSTR must survive the original
    EXPECT_EQ(clone.ObjectName(), L"onMetaData");
    EXPECT_EQ(std::wstring(clone.Properties()[0].value.bstrVal), L"mp4a");
}

TEST(ScriptPropertyTest, CopiesOwnTheirValuesAndMovesLeaveEmpty) {
    VARIANT text;
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(L"abc");
    ScriptProperty original(L"name", text);
    VariantClear(&text);

    ScriptProperty copy(original);
    EXPECT_NE(copy.value.bstrVal, original.value.bstrVal);
    ScriptProperty target(L"other", R8(1));
    target = copy;  // replaces a value
    target = original;
    EXPECT_EQ(std::wstring(target.value.bstrVal), L"abc");

    const BSTR held = original.value.bstrVal;
    ScriptProperty moved(std::move(original));
    EXPECT_EQ(moved.value.bstrVal, held);
    EXPECT_EQ(original.value.vt, VT_EMPTY);  // NOLINT(bugprone-use-after-move)
    copy = std::move(moved);
    EXPECT_EQ(copy.value.bstrVal, held);
    EXPECT_EQ(moved.value.vt, VT_EMPTY);  // NOLINT(bugprone-use-after-move)
}

// A real file whose metadata array has no end marker (and whose keyframes object lacks its
// own): the count of 10 ends the list at "keyframes", and the reader lands at the body's end.
TEST_F(ScriptDataTest, DamagedMetadataOfARealFile) {
    const auto file = SharedTestFile("flv1_damaged_metadata.flv");
    if (!file) GTEST_SKIP() << "flv1_damaged_metadata.flv is not available";
    CInputStream input;
    input.Open(file->wstring());
    CFLV_ScriptData body;
    ReadFirstScriptTag(input, body);
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(body.DataSize, 576u);
    EXPECT_EQ(body.ObjectName(), L"onMetaData");
    const std::vector<ScriptProperty>& list = body.Properties();
    ASSERT_EQ(list.size(), 10u);
    EXPECT_EQ(list[0].name, L"duration");
    EXPECT_EQ(list[0].value.dblVal, 30.0);
    EXPECT_EQ(list[4].name, L"creator");
    EXPECT_EQ(list[4].value.vt, VT_BSTR);
    EXPECT_EQ(list[7].value.vt, VT_BOOL);
    EXPECT_EQ(list[9].name, L"keyframes");
    EXPECT_EQ(list[9].value.vt, VT_EMPTY);
}
}  // namespace
