#include <gtest/gtest.h>

#include <string>

#include "flv/AudioData.h"
#include "mediakit/MediaKit.h"
#include "tests/support/FlvBuilder.h"
#include "tests/support/FlvTestFile.h"

using namespace std::string_literals;

namespace {
constexpr std::uint32_t kWhole = ~0u;  // DataSize: the row's bytes; cursor: the body's end

// Every row is parsed by Read and by Scan. A body that fails has taken nothing beyond its fixed
// fields: no payload, no extra data.
TEST(AudioDataTest, FieldsExtraDataAndPayload) {
    ASSERT_EQ(MediaKitRegisterClasses(), S_OK);
    const struct {
        std::string bytes;
        bool ok;
        std::uint32_t format, rate, size, type;  // checked when ok
        std::uint64_t payloadSize;
        std::string extra;
        std::uint32_t dataSize = kWhole;
        std::uint64_t cursor = kWhole;
    } cases[] = {
        // AAC, 44 kHz, 16-bit, stereo, raw data
        {"\xAF\x01"s + FlvBuilder::Payload(371), true, 10, 3, 1, 1, 371, ""},
        // AAC sequence header: the AudioSpecificConfig is extra data, not a packet
        {"\xAF\x00\x12\x10"s, true, 10, 3, 1, 1, 2, "\x12\x10"},
        // MP3, 44 kHz, 16-bit, mono
        {"\x2E"s + FlvBuilder::Payload(417), true, 2, 3, 1, 0, 417, ""},
        // format 15 (reserved) is accepted; its payload follows the header byte
        {"\xF0\x01\x02"s, true, 15, 0, 0, 0, 2, ""},
        // an empty body: not even the header byte is taken
        {"\x2E\xAA"s, false, 0, 0, 0, 0, 0, "", 0, 0},
        // AAC without its packet type byte
        {"\xAF\x00\x12\x10"s, false, 0, 0, 0, 0, 0, "", 1, 1},
        // a payload running past the end of the file
        {"\x2E\xAA"s, false, 0, 0, 0, 0, 0, "", 50, 1},
    };
    for (const auto& c : cases) {
        for (bool read : {true, false}) {
            SCOPED_TRACE(testing::PrintToString(c.bytes.substr(0, 2)) + (read ? " read" : " scan"));
            FlvTestFile file(c.bytes + "\x00\x00\x00\x10"s);
            CFLV_AudioData body;
            const auto size = static_cast<std::uint32_t>(c.bytes.size());
            body.DataSize = c.dataSize == kWhole ? size : c.dataSize;
            EXPECT_EQ(read ? body.Read(file.Input()) : body.Scan(file.Input()), c.ok);
            EXPECT_EQ(file.Input().Tell(), c.cursor == kWhole ? size : c.cursor);
            EXPECT_EQ(body.PayloadSize(), c.payloadSize);
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(body.ExtraData().Data()),
                                  body.ExtraData().Length()),
                      c.extra);
            if (c.ok) {
                EXPECT_EQ(body.SoundFormat(), c.format);
                EXPECT_EQ(body.SoundRate(), c.rate);
                EXPECT_EQ(body.SoundSize(), c.size);
                EXPECT_EQ(body.SoundType(), c.type);
            }
            // Only a Read that succeeds on raw data (not a sequence header) leaves a packet.
            LONG packetSize = -1;
            EXPECT_TRUE(body.Payload() == nullptr || body.Payload()->GetSize(&packetSize) == S_OK);
            EXPECT_EQ(packetSize, c.ok && read && c.extra.empty() ? LONG(c.payloadSize) : -1);
        }
    }
}
}  // namespace
