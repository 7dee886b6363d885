// The metadata rules: script properties applied to stream facts, and the "onMetaData" tag
// written from them.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <utility>

#include "flv/Metadata.h"
#include "flv/TemplateData.h"
#include "tests/flv/ScriptTestSupport.h"
#include "tests/support/FlvTestFile.h"

using namespace std::string_literals;
using namespace script_test;

namespace {
// Each row applies one property to fresh facts (width 320, frame rate 25, video codec 1) and
// checks one field: values that are no usable number must never reach a field (a double that
// does not fit a 32-bit integer is undefined behaviour to convert).
TEST(ApplyMetadataTest, OnePropertyAtATime) {
    struct {
        const wchar_t* name;
        VARIANT value;
        std::int32_t StreamFacts::*field;  // null: the row checks the frame rate only
        std::int32_t expected;
    } cases[] = {
        {L"width", R8(719.9), &StreamFacts::width, 719},  // truncated toward zero
        {L"height", R8(0), &StreamFacts::height, 240},    // must be positive
        // codec ids from text, ignoring case
        {L"videocodecid", TextValue(L"AVC1"), &StreamFacts::videoCodec, 7},
        // numbers that are no 32-bit integer leave the field alone
        {L"width", R8(2147483648.0), &StreamFacts::width, 320},
        // the frame rate must be positive and finite
        {L"framerate", R8(std::nan("")), nullptr, 0},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.name) + " " + testing::PrintToString(c.expected));
        CFLV_ScriptData body;
        EXPECT_EQ(body.AddProperty(c.name, c.value), S_OK);
        VariantClear(&c.value);
        StreamFacts facts;
        ApplyMetadata(body, facts);
        EXPECT_EQ(c.field != nullptr ? facts.*c.field : 0, c.expected);
        EXPECT_EQ(facts.frameRate, 25.0);
    }
}

// WriteMetaData, then the tag read back through the tag wrapper and the metadata rules: the
// same values. "duration" is frames / frame rate; a frame rate of 0 or less, or not finite,
// never makes it infinite or NaN (30 fps stand in).
TEST(WriteMetaDataTest, RoundTrip) {
    const std::pair<std::int32_t StreamFacts::*, std::int32_t> fields[] = {
        {&StreamFacts::width, 1920},         {&StreamFacts::height, 1080},
        {&StreamFacts::videoDataRate, 4500}, {&StreamFacts::videoCodec, 7},
        {&StreamFacts::audioDataRate, 128},  {&StreamFacts::soundFormat, 10}};
    StreamFacts facts;
    for (const auto& [field, value] : fields) facts.*field = value;
    facts.videoFrameCount = 300;
    for (double rate : {25.0, std::numeric_limits<double>::quiet_NaN()}) {
        SCOPED_TRACE(rate);
        facts.frameRate = rate;
        COutputStream out;
        out.Append("abc", 3);  // bytes already in the stream
        ASSERT_TRUE(WriteMetaData(out, facts));
        const std::string written = Written(out);
        FlvTestFile file(written);
        CFLV_TemplateData tag;
        ASSERT_TRUE(tag.Read(file.InputAt(3)));
        ASSERT_NE(tag.ScriptBody(), nullptr);
        const std::uint32_t tagSize = 11 + tag.TagDataSize();
        ASSERT_EQ(written.size(), 3 + tagSize + 4);
        EXPECT_EQ(written.substr(3 + tagSize), U32(tagSize));  // PreviousTagSize
        EXPECT_EQ(tag.ScriptBody()->ObjectName(), L"onMetaData");
        const ScriptProperty& duration = tag.ScriptBody()->Properties().at(0);
        EXPECT_EQ(duration.name, L"duration");
        EXPECT_EQ(duration.value.dblVal, rate == 25.0 ? 12.0 : 10.0);

        StreamFacts back;
        ApplyMetadata(*tag.ScriptBody(), back);
        for (const auto& [field, value] : fields) EXPECT_EQ(back.*field, value);
        EXPECT_EQ(back.frameRate, rate > 0 && std::isfinite(rate) ? rate : 25.0);
    }
}
}  // namespace
