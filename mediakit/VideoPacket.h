// VideoPacket: a compressed video payload or a decoded frame (IMediaPacket).
#pragma once

#include "mediakit/PacketBase.h"

namespace mediakit {

class VideoPacket final : public PacketBase<VideoPacket, IMediaPacket> {
  public:
    explicit VideoPacket(ComObjectArgs args) : PacketBase(args) {}
    HRESULT InternalQueryInterface(REFIID riid, void** ppv) {
        return QueryInterfaceTable<IMediaPacket>(this, riid, ppv);
    }
};

}  // namespace mediakit
