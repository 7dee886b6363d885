// The metadata rules: script properties applied to stream facts, and the "onMetaData" tag
// written from them.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "flv/Metadata.h"
#include "io/FieldWriters.h"
#include "tests/flv/ScriptTestSupport.h"
#include "tests/support/FfmpegTools.h"

using namespace std::string_literals;
using namespace script_test;

namespace {
// Applies one property to `facts`.
void Apply(StreamFacts& facts, const wchar_t* name, const VARIANT& value) {
    CFLV_ScriptData body;
    ASSERT_EQ(body.AddProperty(name, value), S_OK);
    ApplyMetadata(body, facts);
}

void ApplyText(StreamFacts& facts, const wchar_t* name, const wchar_t* text) {
    VARIANT value;
    value.vt = VT_BSTR;
    value.bstrVal = SysAllocString(text);
    Apply(facts, name, value);
    VariantClear(&value);
}

TEST(ApplyMetadataTest, PositivityTestsGuardWidthHeightAndFrameRate) {
    StreamFacts facts;
    Apply(facts, L"width", R8(640));
    Apply(facts, L"height", R8(0));
    EXPECT_EQ(facts.width, 640);
    EXPECT_EQ(facts.height, 240);
    Apply(facts, L"height", R8(-5));
    EXPECT_EQ(facts.height, 240);

    Apply(facts, L"framerate", R8(29.97));
    EXPECT_EQ(facts.frameRate, 29.97);
    Apply(facts, L"framerate", R8(0));
    EXPECT_EQ(facts.frameRate, 29.97);
    facts = StreamFacts();
    Apply(facts, L"framerate", R8(0));
    EXPECT_EQ(facts.frameRate, 25.0);
}

TEST(ApplyMetadataTest, NumbersAreTruncatedTowardZero) {
    StreamFacts facts;
    Apply(facts, L"width", R8(719.9));
    Apply(facts, L"videodatarate", R8(-97.7));  // no positivity test for data rates
    Apply(facts, L"audiodatarate", R8(127.99));
    Apply(facts, L"audiocodecid", R8(2.5));
    EXPECT_EQ(facts.width, 719);
    EXPECT_EQ(facts.videoDataRate, -97);
    EXPECT_EQ(facts.audioDataRate, 127);
    EXPECT_EQ(facts.soundFormat, 2);
}

TEST(ApplyMetadataTest, CodecIdsFromTextOrNumbers) {
    StreamFacts facts;
    ApplyText(facts, L"videocodecid", L"AVC1");
    EXPECT_EQ(facts.videoCodec, 7);
    ApplyText(facts, L"videocodecid", L"vp6f");
    EXPECT_EQ(facts.videoCodec, 2);
    Apply(facts, L"videocodecid", R8(4));
    EXPECT_EQ(facts.videoCodec, 4);
    ApplyText(facts, L"videocodecid", L"avc1 ");  // whole string compared
    EXPECT_EQ(facts.videoCodec, 2);

    ApplyText(facts, L"audiocodecid", L"Mp4A");
    EXPECT_EQ(facts.soundFormat, 10);
    ApplyText(facts, L"audiocodecid", L".mp3");
    EXPECT_EQ(facts.soundFormat, 2);
}

TEST(ApplyMetadataTest, NamesAreExactAndOthersPassedOver) {
    StreamFacts facts;
    Apply(facts, L"Width", R8(100));
    Apply(facts, L"widths", R8(100));
    Apply(facts, L"duration", R8(100));
    ApplyText(facts, L"width", L"800");  // a string is not a number
    EXPECT_EQ(facts.width, 320);
}

TEST(ApplyMetadataTest, NonNumbersAndUnrepresentableNumbersLeaveFieldsAlone) {
    StreamFacts facts;
    facts.videoCodec = 2;
    VARIANT boolean;
    boolean.vt = VT_BOOL;
    boolean.boolVal = VARIANT_TRUE;
    VARIANT empty;
    empty.vt = VT_EMPTY;
    Apply(facts, L"videocodecid", boolean);
    Apply(facts, L"videocodecid", empty);
    Apply(facts, L"framerate", boolean);
    Apply(facts, L"videodatarate", empty);
    EXPECT_EQ(facts.videoCodec, 2);
    EXPECT_EQ(facts.frameRate, 25.0);

    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    Apply(facts, L"width", R8(nan));
    Apply(facts, L"width", R8(infinity));
    Apply(facts, L"width", R8(2147483648.0));
    Apply(facts, L"videodatarate", R8(-2147483649.0));
    Apply(facts, L"framerate", R8(nan));
    Apply(facts, L"framerate", R8(infinity));
    EXPECT_EQ(facts.width, 320);
    EXPECT_EQ(facts.videoDataRate, 0);
    EXPECT_EQ(facts.frameRate, 25.0);

    Apply(facts, L"width", R8(2147483647.9));  // truncates into range
    Apply(facts, L"videodatarate", R8(-2147483648.5));
    EXPECT_EQ(facts.width, 2147483647);
    EXPECT_EQ(facts.videoDataRate, std::numeric_limits<std::int32_t>::min());

    VARIANT integer;
    integer.vt = VT_I4;
    integer.lVal = 1280;
    Apply(facts, L"width", integer);
    EXPECT_EQ(facts.width, 1280);
}

TEST(ApplyMetadataTest, LaterValuesWinWhateverTheBodysName) {
    CFLV_ScriptData first;
    first.SetObjectName(L"onMetaData");
    ASSERT_EQ(first.AddProperty(L"width", R8(100)), S_OK);
    ASSERT_EQ(first.AddProperty(L"width", R8(200)), S_OK);
    CFLV_ScriptData second;
    second.SetObjectName(L"onCuePoint");
    ASSERT_EQ(second.AddProperty(L"width", R8(300)), S_OK);
    StreamFacts facts;
    ApplyMetadata(first, facts);
    EXPECT_EQ(facts.width, 200);
    ApplyMetadata(second, facts);
    EXPECT_EQ(facts.width, 300);
}

class WriteMetaDataTest : public ScriptBytesTest {
  protected:
    // Writes the tag for `facts` after `prefix` bytes, reads it back through the tag layout and
    // returns the body; `tagBytes` receives the tag without its PreviousTagSize.
    CFLV_ScriptData WriteAndReadBack(const StreamFacts& facts, std::string& tagBytes) {
        COutputStream out;
        WriteValue(out, 0xABCDEFu, FieldType::UI24);  // bytes already in the stream
        EXPECT_TRUE(WriteMetaData(out, facts));
        const std::string all = Written(out);
        const std::string tag = all.substr(3);
        EXPECT_GE(tag.size(), 15u);
        const std::uint32_t dataSize = (std::uint32_t{static_cast<unsigned char>(tag[1])} << 16) |
                                       (std::uint32_t{static_cast<unsigned char>(tag[2])} << 8) |
                                       static_cast<unsigned char>(tag[3]);
        EXPECT_EQ(tag.size(), 11u + dataSize + 4);
        tagBytes = tag.substr(0, tag.size() - 4);
        // PreviousTagSize: the tag's total size.
        EXPECT_EQ(tag.substr(tag.size() - 4), U32(static_cast<std::uint32_t>(tagBytes.size())));

        CFLV_ScriptData body;
        EXPECT_TRUE(ReadBody(body, all, dataSize, 3 + 11));
        EXPECT_EQ(stream->Tell(), 3u + 11 + dataSize);
        return body;
    }
};

TEST_F(WriteMetaDataTest, TagHeaderAndPropertyOrder) {
    StreamFacts facts;
    facts.videoFrameCount = 300;
    facts.frameRate = 30.0;
    std::string tag;
    const CFLV_ScriptData body = WriteAndReadBack(facts, tag);
    EXPECT_EQ(tag.substr(0, 1), "\x12"s);               // TagType 18
    EXPECT_EQ(tag.substr(4, 7), std::string(7, '\0'));  // time, extended, stream id
    EXPECT_EQ(body.ObjectName(), L"onMetaData");

    const wchar_t* const names[] = {
        L"duration",     L"width",         L"height",     L"videodatarate", L"framerate",
        L"videocodecid", L"audiodatarate", L"audiodelay", L"audiocodecid",  L"canSeekToEnd"};
    const std::vector<ScriptProperty>& list = body.Properties();
    ASSERT_EQ(list.size(), std::size(names));
    for (std::size_t i = 0; i < list.size(); ++i) EXPECT_EQ(list[i].name, names[i]);
    EXPECT_EQ(list[0].value.dblVal, 10.0);
    EXPECT_EQ(list[7].value.dblVal, 0.038);
    EXPECT_EQ(list[9].value.vt, VT_BOOL);
    EXPECT_EQ(list[9].value.boolVal, VARIANT_TRUE);
}

TEST_F(WriteMetaDataTest, ReadingTheWrittenTagGivesTheSameFacts) {
    StreamFacts facts;
    facts.width = 1920;
    facts.height = 1080;
    facts.videoDataRate = 4500;
    facts.frameRate = 23.976;
    facts.videoCodec = 7;
    facts.audioDataRate = 128;
    facts.soundFormat = 10;
    std::string tag;
    const CFLV_ScriptData body = WriteAndReadBack(facts, tag);
    StreamFacts back;
    ApplyMetadata(body, back);
    EXPECT_EQ(back.width, 1920);
    EXPECT_EQ(back.height, 1080);
    EXPECT_EQ(back.videoDataRate, 4500);
    EXPECT_EQ(back.frameRate, 23.976);
    EXPECT_EQ(back.videoCodec, 7);
    EXPECT_EQ(back.audioDataRate, 128);
    EXPECT_EQ(back.soundFormat, 10);
}

TEST_F(WriteMetaDataTest, DurationIsAlwaysFinite) {
    StreamFacts facts;  // no frames
    std::string tag;
    EXPECT_EQ(WriteAndReadBack(facts, tag).Properties()[0].value.dblVal, 0.0);

    facts.videoFrameCount = 300;
    for (double rate : {0.0, -1.0, std::numeric_limits<double>::quiet_NaN(), 5e-324}) {
        SCOPED_TRACE(rate);
        facts.frameRate = rate;
        EXPECT_EQ(WriteAndReadBack(facts, tag).Properties()[0].value.dblVal, 10.0);
    }
}

// ffmpeg writes "onMetaData" into every FLV file; our reading of it agrees with what ffmpeg
// put in.
TEST(MetadataPeerTest, FfmpegMetadataIsRead) {
    const auto file =
        GeneratedSample("metadata_flv1_176x144_15fps.flv",
                        "-f lavfi -i testsrc2=size=176x144:rate=15 -t 1 -c:v flv1 -b:v 200k");
    if (!file) GTEST_SKIP() << "ffmpeg could not generate the sample";
    CInputStream input;
    input.Open(file->wstring());
    CFLV_ScriptData body;
    ReadFirstScriptTag(input, body);
    ASSERT_FALSE(HasFatalFailure());
    StreamFacts facts;
    ApplyMetadata(body, facts);
    EXPECT_EQ(facts.width, 176);
    EXPECT_EQ(facts.height, 144);
    EXPECT_EQ(facts.frameRate, 15.0);
    EXPECT_EQ(facts.videoCodec, 2);  // Sorenson H.263
    EXPECT_GT(facts.videoDataRate, 0);
}

}  // namespace
