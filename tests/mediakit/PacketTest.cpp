#include <vector>

#include "tests/mediakit/MediaKitTestSupport.h"

// The listed slots of IMediaPacket on both packet classes (IAudioPacket begins with the same
// slots), then slot 44 of IAudioPacket.
TEST(Packet, ListedSlots) {
    using M = IMediaPacket;
    auto format = Create<IAudioFormat>(CLSID_AudioFormat);
    ASSERT_EQ(format->SetBitsPerSample(8), S_OK);
    for (const CLSID& clsid : {CLSID_VideoPacket, CLSID_AudioPacket}) {
        auto packet = Create<IMediaPacket>(clsid);
        IMediaPacket* p = packet.Get();
        const BYTE payload[3] = {1, 2, 3};
        EXPECT_EQ(CallSlot(p, 24, static_cast<IUnknown*>(format.Get())), S_OK);  // SetFormat
        EXPECT_EQ(CallSlot(p, 6, LONG{4}, LONG{-1}), S_OK);                      // Allocate
        EXPECT_EQ(CallSlot(p, 7, LONG{0}, payload, LONG{3}), S_OK);              // CopyIn
        EXPECT_EQ(CallSlot(p, 26, VARIANT_TRUE), S_OK);                          // SetDiscontinuity
        EXPECT_EQ(CallSlot(p, 32, 12.5), S_OK);                                  // SetTime
        EXPECT_EQ(CallSlot(p, 34, 3.25), S_OK);                                  // SetTimestamp
        EXPECT_EQ(CallSlot(p, 38, 40.0), S_OK);                                  // SetDuration
        // The bytes copied in, then 8-bit silence (0x80) in the format set through slot 24.
        std::vector<BYTE> bytes(4);
        EXPECT_EQ(p->CopyOut(0, bytes.data(), 4), S_OK);
        EXPECT_EQ(bytes, (std::vector<BYTE>{1, 2, 3, 0x80}));
        EXPECT_EQ(ReadValue<VARIANT_BOOL>(p, &M::GetDiscontinuity), VARIANT_TRUE);
        EXPECT_EQ(ReadValue<double>(p, &M::GetTimestamp), 3.25);
        EXPECT_EQ(ReadValue<LONG>(p, 14), 4);                                       // GetSize
        EXPECT_EQ(ReadValue<double>(p, 31), 12.5);                                  // GetTime
        EXPECT_EQ(ReadValue<double>(p, 37), 40.0);                                  // GetDuration
        EXPECT_EQ(ReadValue<ComPtr<IUnknown>>(p, 23).Get(), format.Get());          // GetFormat
        auto copy = ReadValue<ComPtr<IUnknown>>(p, 5, LONG{0}).As<IMediaPacket>();  // Duplicate
        ASSERT_TRUE(copy);
        ASSERT_EQ(copy->SetTime(99), S_OK);  // the copy's times are its own
        EXPECT_EQ(ReadValue<double>(p, &M::GetTime), 12.5);
        EXPECT_EQ(ReadValue<double>(copy.Get(), &M::GetDuration), 40.0);
        // Copies that reach outside the 4-byte block, or are negative, are refused.
        const LONG outside[][2] = {{0, 5}, {4, 1}, {5, 0}, {-1, 1}, {0, -1}, {2, 0x7FFFFFFF}};
        for (const auto& [offset, count] : outside) {
            EXPECT_EQ(p->CopyIn(offset, payload, count), E_INVALIDARG) << offset;
            EXPECT_EQ(p->CopyOut(offset, bytes.data(), count), E_INVALIDARG) << offset;
        }
        EXPECT_EQ(p->Allocate(-1, 0), E_INVALIDARG);
    }
    auto audio = Create<IAudioPacket>(CLSID_AudioPacket);
    LONG bytes = 0;
    double tagTime = 0;
    EXPECT_EQ(CallSlot(audio.Get(), 44, LONG{417}, 1234.0), S_OK);  // SetPayloadInfo
    EXPECT_TRUE(audio->GetPayloadInfo(&bytes, &tagTime) == S_OK && bytes == 417 && tagTime == 1234);
}
