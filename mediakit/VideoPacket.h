// VideoPacket: a compressed video payload or a decoded frame (IMediaPacket).
//
// A decoded frame may be handed out unpacked: the packet holds a reference to the decoder's
// picture and packs it into its block (planes one after another, rows without padding) only
// when its bytes are first asked for. Frames that are decoded and then dropped unread, as on the
// way to a seek target, are never copied; copies of such a packet (Duplicate) share the
// picture. Its size is known from the start.
#pragma once

#include <memory>

#include "mediakit/FfmpegPtr.h"
#include "mediakit/PacketBase.h"

namespace mediakit {

// A decoded picture and the layout it is packed in.
struct UnpackedPicture {
    FramePtr frame;  // a reference to the decoder's buffers
    AVPixelFormat format = AV_PIX_FMT_NONE;
    int width = 0;
    int height = 0;
};

class VideoPacket final : public PacketBase<VideoPacket, IMediaPacket> {
  public:
    explicit VideoPacket(ComObjectArgs args) : PacketBase(args) {}
    HRESULT InternalQueryInterface(REFIID riid, void** ppv) {
        return QueryInterfaceTable<IMediaPacket>(this, riid, ppv);
    }

    // A packet of `size` bytes (what packing `picture` gives) whose block is made on first use.
    static HRESULT CreateUnpacked(LONG size, std::shared_ptr<const UnpackedPicture> picture,
                                  ComPtr<IMediaPacket>& packet) noexcept;

    bool BlockUnmade() const noexcept { return picture_ != nullptr; }
    bool MakeBlock() noexcept;
    void CopyDetails(const VideoPacket& source) { picture_ = source.picture_; }

  private:
    std::shared_ptr<const UnpackedPicture> picture_;
};

}  // namespace mediakit
