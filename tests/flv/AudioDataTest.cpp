#include <gtest/gtest.h>

#include <string>

#include "flv/AudioData.h"
#include "mediakit/MediaKit.h"
#include "tests/support/FlvBuilder.h"
#include "tests/support/FlvTestFile.h"

namespace {
std::string Bytes(const char* text, std::size_t size) {
    return std::string(text, size);
}

class AudioDataTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(MediaKitRegisterClasses(), S_OK); }

    bool Parse(const std::string& bytes, std::uint32_t dataSize, bool read) {
        file = std::make_unique<FlvTestFile>(bytes + Bytes("\x00\x00\x00\x10", 4));
        body.Reset();
        body.DataSize = dataSize;
        return read ? body.Read(file->Input()) : body.Scan(file->Input());
    }

    std::unique_ptr<FlvTestFile> file;
    CFLV_AudioData body;
};

TEST_F(AudioDataTest, RawAacFieldsAndPayload) {
    const std::string bytes = Bytes(
                                  "\xAF"   // AAC, 44 kHz, 16-bit, stereo
                                  "\x01",  // raw data
                                  2) +
                              FlvBuilder::Payload(371);
    ASSERT_TRUE(Parse(bytes, 373, true));
    EXPECT_EQ(body.SoundFormat(), 10u);
    EXPECT_EQ(body.SoundRate(), 3u);
    EXPECT_EQ(body.SoundSize(), 1u);
    EXPECT_EQ(body.SoundType(), 1u);
    EXPECT_EQ(body.PayloadSize(), 371u);
    EXPECT_TRUE(body.ExtraData().Empty());
    ASSERT_NE(body.Payload(), nullptr);
    LONG size = 0;
    EXPECT_EQ(body.Payload()->GetSize(&size), S_OK);
    EXPECT_EQ(size, 371);
    EXPECT_EQ(file->Input().Tell(), 373u);

    ASSERT_TRUE(Parse(bytes, 373, false));
    EXPECT_EQ(body.Payload(), nullptr);
    EXPECT_EQ(file->Input().Tell(), 373u);
}

TEST_F(AudioDataTest, AacSequenceHeaderIsKeptByReadAndScan) {
    for (bool read : {true, false}) {
        ASSERT_TRUE(Parse(Bytes("\xAF\x00"   // AAC sequence header
                                "\x12\x10",  // AudioSpecificConfig
                                4),
                          4, read));
        ASSERT_EQ(body.ExtraData().Length(), 2u);
        EXPECT_EQ(body.ExtraData().Data()[0], 0x12);
        EXPECT_EQ(body.ExtraData().Data()[1], 0x10);
        EXPECT_EQ(body.PayloadSize(), 2u);
        EXPECT_EQ(body.Payload(), nullptr);
    }
}

TEST_F(AudioDataTest, EveryFormatIsStoredAsRead) {
    // MP3, 44 kHz, 16-bit, mono
    ASSERT_TRUE(Parse(Bytes("\x2E", 1) + FlvBuilder::Payload(417), 418, false));
    EXPECT_EQ(body.SoundFormat(), 2u);
    EXPECT_EQ(body.SoundType(), 0u);
    EXPECT_EQ(body.PayloadSize(), 417u);
    // Nellymoser 8 kHz with rate field 0, 16-bit, mono
    ASSERT_TRUE(Parse(Bytes("\x52\x00", 2), 2, false));
    EXPECT_EQ(body.SoundFormat(), 5u);
    EXPECT_EQ(body.SoundRate(), 0u);
    // format 15 (reserved) is accepted; its payload follows the header byte
    ASSERT_TRUE(Parse(Bytes("\xF0\x01\x02", 3), 3, true));
    EXPECT_EQ(body.SoundFormat(), 15u);
    EXPECT_EQ(body.PayloadSize(), 2u);
}

TEST_F(AudioDataTest, BodiesShorterThanTheirFixedFieldsFailBeforeAnyPayload) {
    for (bool read : {true, false}) {
        // an empty body: not even the header byte is taken
        EXPECT_FALSE(Parse(Bytes("\x2E\xAA", 2), 0, read));
        EXPECT_EQ(file->Input().Tell(), 0u);
        // AAC without its packet type byte
        EXPECT_FALSE(Parse(Bytes("\xAF\x00\x12\x10", 4), 1, read));
        EXPECT_EQ(file->Input().Tell(), 1u);
        EXPECT_EQ(body.Payload(), nullptr);
        EXPECT_TRUE(body.ExtraData().Empty());
        // a payload running past the end of the file
        EXPECT_FALSE(Parse(Bytes("\x2E\xAA", 2), 50, read));
        EXPECT_EQ(body.Payload(), nullptr);
    }
}

TEST_F(AudioDataTest, WriteEmitsTheHeaderByte) {
    COutputStream out;
    body.SetSoundFields(10, 3, 1, 1);
    body.Write(out);
    body.SetSoundFields(2, 2, 0, 0);
    body.Write(out);
    ASSERT_EQ(out.Position(), 2u);
    EXPECT_EQ(out.Data()[0], 0xAF);
    EXPECT_EQ(out.Data()[1], 0x28);
    EXPECT_STREQ(body.GetName(), L"Audio Data");
}

TEST_F(AudioDataTest, CloneHoldsItsOwnPacketReference) {
    ASSERT_TRUE(Parse(Bytes("\x2E", 1) + FlvBuilder::Payload(16), 17, true));
    std::unique_ptr<CFlashObject> copy = body.Clone();
    ComPtr<IAudioPacket> taken = body.TakePayload();
    taken.Reset();
    body.Reset();
    auto* audio = dynamic_cast<CFLV_AudioData*>(copy.get());
    ASSERT_NE(audio, nullptr);
    ASSERT_NE(audio->Payload(), nullptr);
    LONG size = 0;
    EXPECT_EQ(audio->Payload()->GetSize(&size), S_OK);
    EXPECT_EQ(size, 16);
    EXPECT_EQ(audio->SoundFormat(), 2u);
}
}  // namespace
