// VideoFormat: the description of a video stream or a decoded frame (IVideoFormat), a plain
// holder of the values its get/put pairs name. Formats are shared by the packets that carry
// them, so a mutex guards the values.
#pragma once

#include <mutex>

#include "mediakit/MediaInterfaces.h"
#include "mediakit/Reserved.h"
#include "platform/ComObject.h"

namespace mediakit {

struct VideoFormatValues {
    LONG flags = 0;
    LONG codec = 0;
    LONG codecTag = 0;
    LONG bitRate = 0;
    LONG colorSpace = kColorSpaceYuv420;
    LONG alpha = 0;
    LONG width = 0;
    LONG height = 0;
    double frameRate = 0.0;
    LONG displayWidth = 0;
    LONG displayHeight = 0;
    LONG fieldOrder = 0;
    LONG rotation = 0;
};

class VideoFormat final : public ComObject<VideoFormat>, public IVideoFormat {
  public:
    COM_DELEGATING_IUNKNOWN
    explicit VideoFormat(ComObjectArgs args) : ComObject(args) {}
    HRESULT InternalQueryInterface(REFIID riid, void** ppv) {
        return QueryInterfaceTable<IVideoFormat>(this, riid, ppv);
    }

    VideoFormatValues Values() const;
    void SetValues(const VideoFormatValues& values);

    MEDIAKIT_RESERVED(3)
    MEDIAKIT_RESERVED(4)
    MEDIAKIT_RESERVED(5)
    MEDIAKIT_RESERVED(6)
    HRESULT STDMETHODCALLTYPE Duplicate(IUnknown** copy) override;
    MEDIAKIT_RESERVED(8)
    MEDIAKIT_RESERVED(9)
    MEDIAKIT_RESERVED(10)
    MEDIAKIT_RESERVED(11)
    MEDIAKIT_RESERVED(12)
    MEDIAKIT_RESERVED(13)
    MEDIAKIT_RESERVED(14)
    MEDIAKIT_RESERVED(15)
    HRESULT STDMETHODCALLTYPE GetFlags(LONG* value) override;
    HRESULT STDMETHODCALLTYPE SetFlags(LONG value) override;
    HRESULT STDMETHODCALLTYPE GetCodec(LONG* value) override;
    HRESULT STDMETHODCALLTYPE SetCodec(LONG value) override;
    HRESULT STDMETHODCALLTYPE GetCodecTag(LONG* value) override;
    HRESULT STDMETHODCALLTYPE SetCodecTag(LONG value) override;
    HRESULT STDMETHODCALLTYPE GetBitRate(LONG* value) override;
    HRESULT STDMETHODCALLTYPE SetBitRate(LONG value) override;
    HRESULT STDMETHODCALLTYPE GetColorSpace(LONG* value) override;
    HRESULT STDMETHODCALLTYPE SetColorSpace(LONG value) override;
    HRESULT STDMETHODCALLTYPE GetAlpha(LONG* value) override;
    HRESULT STDMETHODCALLTYPE SetAlpha(LONG value) override;
    HRESULT STDMETHODCALLTYPE GetWidth(LONG* value) override;
    HRESULT STDMETHODCALLTYPE SetWidth(LONG value) override;
    HRESULT STDMETHODCALLTYPE GetHeight(LONG* value) override;
    HRESULT STDMETHODCALLTYPE SetHeight(LONG value) override;
    HRESULT STDMETHODCALLTYPE GetFrameRate(double* value) override;
    HRESULT STDMETHODCALLTYPE SetFrameRate(double value) override;
    HRESULT STDMETHODCALLTYPE GetDisplayWidth(LONG* value) override;
    HRESULT STDMETHODCALLTYPE SetDisplayWidth(LONG value) override;
    HRESULT STDMETHODCALLTYPE GetDisplayHeight(LONG* value) override;
    HRESULT STDMETHODCALLTYPE SetDisplayHeight(LONG value) override;
    HRESULT STDMETHODCALLTYPE GetFieldOrder(LONG* value) override;
    HRESULT STDMETHODCALLTYPE SetFieldOrder(LONG value) override;
    HRESULT STDMETHODCALLTYPE GetRotation(LONG* value) override;
    HRESULT STDMETHODCALLTYPE SetRotation(LONG value) override;

  private:
    template <class T>
    HRESULT Get(T VideoFormatValues::*field, T* value) const;
    template <class T>
    HRESULT Put(T VideoFormatValues::*field, T value);

    mutable std::mutex lock_;
    VideoFormatValues values_;
};

}  // namespace mediakit
