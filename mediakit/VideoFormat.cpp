#include "mediakit/VideoFormat.h"

#include "mediakit/ClassList.h"

namespace mediakit {

VideoFormatValues VideoFormat::Values() const {
    std::lock_guard guard(lock_);
    return values_;
}

void VideoFormat::SetValues(const VideoFormatValues& values) {
    std::lock_guard guard(lock_);
    values_ = values;
}

template <class T>
HRESULT VideoFormat::Get(T VideoFormatValues::*field, T* value) const {
    if (value == nullptr) return E_POINTER;
    std::lock_guard guard(lock_);
    *value = values_.*field;
    return S_OK;
}

template <class T>
HRESULT VideoFormat::Put(T VideoFormatValues::*field, T value) {
    std::lock_guard guard(lock_);
    values_.*field = value;
    return S_OK;
}

HRESULT VideoFormat::Duplicate(IUnknown** copy) {
    if (copy == nullptr) return E_POINTER;
    *copy = nullptr;
    ComPtr<IVideoFormat> created;
    const HRESULT hr = CreateObject<VideoFormat>(created);
    if (FAILED(hr)) return hr;
    static_cast<VideoFormat*>(created.Get())->SetValues(Values());
    *copy = created.Detach();
    return S_OK;
}

using V = VideoFormatValues;
HRESULT VideoFormat::GetFlags(LONG* value) {
    return Get(&V::flags, value);
}
HRESULT VideoFormat::SetFlags(LONG value) {
    return Put(&V::flags, value);
}
HRESULT VideoFormat::GetCodec(LONG* value) {
    return Get(&V::codec, value);
}
HRESULT VideoFormat::SetCodec(LONG value) {
    return Put(&V::codec, value);
}
HRESULT VideoFormat::GetCodecTag(LONG* value) {
    return Get(&V::codecTag, value);
}
HRESULT VideoFormat::SetCodecTag(LONG value) {
    return Put(&V::codecTag, value);
}
HRESULT VideoFormat::GetBitRate(LONG* value) {
    return Get(&V::bitRate, value);
}
HRESULT VideoFormat::SetBitRate(LONG value) {
    return Put(&V::bitRate, value);
}
HRESULT VideoFormat::GetColorSpace(LONG* value) {
    return Get(&V::colorSpace, value);
}
HRESULT VideoFormat::SetColorSpace(LONG value) {
    return Put(&V::colorSpace, value);
}
HRESULT VideoFormat::GetAlpha(LONG* value) {
    return Get(&V::alpha, value);
}
HRESULT VideoFormat::SetAlpha(LONG value) {
    return Put(&V::alpha, value);
}
HRESULT VideoFormat::GetWidth(LONG* value) {
    return Get(&V::width, value);
}
HRESULT VideoFormat::SetWidth(LONG value) {
    return Put(&V::width, value);
}
HRESULT VideoFormat::GetHeight(LONG* value) {
    return Get(&V::height, value);
}
HRESULT VideoFormat::SetHeight(LONG value) {
    return Put(&V::height, value);
}
HRESULT VideoFormat::GetFrameRate(double* value) {
    return Get(&V::frameRate, value);
}
HRESULT VideoFormat::SetFrameRate(double value) {
    return Put(&V::frameRate, value);
}
HRESULT VideoFormat::GetDisplayWidth(LONG* value) {
    return Get(&V::displayWidth, value);
}
HRESULT VideoFormat::SetDisplayWidth(LONG value) {
    return Put(&V::displayWidth, value);
}
HRESULT VideoFormat::GetDisplayHeight(LONG* value) {
    return Get(&V::displayHeight, value);
}
HRESULT VideoFormat::SetDisplayHeight(LONG value) {
    return Put(&V::displayHeight, value);
}
HRESULT VideoFormat::GetFieldOrder(LONG* value) {
    return Get(&V::fieldOrder, value);
}
HRESULT VideoFormat::SetFieldOrder(LONG value) {
    return Put(&V::fieldOrder, value);
}
HRESULT VideoFormat::GetRotation(LONG* value) {
    return Get(&V::rotation, value);
}
HRESULT VideoFormat::SetRotation(LONG value) {
    return Put(&V::rotation, value);
}

}  // namespace mediakit
