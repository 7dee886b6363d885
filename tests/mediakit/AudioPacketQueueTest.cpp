#include <cmath>
#include <limits>

#include "tests/mediakit/MediaKitTestSupport.h"

namespace {

class AudioPacketQueueTest : public ::testing::Test {
  protected:
    // 44100 Hz stereo 16-bit: 4 bytes per sample frame.
    AudioPacketQueueTest() {
        const WAVEFORMATEX wave{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
        EXPECT_EQ(format->SetWaveFormat(&wave), S_OK);
    }

    // Writes `size` bytes that continue the running byte pattern.
    HRESULT Write(LONG size, IAudioFormat* packetFormat = nullptr) {
        auto packet = Create<IMediaPacket>(CLSID_AudioPacket);
        EXPECT_EQ(packet->SetFormat(packetFormat ? packetFormat : format.Get()), S_OK);
        EXPECT_EQ(packet->Allocate(size, 0), S_OK);
        BYTE* data = ReadValue<BYTE*>(packet.Get(), &IMediaPacket::GetData);
        for (LONG i = 0; i < size; ++i) data[i] = static_cast<BYTE>(written++ * 7);
        const HRESULT hr = queue->Write(0, packet.Get());
        EXPECT_EQ(packet->Allocate(size, -1), S_OK);  // the queue copied; the packet is ours
        return hr;
    }

    // Reads `ms`; checks that a packet carries the next bytes of the pattern, its duration and
    // format, and returns its size (-1 for no packet).
    LONG Read(double ms) {
        ComPtr<IUnknown> out;
        EXPECT_EQ(queue->ReadDuration(ms, out.Put()), S_OK);
        if (!out) return -1;
        auto packet = out.As<IMediaPacket>();
        const LONG size = ReadValue<LONG>(packet.Get(), &IMediaPacket::GetSize);
        const BYTE* data = ReadValue<BYTE*>(packet.Get(), &IMediaPacket::GetData);
        for (LONG i = 0; i < size; ++i) EXPECT_EQ(data[i], static_cast<BYTE>(read++ * 7));
        EXPECT_NEAR(ReadValue<double>(packet.Get(), &IMediaPacket::GetDuration),
                    size / 4 * 1000.0 / 44100, 1e-9);
        ComPtr<IUnknown> packetFormat;
        EXPECT_EQ(packet->GetFormat(packetFormat.Put()), S_OK);
        EXPECT_EQ(packetFormat.Get(), static_cast<IUnknown*>(format.Get()));
        return size;
    }

    double Held() { return ReadValue<double>(queue.Get(), &IAudioPacketQueue::GetDuration); }

    ComPtr<IAudioPacketQueue> queue = Create<IAudioPacketQueue>(CLSID_AudioPacketQueue);
    ComPtr<IAudioFormat> format = Create<IAudioFormat>(CLSID_AudioFormat);
    unsigned written = 0;
    unsigned read = 0;
};

}  // namespace

TEST_F(AudioPacketQueueTest, CutsAtWholeSampleFramesAndKeepsLeftovers) {
    ASSERT_EQ(Write(1000), S_OK);  // 250 frames
    ASSERT_EQ(Write(3002), S_OK);  // 750.5 frames: half a frame waits for the next write
    EXPECT_NEAR(Held(), 1000 * 1000.0 / 44100, 1e-9);
    // 10 ms = 441 frames exactly; 0.7 ms = 30.87 frames, cut to 30; 0.01 ms is no whole frame.
    EXPECT_EQ(Read(10.0), 441 * 4);
    EXPECT_EQ(Read(0.7), 30 * 4);
    EXPECT_EQ(Read(0.01), -1);
    EXPECT_NEAR(Held(), 529 * 1000.0 / 44100, 1e-9);
    EXPECT_EQ(Read(12.02), -1);  // 530.08 frames: 530 wanted, 529 held; nothing is lost
    ASSERT_EQ(Write(2), S_OK);   // completes the half frame
    EXPECT_NEAR(Held(), 530 * 1000.0 / 44100, 1e-9);
    // What GetDuration reports can be read back whole despite rounding in the milliseconds.
    EXPECT_EQ(Read(Held()), 530 * 4);
    EXPECT_EQ(Held(), 0.0);
}

TEST_F(AudioPacketQueueTest, RequestsOfNothingOrTooMuchGiveNoPacket) {
    ASSERT_EQ(Write(400), S_OK);
    for (const double ms :
         {0.0, -5.0, std::nan(""), std::numeric_limits<double>::infinity(), 1e300, 3.0}) {
        EXPECT_EQ(Read(ms), -1) << ms;
    }
    EXPECT_NEAR(Held(), 100 * 1000.0 / 44100, 1e-9);
    EXPECT_EQ(queue->ReadDuration(1.0, nullptr), E_POINTER);
}

TEST_F(AudioPacketQueueTest, LayoutComesFromTheFirstPacketUntilReset) {
    ASSERT_EQ(Write(8), S_OK);
    auto mono = Create<IAudioFormat>(CLSID_AudioFormat);
    const WAVEFORMATEX wave{WAVE_FORMAT_PCM, 1, 44100, 88200, 2, 16, 0};
    ASSERT_EQ(mono->SetWaveFormat(&wave), S_OK);
    EXPECT_EQ(Write(8, mono.Get()), E_INVALIDARG);  // another layout while stereo is held
    ASSERT_EQ(queue->Reset(0), S_OK);
    EXPECT_EQ(Held(), 0.0);
    ASSERT_EQ(Write(8, mono.Get()), S_OK);
    EXPECT_NEAR(Held(), 4 * 1000.0 / 44100, 1e-9);

    auto formatless = Create<IMediaPacket>(CLSID_AudioPacket);
    ASSERT_EQ(formatless->Allocate(8, 0), S_OK);
    EXPECT_EQ(queue->Write(0, formatless.Get()), E_INVALIDARG);
}
