#include <cmath>
#include <limits>

#include "tests/mediakit/MediaKitTestSupport.h"

// 44100 Hz stereo 16-bit PCM (4 bytes per sample frame) written in odd sizes and cut at odd
// durations, through the listed slots: 7 GetDuration, 12 Write, 13 Reset, 15 ReadDuration.
TEST(AudioPacketQueue, CutsAtWholeSampleFramesAndKeepsLeftovers) {
    auto queue = Create<IAudioPacketQueue>(CLSID_AudioPacketQueue);
    auto format = Create<IAudioFormat>(CLSID_AudioFormat);
    const WAVEFORMATEX wave{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    ASSERT_EQ(format->SetWaveFormat(&wave), S_OK);
    unsigned written = 0, read = 0;
    // Writes `size` bytes that continue a running byte pattern.
    const auto write = [&](LONG size) {
        auto packet = Create<IMediaPacket>(CLSID_AudioPacket);
        EXPECT_EQ(packet->SetFormat(format.Get()), S_OK);
        EXPECT_EQ(packet->Allocate(size, 0), S_OK);
        BYTE* data = ReadValue<BYTE*>(packet.Get(), &IMediaPacket::GetData);
        for (LONG i = 0; i < size; ++i) data[i] = static_cast<BYTE>(written++ * 7);
        EXPECT_EQ(CallSlot(queue.Get(), 12, LONG{0}, static_cast<IUnknown*>(packet.Get())), S_OK);
        EXPECT_EQ(packet->Allocate(size, -1), S_OK);  // the queue copied; the packet is ours
    };
    // Reads `ms`; checks that a packet carries the next bytes of the pattern and its duration,
    // and answers its size (-1 for no packet).
    const auto readMs = [&](double ms) -> LONG {
        auto packet = ReadValue<ComPtr<IUnknown>>(queue.Get(), 15, ms).As<IMediaPacket>();
        if (!packet) return -1;
        const LONG size = ReadValue<LONG>(packet.Get(), &IMediaPacket::GetSize);
        const BYTE* data = ReadValue<BYTE*>(packet.Get(), &IMediaPacket::GetData);
        for (LONG i = 0; i < size; ++i) EXPECT_EQ(data[i], static_cast<BYTE>(read++ * 7));
        EXPECT_NEAR(ReadValue<double>(packet.Get(), &IMediaPacket::GetDuration),
                    size / 4 * 1000.0 / 44100, 1e-9);
        return size;
    };
    const auto held = [&] { return ReadValue<double>(queue.Get(), 7); };

    write(1000);  // 250 frames
    write(3002);  // 750.5 frames: half a frame waits for the next write
    EXPECT_NEAR(held(), 1000 * 1000.0 / 44100, 1e-9);
    // Nothing, nonsense, or more than is held gives no packet and takes nothing.
    for (const double ms :
         {0.0, -5.0, std::nan(""), std::numeric_limits<double>::infinity(), 1e300, 22.7, 0.01})
        EXPECT_EQ(readMs(ms), -1) << ms;
    // 10 ms = 441 frames exactly; 0.7 ms = 30.87 frames, cut to 30.
    EXPECT_EQ(readMs(10.0), 441 * 4);
    EXPECT_EQ(readMs(0.7), 30 * 4);
    EXPECT_EQ(readMs(12.02), -1);  // 530.08 frames: 530 wanted, 529 held; nothing is lost
    write(2);                      // completes the half frame
    EXPECT_NEAR(held(), 530 * 1000.0 / 44100, 1e-9);
    // What GetDuration reports can be read back whole despite rounding in the milliseconds.
    EXPECT_EQ(readMs(held()), 530 * 4);
    EXPECT_EQ(held(), 0.0);
    write(8);
    ASSERT_EQ(CallSlot(queue.Get(), 13, LONG{0}), S_OK);  // Reset
    EXPECT_EQ(held(), 0.0);
}
