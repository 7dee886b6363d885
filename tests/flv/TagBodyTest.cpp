// The audio and video tag bodies from hand-made bytes: fields, codec extra data and payload,
// short bodies for every codec family, and payloads running past the end of the file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flv/AudioData.h"
#include "flv/VideoData.h"
#include "mediakit/MediaKit.h"
#include "tests/support/FlvBuilder.h"
#include "tests/support/FlvTestFile.h"

using namespace std::string_literals;

namespace {
constexpr std::uint32_t kWhole = ~0u;  // DataSize: the row's bytes; cursor: the body's end

struct Row {
    std::string bytes;
    bool ok;
    std::vector<std::int64_t> fields;  // checked when ok
    std::uint64_t payloadSize;
    std::string extra;
    std::uint32_t dataSize = kWhole;
    std::uint64_t cursor = kWhole;
};

// Every row is parsed by Read and by Scan. A body that fails has taken nothing beyond its fixed
// fields: no payload, no extra data. Only a Read that succeeds on coded data (not a sequence
// header) leaves a packet, holding the body's last PayloadSize bytes.
template <class Body, class Fields>
void ExpectRows(const std::vector<Row>& rows, Fields fields) {
    ASSERT_EQ(MediaKitRegisterClasses(), S_OK);
    for (const Row& c : rows) {
        for (bool read : {true, false}) {
            SCOPED_TRACE(testing::PrintToString(c.bytes.substr(0, 6)) + (read ? " read" : " scan"));
            Body body;
            FlvTestFile file(c.bytes + "\x00\x00\x00\x10"s);
            const auto size = static_cast<std::uint32_t>(c.bytes.size());
            body.DataSize = c.dataSize == kWhole ? size : c.dataSize;
            EXPECT_EQ(read ? body.Read(file.Input()) : body.Scan(file.Input()), c.ok);
            const std::uint64_t end = file.Input().Tell();
            EXPECT_EQ(end, c.cursor == kWhole ? size : c.cursor);
            EXPECT_EQ(body.PayloadSize(), c.payloadSize);
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(body.ExtraData().Data()),
                                  body.ExtraData().Length()),
                      c.extra);
            EXPECT_EQ(c.ok ? fields(body) : std::vector<std::int64_t>{}, c.fields);
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

// Fields: frame type, codec id, composition time.
TEST(TagBodyTest, Video) {
    const std::string record = FlvBuilder::AvcRecord();
    ExpectRows<CFLV_VideoData>(
        {
            // AVC key frame, coded data, composition time 40
            {"\x17\x01\x00\x00\x28"s + FlvBuilder::Payload(1000), true, {1, 7, 40}, 1000, ""},
            // AVC inter frame, composition time 0xFFFFD8: sign-extended to -40
            {"\x27\x01\xFF\xFF\xD8\xAA"s, true, {2, 7, -40}, 1, ""},
            // AVC sequence header: the record is extra data, not a packet
            {"\x17\x00\x00\x00\x00"s + record, true, {1, 7, 0}, record.size(), record},
            // VP6 inter frame: the adjustment byte is extra data, not payload
            {"\x24\x7E"s + FlvBuilder::Payload(500), true, {2, 4, 0}, 500, "\x7E"},
            // frame type 5 (unknown) keeps the key frame of a new element
            {"\x52\x01\x02"s, true, {1, 2, 0}, 2, ""},
            // codec 15 (unknown) on a new element: laid out like codec 1
            {"\x1F\x01\x02\x03"s, true, {1, 1, 0}, 3, ""},
            // bodies shorter than their fixed fields, then other bytes in the file
            {"\x12\xAA\xBB"s, false, {}, 0, "", 0, 0},      // empty body
            {"\x17\x01\x00\x00"s, false, {}, 0, "", 4, 1},  // AVC needs 5 bytes
            {"\x14\xAA\xBB"s, false, {}, 0, "", 1, 1},      // VP6 needs its adjustment byte
            {"\x12\x01\x02"s, false, {}, 0, "", 100, 1},    // payload past the end of the file
        },
        [](const CFLV_VideoData& body) {
            return std::vector<std::int64_t>{body.FrameType(), body.CodecId(),
                                             body.CompositionTime()};
        });
}

// Fields: sound format, rate, size, type.
TEST(TagBodyTest, Audio) {
    ExpectRows<CFLV_AudioData>(
        {
            // AAC, 44 kHz, 16-bit, stereo, raw data
            {"\xAF\x01"s + FlvBuilder::Payload(371), true, {10, 3, 1, 1}, 371, ""},
            // AAC sequence header: the AudioSpecificConfig is extra data, not a packet
            {"\xAF\x00\x12\x10"s, true, {10, 3, 1, 1}, 2, "\x12\x10"},
            // MP3, 44 kHz, 16-bit, mono
            {"\x2E"s + FlvBuilder::Payload(417), true, {2, 3, 1, 0}, 417, ""},
            // format 15 (reserved) is accepted; its payload follows the header byte
            {"\xF0\x01\x02"s, true, {15, 0, 0, 0}, 2, ""},
            // an empty body: not even the header byte is taken
            {"\x2E\xAA"s, false, {}, 0, "", 0, 0},
            // AAC without its packet type byte
            {"\xAF\x00\x12\x10"s, false, {}, 0, "", 1, 1},
            // a payload running past the end of the file
            {"\x2E\xAA"s, false, {}, 0, "", 50, 1},
        },
        [](const CFLV_AudioData& body) {
            return std::vector<std::int64_t>{body.SoundFormat(), body.SoundRate(), body.SoundSize(),
                                             body.SoundType()};
        });
}
}  // namespace
