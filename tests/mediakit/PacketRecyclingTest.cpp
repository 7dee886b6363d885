// Packets whose blocks come from released packets (mediakit/PacketBlocks.h): a recycled block
// must behave as a fresh one, and packets alive at the same time never share one.
#include <algorithm>
#include <thread>
#include <vector>

#include "tests/mediakit/MediaKitTestSupport.h"

namespace {

constexpr LONG kFrameBytes = 1 << 20;  // large enough to be recycled

// Whether every byte of `packet` is `value`.
bool AllBytesAre(IMediaPacket* packet, BYTE value) {
    const LONG size = ReadValue<LONG>(packet, &IMediaPacket::GetSize);
    BYTE* data = ReadValue<BYTE*>(packet, &IMediaPacket::GetData);
    return std::all_of(data, data + size, [&](BYTE b) { return b == value; });
}

// A packet of `size` bytes, zeroed by Allocate (whatever block it got), then each set to `value`.
ComPtr<IMediaPacket> Filled(REFCLSID clsid, LONG size, BYTE value) {
    auto packet = Create<IMediaPacket>(clsid);
    EXPECT_EQ(packet->Allocate(size, 0), S_OK);
    EXPECT_TRUE(AllBytesAre(packet.Get(), 0)) << "bytes of a released packet";
    BYTE* data = ReadValue<BYTE*>(packet.Get(), &IMediaPacket::GetData);
    std::fill(data, data + size, value);
    return packet;
}

}  // namespace

// More packets than blocks are kept, released and remade on three threads at once: each block
// taken again is zeroed (never the bytes a released packet left), and packets alive together
// keep their own bytes.
TEST(PacketRecycling, RecycledBlocksAreClearedAndNeverSharedAcrossThreads) {
    auto worker = [](BYTE seed) {
        for (int round = 0; round < 4; ++round) {
            std::vector<ComPtr<IMediaPacket>> alive;
            for (int i = 0; i < 24; ++i) {
                alive.push_back(Filled(i % 2 ? CLSID_VideoPacket : CLSID_AudioPacket,
                                       kFrameBytes / 4 + i * 4096, static_cast<BYTE>(seed + i)));
            }
            for (int i = 0; i < 24; ++i)
                EXPECT_TRUE(AllBytesAre(alive[i].Get(), static_cast<BYTE>(seed + i)));
        }
    };
    std::thread first(worker, BYTE{1}), second(worker, BYTE{100});
    worker(BYTE{200});
    first.join();
    second.join();
}
