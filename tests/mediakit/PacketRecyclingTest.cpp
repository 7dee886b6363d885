// Packets whose blocks come from released packets (mediakit/PacketBlocks.h): a recycled block
// must behave as a fresh one, and packets alive at the same time never share one.
#include <algorithm>
#include <thread>
#include <vector>

#include "tests/mediakit/MediaKitTestSupport.h"

namespace {

constexpr LONG kFrameBytes = 1 << 20;  // large enough to be recycled

// A packet of `size` bytes, each set to `value`.
ComPtr<IMediaPacket> Filled(REFCLSID clsid, LONG size, BYTE value) {
    auto packet = Create<IMediaPacket>(clsid);
    EXPECT_EQ(packet->Allocate(size, 0), S_OK);
    BYTE* data = nullptr;
    EXPECT_EQ(packet->GetData(&data), S_OK);
    std::fill(data, data + size, value);
    return packet;
}

// Whether every byte of `packet` from `from` on is `value`.
bool AllBytesAre(IMediaPacket* packet, BYTE value, LONG from = 0) {
    LONG size = 0;
    BYTE* data = nullptr;
    EXPECT_EQ(packet->GetSize(&size), S_OK);
    EXPECT_EQ(packet->GetData(&data), S_OK);
    return std::all_of(data + from, data + size, [&](BYTE b) { return b == value; });
}

}  // namespace

TEST(PacketRecycling, ABlockLeftByAReleasedPacketIsClearedWhereThePacketPromises) {
    Filled(CLSID_VideoPacket, kFrameBytes, 0xAB).Reset();
    auto zeroed = Create<IMediaPacket>(CLSID_VideoPacket);
    ASSERT_EQ(zeroed->Allocate(kFrameBytes - 100, 0), S_OK);
    EXPECT_TRUE(AllBytesAre(zeroed.Get(), 0));

    zeroed.Reset();
    auto silence = Create<IMediaPacket>(CLSID_AudioPacket);
    auto format = Create<IAudioFormat>(CLSID_AudioFormat);
    ASSERT_EQ(format->SetBitsPerSample(8), S_OK);
    ASSERT_EQ(silence->SetFormat(format.Get()), S_OK);
    ASSERT_EQ(silence->Allocate(kFrameBytes, -1), S_OK);
    EXPECT_TRUE(AllBytesAre(silence.Get(), 0x80));

    // Growing keeps the bytes held and zeroes the new ones, also into a recycled block.
    silence.Reset();
    Filled(CLSID_VideoPacket, 2 * kFrameBytes, 0xCD).Reset();
    auto grown = Filled(CLSID_VideoPacket, 1000, 0x11);
    ASSERT_EQ(grown->SetSize(2 * kFrameBytes - 1000), S_OK);
    EXPECT_TRUE(AllBytesAre(grown.Get(), 0, 1000));
    BYTE* data = nullptr;
    ASSERT_EQ(grown->GetData(&data), S_OK);
    EXPECT_TRUE(std::all_of(data, data + 1000, [](BYTE b) { return b == 0x11; }));
}

TEST(PacketRecycling, PacketsAliveTogetherKeepTheirOwnBytesAcrossThreads) {
    // More packets than blocks are kept, released and remade on several threads at once.
    auto worker = [](BYTE seed) {
        for (int round = 0; round < 4; ++round) {
            std::vector<ComPtr<IMediaPacket>> alive;
            for (int i = 0; i < 24; ++i) {
                const LONG size = kFrameBytes / 4 + i * 4096;
                alive.push_back(Filled(i % 2 ? CLSID_VideoPacket : CLSID_AudioPacket, size,
                                       static_cast<BYTE>(seed + i)));
            }
            for (int i = 0; i < 24; ++i) {
                EXPECT_TRUE(AllBytesAre(alive[i].Get(), static_cast<BYTE>(seed + i)));
            }
        }
    };
    std::thread first(worker, BYTE{1});
    std::thread second(worker, BYTE{100});
    worker(BYTE{200});
    first.join();
    second.join();
}
