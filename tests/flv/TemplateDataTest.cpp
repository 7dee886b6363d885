#include <gtest/gtest.h>

#include <string>

#include "flv/AudioData.h"
#include "flv/ScriptData.h"
#include "flv/TemplateData.h"
#include "flv/VideoData.h"
#include "mediakit/MediaKit.h"
#include "tests/support/FlvBuilder.h"
#include "tests/support/FlvTestFile.h"

namespace {
std::string Bytes(const char* text, std::size_t size) {
    return std::string(text, size);
}

std::string Written(const COutputStream& out) {
    return std::string(reinterpret_cast<const char*>(out.Data()), out.Position());
}

class TemplateDataTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(MediaKitRegisterClasses(), S_OK); }

    CInputStream& Input(const std::string& bytes) {
        file = std::make_unique<FlvTestFile>(bytes);
        return file->Input();
    }

    std::unique_ptr<FlvTestFile> file;
    CFLV_TemplateData tag;
};

TEST_F(TemplateDataTest, ExtendedTimestampAndBodyDataSize) {
    const std::string bytes = Bytes(
                                  "\x09"           // video
                                  "\x00\x00\x05"   // DataSize 5
                                  "\x00\x01\xF4"   // Timestamp 500
                                  "\x01"           // TimestampExtended 1
                                  "\x00\x00\x00",  // StreamID
                                  11) +
                              FlvBuilder::VideoBody(1, 2, 4) + Bytes("\x00\x00\x00\x10", 4);
    for (bool read : {true, false}) {
        CFLV_TemplateData fresh;
        CInputStream& input = Input(bytes);
        ASSERT_TRUE(read ? fresh.Read(input) : fresh.Scan(input));
        EXPECT_EQ(fresh.GetTagType(), 9u);
        EXPECT_EQ(fresh.TagDataSize(), 5u);
        EXPECT_EQ(fresh.Timestamp(), 0x010001F4u);  // 16,777,716 ms
        ASSERT_NE(fresh.VideoBody(), nullptr);
        EXPECT_EQ(fresh.VideoBody()->DataSize, 5u);
        EXPECT_EQ(fresh.VideoBody()->PayloadSize(), 4u);
        EXPECT_EQ(input.Tell(), 16u);  // at the PreviousTagSize
    }
}

TEST_F(TemplateDataTest, EmptyBodiesFailReadButReachTheBodyOnScan) {
    const std::string script = Bytes(
        "\x12\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
        "\x00\x00\x00\x0B",
        15);
    EXPECT_FALSE(tag.Read(Input(script)));
    // The script body takes an empty body as holding nothing.
    ASSERT_TRUE(tag.Scan(Input(script)));
    ASSERT_NE(tag.ScriptBody(), nullptr);
    EXPECT_TRUE(tag.ScriptBody()->Properties().empty());
    // An empty audio body fails on both.
    const std::string audio = Bytes(
        "\x08\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
        "\x00\x00\x00\x0B",
        15);
    EXPECT_FALSE(tag.Read(Input(audio)));
    EXPECT_FALSE(tag.Scan(Input(audio)));
}

TEST_F(TemplateDataTest, UnknownTagTypesAreSkippedByReadAndRefusedByScan) {
    FlvBuilder flv;
    flv.Video(0, 1, 2, 3);
    const std::size_t unknown = flv.Tag(15, 40, FlvBuilder::Payload(20));
    CInputStream& input = Input(flv.Bytes());
    ASSERT_TRUE(tag.Read(file->InputAt(13)));
    CFlashObject* body = tag.GetBody();
    ASSERT_TRUE(input.SeekTo(unknown));
    ASSERT_TRUE(tag.Read(input));
    EXPECT_EQ(tag.GetTagType(), 15u);
    EXPECT_EQ(tag.GetBody(), body);  // the body of the last known tag stays
    EXPECT_EQ(input.Tell(), unknown + 11 + 20);

    ASSERT_TRUE(input.SeekTo(unknown));
    EXPECT_FALSE(tag.Scan(input));
}

TEST_F(TemplateDataTest, DataSizePastTheEndOfTheFileFailsWithoutReadingTheBody) {
    FlvBuilder flv;
    flv.TagClaiming(9, 0, 5000, FlvBuilder::VideoBody(1, 2, 10));
    Input(flv.Bytes());
    for (bool read : {true, false}) {
        CInputStream& input = file->InputAt(13);
        CFLV_TemplateData fresh;
        EXPECT_FALSE(read ? fresh.Read(input) : fresh.Scan(input));
        EXPECT_EQ(input.Tell(), 13u + 11);
        ASSERT_NE(fresh.VideoBody(), nullptr);
        EXPECT_EQ(fresh.VideoBody()->PayloadSize(), 0u);
    }
}

TEST_F(TemplateDataTest, WriteEmitsTheHeaderAndTheBody) {
    auto script = std::make_unique<CFLV_ScriptData>();
    script->SetObjectName(L"onMetaData");
    CFLV_ScriptData* body = script.get();
    tag.SetBody(std::move(script), 0);
    EXPECT_EQ(tag.GetTagType(), 18u);
    COutputStream out;
    tag.Write(out);
    const std::uint32_t size = body->GetDataSize();
    COutputStream bodyOnly;
    body->Write(bodyOnly);
    EXPECT_EQ(Written(out), Bytes("\x12", 1) + FlvBuilder::BigEndian(size, 3) +
                                Bytes("\x00\x00\x00"   // time
                                      "\x00"           // extended time
                                      "\x00\x00\x00",  // stream id
                                      7) +
                                Written(bodyOnly));
    EXPECT_EQ(tag.GetDataSize(), size);
    EXPECT_EQ(tag.TagDataSize(), size);
}

TEST_F(TemplateDataTest, WriteSplitsTheTimeIntoItsTwoFields) {
    auto audio = std::make_unique<CFLV_AudioData>();
    audio->SetSoundFields(2, 3, 1, 0);
    tag.SetBody(std::move(audio), 18);
    tag.SetTimestamp(0x12345678);
    COutputStream out;
    tag.Write(out);
    EXPECT_EQ(Written(out), Bytes("\x08"          // audio, from the body's name
                                  "\x00\x00\x01"  // DataSize: the header byte
                                  "\x34\x56\x78"  // time bits 0-23
                                  "\x12"          // time bits 24-31
                                  "\x00\x00\x00"  // stream id
                                  "\x2E",         // the body
                                  12));
}

TEST_F(TemplateDataTest, SetBodyTellsKindsApartByNameIgnoringCase) {
    tag.SetBody(std::make_unique<CFLV_VideoData>(), 18);
    EXPECT_EQ(tag.GetTagType(), 9u);
    tag.SetBody(nullptr, 42);
    EXPECT_EQ(tag.GetTagType(), 42u);
    EXPECT_EQ(tag.GetBody(), nullptr);
}

TEST_F(TemplateDataTest, CloneHasABodyOfItsOwn) {
    FlvBuilder flv;
    flv.AvcSequenceHeader(7);
    Input(flv.Bytes());
    ASSERT_TRUE(tag.Read(file->InputAt(13)));
    auto copy = std::unique_ptr<CFlashObject>(tag.Clone());
    auto* clone = dynamic_cast<CFLV_TemplateData*>(copy.get());
    ASSERT_NE(clone, nullptr);
    EXPECT_NE(clone->GetBody(), tag.GetBody());
    COutputStream before;
    tag.Write(before);
    tag.SetBody(nullptr, 0);  // the original body is gone
    COutputStream after;
    clone->Write(after);
    EXPECT_EQ(Written(after), Written(before));
    EXPECT_EQ(clone->Timestamp(), 7u);
    EXPECT_EQ(clone->VideoBody()->ExtraData().Length(), FlvBuilder::AvcRecord().size());
    EXPECT_STREQ(clone->GetName(), L"Template Data");
}
}  // namespace
