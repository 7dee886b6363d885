// The file header and the tag wrapper: reading and writing the header, extended timestamps,
// tags of unknown type, and DataSize past the end of the file.
#include <gtest/gtest.h>

#include <string>

#include "flv/AudioData.h"
#include "flv/Header.h"
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

// The time is 24 bits of Timestamp and 8 of TimestampExtended (the walk reads them back, in
// ManagerTest).
TEST_F(TemplateDataTest, ExtendedTimestampsAreWritten) {
    auto audio = std::make_unique<CFLV_AudioData>();
    audio->SetSoundFields(2, 3, 1, 0);
    tag.SetBody(std::move(audio), 18);
    tag.SetTimestamp(0x12345678);
    COutputStream out;
    tag.Write(out);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.Data()), out.Position()),
              "\x08"          // audio, from the body's name
              "\x00\x00\x01"  // DataSize: the header byte
              "\x34\x56\x78"  // time bits 0-23
              "\x12"          // time bits 24-31
              "\x00\x00\x00"  // stream id
              "\x2E"s);       // the body
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
// Each row: the file, then what Read says, whether the signature passes, and the 9 bytes that
// Write gives afterwards (fields not read keep the values of a fresh header).
TEST(HeaderTest, ReadThenWrite) {
    const struct {
        std::string file;
        bool read, flv;
        std::string written;
    } cases[] = {
        // audio | video, data offset 9, then PreviousTagSize0
        {"FLV\x01\x05\x00\x00\x00\x09\x00\x00\x00\x00"s, true, true,
         "FLV\x01\x05\x00\x00\x00\x09"s},
        // a short file with a wrong signature
        {"X"s, false, false, "XLV\x01\x00\x00\x00\x00\x09"s},
        // data offset cut short: the flags read before it stay
        {"FLV\x01\x01\x00\x00"s, false, true, "FLV\x01\x01\x00\x00\x00\x09"s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.file));
        FlvTestFile file(c.file);
        CInputStream& input = file.Input();
        CFLV_Header header;
        EXPECT_EQ(header.Read(input), c.read);
        EXPECT_EQ(header.HasFlvSignature(), c.flv);
        EXPECT_EQ(input.Tell(), std::min<std::uint64_t>(c.file.size(), 9));
        COutputStream out;
        header.Write(out);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.Data()), out.Position()),
                  c.written);
    }
}
}  // namespace
