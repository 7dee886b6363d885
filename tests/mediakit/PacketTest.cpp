#include <vector>

#include "tests/mediakit/MediaKitTestSupport.h"

namespace {

ComPtr<IAudioFormat> FormatWithBits(LONG bits) {
    auto format = Create<IAudioFormat>(CLSID_AudioFormat);
    EXPECT_EQ(format->SetBitsPerSample(bits), S_OK);
    return format;
}

std::vector<BYTE> Bytes(IMediaPacket* packet) {
    LONG size = 0;
    EXPECT_EQ(packet->GetSize(&size), S_OK);
    std::vector<BYTE> bytes(static_cast<std::size_t>(size));
    EXPECT_EQ(packet->CopyOut(0, bytes.data(), size), S_OK);
    return bytes;
}

}  // namespace

TEST(Packet, AllocateFillsSilenceInThePacketsFormat) {
    auto packet = Create<IMediaPacket>(CLSID_AudioPacket);
    ASSERT_EQ(packet->SetFormat(FormatWithBits(8).Get()), S_OK);
    ASSERT_EQ(packet->Allocate(6, -1), S_OK);
    EXPECT_EQ(Bytes(packet.Get()), std::vector<BYTE>(6, 0x80));
    ASSERT_EQ(packet->Allocate(4, 0), S_OK);  // reuses the block: 0 still means zeroed
    EXPECT_EQ(Bytes(packet.Get()), std::vector<BYTE>(4, 0));

    ASSERT_EQ(packet->SetFormat(FormatWithBits(16).Get()), S_OK);
    ASSERT_EQ(packet->Allocate(6, 0), S_OK);
    const BYTE marks[6] = {1, 2, 3, 4, 5, 6};
    ASSERT_EQ(packet->CopyIn(0, marks, 6), S_OK);
    ASSERT_EQ(packet->Allocate(6, -1), S_OK);
    EXPECT_EQ(Bytes(packet.Get()), std::vector<BYTE>(6, 0));

    auto video = Create<IMediaPacket>(CLSID_VideoPacket);  // no format: silence is zeros
    ASSERT_EQ(video->Allocate(3, -1), S_OK);
    EXPECT_EQ(Bytes(video.Get()), std::vector<BYTE>(3, 0));
    EXPECT_EQ(video->Allocate(-1, 0), E_INVALIDARG);
    EXPECT_EQ(video->Allocate(3, 7), E_INVALIDARG);
}

TEST(Packet, CopiesStayInsideTheBlock) {
    auto packet = Create<IMediaPacket>(CLSID_VideoPacket);
    ASSERT_EQ(packet->Allocate(8, 0), S_OK);
    BYTE buffer[16] = {};
    // {offset, count} pairs that reach outside the 8-byte block, or are negative.
    const LONG outside[][2] = {{0, 9}, {8, 1}, {9, 0}, {-1, 1}, {0, -1}, {4, 0x7FFFFFFF}};
    for (const auto& range : outside) {
        EXPECT_EQ(packet->CopyIn(range[0], buffer, range[1]), E_INVALIDARG) << range[0];
        EXPECT_EQ(packet->CopyOut(range[0], buffer, range[1]), E_INVALIDARG) << range[0];
    }
    EXPECT_EQ(packet->CopyIn(8, buffer, 0), S_OK);  // an empty copy at the end fits
    EXPECT_EQ(packet->CopyIn(0, nullptr, 1), E_INVALIDARG);

    // SetSize keeps the bytes it keeps and zeroes the bytes it adds.
    const BYTE data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(packet->CopyIn(0, data, 8), S_OK);
    ASSERT_EQ(packet->SetSize(3), S_OK);
    ASSERT_EQ(packet->SetSize(20), S_OK);
    std::vector<BYTE> expected(20, 0);
    expected[0] = 1, expected[1] = 2, expected[2] = 3;
    EXPECT_EQ(Bytes(packet.Get()), expected);
    EXPECT_EQ(packet->SetSize(-1), E_INVALIDARG);
}

TEST(Packet, DuplicateCopiesDataAndSharesTheFormat) {
    auto packet = Create<IAudioPacket>(CLSID_AudioPacket);
    auto format = FormatWithBits(16);
    const BYTE data[4] = {9, 8, 7, 6};
    ASSERT_EQ(packet->Allocate(4, 0), S_OK);
    ASSERT_EQ(packet->CopyIn(0, data, 4), S_OK);
    ASSERT_EQ(packet->SetFormat(format.Get()), S_OK);
    ASSERT_EQ(packet->SetTime(100), S_OK);
    ASSERT_EQ(packet->SetTimestamp(101), S_OK);
    ASSERT_EQ(packet->SetDuration(40), S_OK);
    ASSERT_EQ(packet->SetDiscontinuity(VARIANT_TRUE), S_OK);
    ASSERT_EQ(packet->SetKeyFrame(VARIANT_TRUE), S_OK);
    ASSERT_EQ(packet->SetPayloadInfo(4, 99), S_OK);

    ComPtr<IUnknown> copy;
    ASSERT_EQ(packet->Duplicate(0, copy.Put()), S_OK);
    ComPtr<IAudioPacket> copied = copy.As<IAudioPacket>();  // the same class as the original
    ASSERT_TRUE(copied);
    ASSERT_EQ(copied->SetTime(500), S_OK);
    ASSERT_EQ(copied->SetDuration(1), S_OK);
    const BYTE changed = 0;
    ASSERT_EQ(copied->CopyIn(0, &changed, 1), S_OK);

    using M = IMediaPacket;
    EXPECT_EQ(ReadValue<double>(packet.Get(), &M::GetTime), 100);
    EXPECT_EQ(ReadValue<double>(packet.Get(), &M::GetDuration), 40);
    EXPECT_EQ(Bytes(packet.Get()), std::vector<BYTE>(data, data + 4));
    EXPECT_EQ(ReadValue<double>(copied.Get(), &M::GetTimestamp), 101);
    EXPECT_EQ(ReadValue<VARIANT_BOOL>(copied.Get(), &M::GetDiscontinuity), VARIANT_TRUE);
    EXPECT_EQ(ReadValue<VARIANT_BOOL>(copied.Get(), &M::GetKeyFrame), VARIANT_TRUE);
    LONG payload = 0;
    double tagTime = 0;
    EXPECT_EQ(copied->GetPayloadInfo(&payload, &tagTime), S_OK);
    EXPECT_EQ(payload * 1000 + tagTime, 4099);
    ComPtr<IUnknown> copiedFormat;
    ASSERT_EQ(copied->GetFormat(copiedFormat.Put()), S_OK);
    EXPECT_EQ(copiedFormat.Get(), format.Get());

    auto video = Create<IMediaPacket>(CLSID_VideoPacket);
    ASSERT_EQ(video->Duplicate(0, copy.Put()), S_OK);
    EXPECT_FALSE(copy.As<IAudioPacket>());  // a video packet copies into a video packet
    EXPECT_TRUE(copy.As<IMediaPacket>());
}
