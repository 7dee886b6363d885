#include "mediakit/AudioFormat.h"

#include <limits>

#include "mediakit/ClassList.h"

namespace mediakit {

template <class Field>
HRESULT AudioFormat::Get(Field WAVEFORMATEX::*field, LONG* value) const {
    if (value == nullptr) return E_POINTER;
    std::lock_guard guard(lock_);
    *value = static_cast<LONG>(wave_.*field);
    return S_OK;
}

template <class Field>
HRESULT AudioFormat::Put(Field WAVEFORMATEX::*field, LONG value) {
    // A rate field (DWORD) takes any LONG from 0; a WORD field takes 0 to 65535.
    if (value < 0 || static_cast<ULONGLONG>(value) > std::numeric_limits<Field>::max()) {
        return E_INVALIDARG;
    }
    std::lock_guard guard(lock_);
    wave_.*field = static_cast<Field>(value);
    return S_OK;
}

HRESULT AudioFormat::Duplicate(IUnknown** copy) {
    if (copy == nullptr) return E_POINTER;
    *copy = nullptr;
    ComPtr<IAudioFormat> created;
    const HRESULT hr = CreateObject<AudioFormat>(created);
    if (FAILED(hr)) return hr;
    auto* target = static_cast<AudioFormat*>(created.Get());
    {
        std::lock_guard guard(lock_);
        target->codec_ = codec_;
        target->wave_ = wave_;  // nobody else knows `target` yet
    }
    *copy = created.Detach();
    return S_OK;
}

HRESULT AudioFormat::GetCodec(LONG* value) {
    if (value == nullptr) return E_POINTER;
    std::lock_guard guard(lock_);
    *value = codec_;
    return S_OK;
}

HRESULT AudioFormat::SetCodec(LONG value) {
    std::lock_guard guard(lock_);
    codec_ = value;
    return S_OK;
}

HRESULT AudioFormat::GetWaveFormat(WAVEFORMATEX* value) {
    if (value == nullptr) return E_POINTER;
    std::lock_guard guard(lock_);
    *value = wave_;
    return S_OK;
}

HRESULT AudioFormat::SetWaveFormat(const WAVEFORMATEX* value) {
    if (value == nullptr) return E_POINTER;
    std::lock_guard guard(lock_);
    wave_ = *value;
    return S_OK;
}

HRESULT AudioFormat::GetChannels(LONG* value) {
    return Get(&WAVEFORMATEX::nChannels, value);
}
HRESULT AudioFormat::SetChannels(LONG value) {
    return Put(&WAVEFORMATEX::nChannels, value);
}
HRESULT AudioFormat::GetSampleRate(LONG* value) {
    return Get(&WAVEFORMATEX::nSamplesPerSec, value);
}
HRESULT AudioFormat::SetSampleRate(LONG value) {
    return Put(&WAVEFORMATEX::nSamplesPerSec, value);
}
HRESULT AudioFormat::GetBytesPerSecond(LONG* value) {
    return Get(&WAVEFORMATEX::nAvgBytesPerSec, value);
}
HRESULT AudioFormat::SetBytesPerSecond(LONG value) {
    return Put(&WAVEFORMATEX::nAvgBytesPerSec, value);
}
HRESULT AudioFormat::GetBitsPerSample(LONG* value) {
    return Get(&WAVEFORMATEX::wBitsPerSample, value);
}
HRESULT AudioFormat::SetBitsPerSample(LONG value) {
    return Put(&WAVEFORMATEX::wBitsPerSample, value);
}
HRESULT AudioFormat::GetBlockAlign(LONG* value) {
    return Get(&WAVEFORMATEX::nBlockAlign, value);
}
HRESULT AudioFormat::SetBlockAlign(LONG value) {
    return Put(&WAVEFORMATEX::nBlockAlign, value);
}

}  // namespace mediakit
