#include <gtest/gtest.h>

#include <string>

#include "flv/AudioData.h"
#include "flv/TemplateData.h"
#include "flv/VideoData.h"
#include "mediakit/MediaKit.h"
#include "tests/support/FlvBuilder.h"
#include "tests/support/FlvTestFile.h"

using namespace std::string_literals;

namespace {
class TemplateDataTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(MediaKitRegisterClasses(), S_OK); }

    CInputStream& Input(const std::string& bytes, std::uint64_t at = 0) {
        file = std::make_unique<FlvTestFile>(bytes);
        return file->InputAt(at);
    }

    std::unique_ptr<FlvTestFile> file;
    CFLV_TemplateData tag;
};

// The time is 24 bits of Timestamp and 8 of TimestampExtended, on writing and on reading.
TEST_F(TemplateDataTest, ExtendedTimestampsWriteAndReadBack) {
    auto audio = std::make_unique<CFLV_AudioData>();
    audio->SetSoundFields(2, 3, 1, 0);
    tag.SetBody(std::move(audio), 18);
    tag.SetTimestamp(0x12345678);
    COutputStream out;
    tag.Write(out);
    const std::string written(reinterpret_cast<const char*>(out.Data()), out.Position());
    EXPECT_EQ(written,
              "\x08"          // audio, from the body's name
              "\x00\x00\x01"  // DataSize: the header byte
              "\x34\x56\x78"  // time bits 0-23
              "\x12"          // time bits 24-31
              "\x00\x00\x00"  // stream id
              "\x2E"s);       // the body
    // With one payload byte and a PreviousTagSize, the tag reads back.
    std::string bytes = written + "\xAA\x00\x00\x00\x0D"s;
    bytes[3] = '\x02';
    for (bool read : {true, false}) {
        CFLV_TemplateData back;
        CInputStream& input = Input(bytes);
        ASSERT_TRUE(read ? back.Read(input) : back.Scan(input));
        EXPECT_EQ(back.Timestamp(), 0x12345678u);
        ASSERT_NE(back.AudioBody(), nullptr);
        EXPECT_EQ(back.AudioBody()->PayloadSize(), 1u);
        EXPECT_EQ(input.Tell(), 13u);  // at the PreviousTagSize
    }
}

TEST_F(TemplateDataTest, UnknownTagTypesAreSkippedByReadAndRefusedByScan) {
    FlvBuilder flv;
    flv.Video(0, 1, 2, 3);
    const std::size_t unknown = flv.Tag(15, 40, FlvBuilder::Payload(20));
    CInputStream& input = Input(flv.Bytes(), 13);
    ASSERT_TRUE(tag.Read(input));
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
    for (bool read : {true, false}) {
        CInputStream& input = Input(flv.Bytes(), 13);
        EXPECT_FALSE(read ? tag.Read(input) : tag.Scan(input));
        EXPECT_EQ(input.Tell(), 13u + 11);
        ASSERT_NE(tag.VideoBody(), nullptr);
        EXPECT_EQ(tag.VideoBody()->PayloadSize(), 0u);
    }
}
}  // namespace
