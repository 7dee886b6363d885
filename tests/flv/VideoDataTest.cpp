#include <gtest/gtest.h>

#include <string>

#include "flv/VideoData.h"
#include "mediakit/MediaKit.h"
#include "tests/support/FlvBuilder.h"
#include "tests/support/FlvTestFile.h"

namespace {
std::string Bytes(const char* text, std::size_t size) {
    return std::string(text, size);
}

// The bytes of a packet's block.
std::string PacketBytes(IMediaPacket* packet) {
    LONG size = 0;
    BYTE* data = nullptr;
    EXPECT_EQ(packet->GetSize(&size), S_OK);
    EXPECT_EQ(packet->GetData(&data), S_OK);
    return std::string(reinterpret_cast<const char*>(data), static_cast<std::size_t>(size));
}

class VideoDataTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(MediaKitRegisterClasses(), S_OK); }

    // A body of `dataSize` bytes read from a file holding `bytes` and a 4-byte trailer.
    bool Parse(const std::string& bytes, std::uint32_t dataSize, bool read) {
        file = std::make_unique<FlvTestFile>(bytes + Bytes("\x00\x00\x00\x10", 4));
        body.DataSize = dataSize;
        return read ? body.Read(file->Input()) : body.Scan(file->Input());
    }

    std::unique_ptr<FlvTestFile> file;
    CFLV_VideoData body;
};

TEST_F(VideoDataTest, AvcFrameCarriesCompositionTimeAndPayload) {
    const std::string bytes = Bytes(
                                  "\x17"           // key frame, AVC
                                  "\x01"           // coded data
                                  "\x00\x00\x28",  // composition time 40
                                  5) +
                              FlvBuilder::Payload(1000);
    for (bool read : {true, false}) {
        body.Reset();
        ASSERT_TRUE(Parse(bytes, 1005, read));
        EXPECT_EQ(body.FrameType(), 1u);
        EXPECT_EQ(body.CodecId(), 7u);
        EXPECT_EQ(body.CompositionTime(), 40);
        EXPECT_EQ(body.PayloadSize(), 1000u);
        EXPECT_TRUE(body.ExtraData().Empty());
        EXPECT_EQ(file->Input().Tell(), 1005u);
        if (read) {
            ASSERT_NE(body.Payload(), nullptr);
            EXPECT_EQ(PacketBytes(body.Payload()), FlvBuilder::Payload(1000));
            ComPtr<IMediaPacket> taken = body.TakePayload();
            EXPECT_TRUE(taken);
            EXPECT_EQ(body.Payload(), nullptr);
        } else {
            EXPECT_EQ(body.Payload(), nullptr);
        }
    }
}

TEST_F(VideoDataTest, NegativeCompositionTimeIsSignExtended) {
    // inter frame, AVC, coded data, composition time 0xFFFFD8 = -40
    ASSERT_TRUE(Parse(Bytes("\x27\x01\xFF\xFF\xD8\xAA", 6), 6, false));
    EXPECT_EQ(body.CompositionTime(), -40);
    EXPECT_EQ(body.FrameType(), 2u);
}

TEST_F(VideoDataTest, AvcSequenceHeaderBecomesExtraDataOnReadAndScan) {
    const std::string record = FlvBuilder::AvcRecord();
    const std::string bytes = Bytes("\x17\x00\x00\x00\x00", 5) + record;  // sequence header
    for (bool read : {true, false}) {
        body.Reset();
        ASSERT_TRUE(Parse(bytes, static_cast<std::uint32_t>(bytes.size()), read));
        ASSERT_EQ(body.ExtraData().Length(), record.size());
        EXPECT_EQ(
            std::string(reinterpret_cast<const char*>(body.ExtraData().Data()), record.size()),
            record);
        EXPECT_EQ(body.PayloadSize(), record.size());
        EXPECT_EQ(body.Payload(), nullptr);
    }
}

TEST_F(VideoDataTest, Vp6AdjustmentByteIsExtraDataAndShortensTheBody) {
    const std::string bytes = Bytes(
                                  "\x24"   // inter frame, VP6
                                  "\x7E",  // adjustment byte
                                  2) +
                              FlvBuilder::Payload(500);
    ASSERT_TRUE(Parse(bytes, 502, true));
    EXPECT_EQ(body.FrameType(), 2u);
    EXPECT_EQ(body.CodecId(), 4u);
    ASSERT_EQ(body.ExtraData().Length(), 1u);
    EXPECT_EQ(body.ExtraData().Data()[0], 0x7E);
    EXPECT_EQ(body.DataSize, 501u);
    EXPECT_EQ(body.PayloadSize(), 500u);
    EXPECT_EQ(PacketBytes(body.Payload()), FlvBuilder::Payload(500));
}

TEST_F(VideoDataTest, UnknownFrameTypeAndCodecKeepThePreviousValues) {
    // frame type 5 (unknown), codec 2
    ASSERT_TRUE(Parse(Bytes("\x52\x01\x02", 3), 3, false));
    EXPECT_EQ(body.FrameType(), 1u);
    EXPECT_EQ(body.CodecId(), 2u);
    EXPECT_EQ(body.PayloadSize(), 2u);

    // codec 15 (unknown) on a new element: laid out like codec 1, payload after the first byte
    body.Reset();
    ASSERT_TRUE(Parse(Bytes("\x1F\x01\x02\x03", 4), 4, false));
    EXPECT_EQ(body.CodecId(), 1u);
    EXPECT_EQ(body.PayloadSize(), 3u);

    // codec 15 on an element that last held VP6: laid out like VP6 without an adjustment byte
    body.Reset();
    ASSERT_TRUE(Parse(Bytes("\x14\x00\xAA\xBB", 4), 4, false));
    ASSERT_TRUE(Parse(Bytes("\x1F\xAA\xBB\xCC", 4), 4, false));
    EXPECT_EQ(body.CodecId(), 4u);
    EXPECT_EQ(body.PayloadSize(), 2u);
}

TEST_F(VideoDataTest, BodiesShorterThanTheirFixedFieldsFailBeforeAnyPayload) {
    struct Case {
        std::string bytes;  // the file: the body as far as it goes, then other bytes
        std::uint32_t dataSize;
        std::uint64_t cursorAfter;  // nothing beyond the header byte (or nothing) was taken
    };
    const Case cases[] = {
        {Bytes("\x12\xAA\xBB", 3), 0, 0},          // empty body
        {Bytes("\x17\x01\x00\x00", 4), 4, 1},      // AVC needs 5 bytes
        {Bytes("\x17\x00\x00\x00\x00", 5), 1, 1},  // AVC header byte alone
        {Bytes("\x14\xAA\xBB", 3), 1, 1},          // VP6 needs its adjustment byte
        {Bytes("\x15\xAA\xBB", 3), 1, 1},          // VP6 with alpha likewise
    };
    for (const Case& c : cases) {
        for (bool read : {true, false}) {
            body.Reset();
            EXPECT_FALSE(Parse(c.bytes, c.dataSize, read)) << c.dataSize;
            EXPECT_EQ(file->Input().Tell(), c.cursorAfter);
            EXPECT_EQ(body.Payload(), nullptr);
            EXPECT_TRUE(body.ExtraData().Empty());
        }
    }
}

TEST_F(VideoDataTest, PayloadPastTheEndOfTheFileFails) {
    // Sorenson key frame claiming 100 bytes; the file ends (with its 4 trailing bytes) first.
    for (bool read : {true, false}) {
        body.Reset();
        EXPECT_FALSE(Parse(Bytes("\x12\x01\x02", 3), 100, read));
        EXPECT_EQ(body.PayloadSize(), 0u);
        EXPECT_EQ(body.Payload(), nullptr);
    }
}

TEST_F(VideoDataTest, WriteEmitsTheHeaderByteOnly) {
    body.SetFrameType(2);
    body.SetCodecId(7);
    COutputStream out;
    body.Write(out);
    ASSERT_EQ(out.Position(), 1u);
    EXPECT_EQ(out.Data()[0], 0x27);
    EXPECT_STREQ(body.GetName(), L"Video Data");
    ASSERT_TRUE(Parse(Bytes("\x22", 1) + FlvBuilder::Payload(1000), 1001, false));
    EXPECT_EQ(body.GetDataSize(), 1001u);
}

TEST_F(VideoDataTest, CloneOwnsItsExtraDataAndSharesThePacket) {
    ASSERT_TRUE(Parse(Bytes("\x14\x33", 2) + FlvBuilder::Payload(8), 10, true));
    std::unique_ptr<CFlashObject> copy = body.Clone();
    IMediaPacket* packet = body.Payload();
    body.Reset();
    auto* video = dynamic_cast<CFLV_VideoData*>(copy.get());
    ASSERT_NE(video, nullptr);
    ASSERT_EQ(video->ExtraData().Length(), 1u);
    EXPECT_EQ(video->ExtraData().Data()[0], 0x33);
    EXPECT_EQ(video->Payload(), packet);
    EXPECT_EQ(PacketBytes(video->Payload()), FlvBuilder::Payload(8));
    EXPECT_EQ(video->DataSize, 9u);
}
}  // namespace
