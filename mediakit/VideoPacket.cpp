#include "mediakit/VideoPacket.h"

#include <utility>

extern "C" {
#include <libavutil/imgutils.h>
}

namespace mediakit {

HRESULT VideoPacket::CreateUnpacked(LONG size, std::shared_ptr<const UnpackedPicture> picture,
                                    ComPtr<IMediaPacket>& packet) noexcept {
    if (size < 0 || !picture || !picture->frame) return E_INVALIDARG;
    ComPtr<IMediaPacket> created;
    const HRESULT hr = CreateObject<VideoPacket>(created);
    if (FAILED(hr)) return hr;
    auto* self = static_cast<VideoPacket*>(created.Get());
    self->SetUnmadeSize(static_cast<std::size_t>(size));
    self->picture_ = std::move(picture);
    packet = std::move(created);
    return S_OK;
}

bool VideoPacket::MakeBlock() noexcept {
    if (!picture_) return true;
    BYTE* data = BlockToFill();
    if (data == nullptr) return false;
    const UnpackedPicture& picture = *picture_;
    LONG size = 0;
    (void)GetSize(&size);
    if (av_image_copy_to_buffer(data, size, picture.frame->data, picture.frame->linesize,
                                picture.format, picture.width, picture.height, 1) < 0) {
        return false;
    }
    picture_.reset();
    return true;
}

}  // namespace mediakit
