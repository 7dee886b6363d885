#include <gtest/gtest.h>

#include <string>

#include "flv/VideoData.h"
#include "mediakit/MediaKit.h"
#include "tests/support/FlvBuilder.h"
#include "tests/support/FlvTestFile.h"

using namespace std::string_literals;

namespace {
constexpr std::uint32_t kWhole = ~0u;  // DataSize: the row's bytes; cursor: the body's end

class VideoDataTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(MediaKitRegisterClasses(), S_OK); }

    // Parses a body of `dataSize` bytes from a file holding `bytes` and a PreviousTagSize.
    bool Parse(const std::string& bytes, std::uint32_t dataSize, bool read) {
        file = std::make_unique<FlvTestFile>(bytes + "\x00\x00\x00\x10"s);
        body.DataSize = dataSize;
        return read ? body.Read(file->Input()) : body.Scan(file->Input());
    }

    std::unique_ptr<FlvTestFile> file;
    CFLV_VideoData body;
};

// Every row is parsed by Read and by Scan, each time into an element that parsed `before` first.
// A body that fails has taken nothing beyond its fixed fields: no payload, no extra data.
TEST_F(VideoDataTest, FieldsExtraDataAndPayload) {
    const std::string record = FlvBuilder::AvcRecord();
    const struct {
        std::string before, bytes;
        bool ok;
        std::uint32_t frameType, codecId;  // checked when ok
        std::int32_t compositionTime;
        std::uint64_t payloadSize;
        std::string extra;
        std::uint32_t dataSize = kWhole;
        std::uint64_t cursor = kWhole;
    } cases[] = {
        // AVC key frame, coded data, composition time 40
        {"", "\x17\x01\x00\x00\x28"s + FlvBuilder::Payload(1000), true, 1, 7, 40, 1000, ""},
        // AVC inter frame, composition time 0xFFFFD8: sign-extended to -40
        {"", "\x27\x01\xFF\xFF\xD8\xAA"s, true, 2, 7, -40, 1, ""},
        // AVC sequence header: the record is extra data, not a packet
        {"", "\x17\x00\x00\x00\x00"s + record, true, 1, 7, 0, record.size(), record},
        // VP6 inter frame: the adjustment byte is extra data, not payload
        {"", "\x24\x7E"s + FlvBuilder::Payload(500), true, 2, 4, 0, 500, "\x7E"},
        // frame type 5 (unknown) keeps the key frame of a new element
        {"", "\x52\x01\x02"s, true, 1, 2, 0, 2, ""},
        // codec 15 (unknown) on a new element: laid out like codec 1
        {"", "\x1F\x01\x02\x03"s, true, 1, 1, 0, 3, ""},
        // codec 15 after a VP6 body: laid out like VP6 without an adjustment byte, so the
        // body's last byte is left
        {"\x14\x00\xAA\xBB"s, "\x1F\xAA\xBB\xCC"s, true, 1, 4, 0, 2, "\x00"s, kWhole, 3},
        // bodies shorter than their fixed fields, then other bytes in the file
        {"", "\x12\xAA\xBB"s, false, 0, 0, 0, 0, "", 0, 0},          // empty body
        {"", "\x17\x01\x00\x00"s, false, 0, 0, 0, 0, "", 4, 1},      // AVC needs 5 bytes
        {"", "\x17\x00\x00\x00\x00"s, false, 0, 0, 0, 0, "", 1, 1},  // AVC header byte alone
        {"", "\x14\xAA\xBB"s, false, 0, 0, 0, 0, "", 1, 1},  // VP6 needs its adjustment byte
        {"", "\x15\xAA\xBB"s, false, 0, 0, 0, 0, "", 1, 1},  // VP6 with alpha likewise
        // payload and AVC record past the end of the file
        {"", "\x12\x01\x02"s, false, 0, 0, 0, 0, "", 100, 1},
        {"", "\x17\x00\x00\x00\x00\x01"s, false, 0, 0, 0, 0, "", 50, 5},
    };
    for (const auto& c : cases) {
        for (bool read : {true, false}) {
            SCOPED_TRACE(testing::PrintToString(c.bytes.substr(0, 6)) + (read ? " read" : " scan"));
            body.Reset();
            ASSERT_TRUE(c.before.empty() || Parse(c.before, 4, read));
            const auto size = static_cast<std::uint32_t>(c.bytes.size());
            EXPECT_EQ(Parse(c.bytes, c.dataSize == kWhole ? size : c.dataSize, read), c.ok);
            const std::uint64_t end = file->Input().Tell();
            EXPECT_EQ(end, c.cursor == kWhole ? size : c.cursor);
            EXPECT_EQ(body.PayloadSize(), c.payloadSize);
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(body.ExtraData().Data()),
                                  body.ExtraData().Length()),
                      c.extra);
            if (c.ok) {
                EXPECT_EQ(body.FrameType(), c.frameType);
                EXPECT_EQ(body.CodecId(), c.codecId);
                EXPECT_EQ(body.CompositionTime(), c.compositionTime);
            }
            // Only a Read that succeeds on a frame (not a sequence header) leaves a packet.
            ASSERT_EQ(body.Payload() != nullptr, c.ok && read && !body.IsSequenceHeader());
            if (body.Payload() == nullptr) continue;
            LONG packetSize = 0;
            BYTE* data = nullptr;
            ASSERT_EQ(body.Payload()->GetSize(&packetSize), S_OK);
            ASSERT_EQ(body.Payload()->GetData(&data), S_OK);
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), packetSize),
                      c.bytes.substr(end - c.payloadSize, c.payloadSize));
        }
    }
}
}  // namespace
