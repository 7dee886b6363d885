#include "mediakit/AudioPacketQueue.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "mediakit/AudioPacket.h"

namespace mediakit {
namespace {

constexpr LONG kBytesPerSample = 2;  // the queue holds 16-bit PCM

// The sample rate and block align that `packet`'s format gives; false when it has none usable.
bool PcmLayout(IMediaPacket* packet, ComPtr<IUnknown>& format, LONG& rate, LONG& blockAlign) {
    ComPtr<IAudioFormat> audio;
    if (FAILED(packet->GetFormat(format.Put())) || !format || FAILED(format.As(audio))) {
        return false;
    }
    LONG channels = 0;
    if (FAILED(audio->GetSampleRate(&rate)) || FAILED(audio->GetBlockAlign(&blockAlign)) ||
        FAILED(audio->GetChannels(&channels))) {
        return false;
    }
    if (blockAlign == 0 && channels > 0 && channels <= 0xFFFF)
        blockAlign = channels * kBytesPerSample;
    return rate > 0 && blockAlign > 0;
}

}  // namespace

HRESULT AudioPacketQueue::Command(ULONGLONG, IUnknown*, IUnknown** outInfo) {
    if (outInfo != nullptr) *outInfo = nullptr;
    return S_OK;
}
HRESULT AudioPacketQueue::GetStatus(LONG*) {
    return E_NOTIMPL;
}
HRESULT AudioPacketQueue::GetStreamType(LONG*) {
    return E_NOTIMPL;
}
HRESULT AudioPacketQueue::GetCapabilities(LONG, ULONGLONG*) {
    return E_NOTIMPL;
}
HRESULT AudioPacketQueue::GetTime(double*) {
    return E_NOTIMPL;
}
HRESULT AudioPacketQueue::Seek(LONG, double) {
    return E_NOTIMPL;
}
HRESULT AudioPacketQueue::Skip(LONG, double) {
    return E_NOTIMPL;
}

HRESULT AudioPacketQueue::GetDuration(double* ms) {
    if (ms == nullptr) return E_POINTER;
    std::lock_guard guard(lock_);
    *ms = sampleRate_ > 0 ? static_cast<double>(heldBytes_ / blockAlign_) * 1000.0 / sampleRate_
                          : 0.0;
    return S_OK;
}

HRESULT AudioPacketQueue::Read(LONG, double duration, IUnknown** packet) {
    return ReadDuration(duration, packet);
}

HRESULT AudioPacketQueue::Write(LONG flags, IUnknown* packet) {
    if (packet == nullptr) return flags == kWriteEndOfInput ? S_OK : E_POINTER;
    try {
        ComPtr<IMediaPacket> media;
        if (FAILED(QueryTo(packet, media))) return E_INVALIDARG;
        ComPtr<IUnknown> format;
        LONG rate = 0;
        LONG blockAlign = 0;
        if (!PcmLayout(media.Get(), format, rate, blockAlign)) return E_INVALIDARG;
        LONG size = 0;
        BYTE* data = nullptr;
        if (FAILED(media->GetSize(&size)) || FAILED(media->GetData(&data)) || size < 0 ||
            (size > 0 && data == nullptr)) {
            return E_INVALIDARG;
        }
        if (size == 0) return S_OK;
        std::vector<BYTE> block(data, data + size);  // copied outside the lock

        std::lock_guard guard(lock_);
        if (heldBytes_ == 0) {
            frontOffset_ = 0;
            blocks_.clear();
            format_.Swap(format);  // the old format, if any, is released with `format`
            sampleRate_ = rate;
            blockAlign_ = blockAlign;
        } else if (rate != sampleRate_ || blockAlign != blockAlign_) {
            return E_INVALIDARG;
        }
        blocks_.push_back(std::move(block));
        heldBytes_ += static_cast<std::uint64_t>(size);
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT AudioPacketQueue::Reset(LONG) {
    std::deque<std::vector<BYTE>> dropped;
    ComPtr<IUnknown> format;  // released after the lock
    std::lock_guard guard(lock_);
    dropped.swap(blocks_);
    format.Swap(format_);
    frontOffset_ = 0;
    heldBytes_ = 0;
    sampleRate_ = 0;
    blockAlign_ = 0;
    return S_OK;
}

HRESULT AudioPacketQueue::ReadDuration(double ms, IUnknown** packet) {
    if (packet == nullptr) return E_POINTER;
    *packet = nullptr;
    if (!(ms > 0)) return S_OK;  // 0, negative or NaN
    std::lock_guard guard(lock_);
    if (sampleRate_ <= 0 || blockAlign_ <= 0) return S_OK;
    // Compared as doubles first, so that a huge or infinite request never becomes a count.
    const double wanted = std::floor(ms * sampleRate_ / 1000.0 + 1e-6);
    const std::uint64_t heldFrames = heldBytes_ / static_cast<std::uint64_t>(blockAlign_);
    if (!(wanted >= 1.0 && wanted <= static_cast<double>(heldFrames))) return S_OK;
    const auto frames = static_cast<std::uint64_t>(wanted);
    const std::uint64_t bytes = frames * static_cast<std::uint64_t>(blockAlign_);
    if (bytes > static_cast<std::uint64_t>(std::numeric_limits<LONG>::max())) return E_INVALIDARG;

    ComPtr<IAudioPacket> out;
    BYTE* target = nullptr;
    HRESULT hr = AudioPacket::CreateWithBlock(static_cast<LONG>(bytes), out, &target);
    if (FAILED(hr)) return hr;
    std::size_t left = static_cast<std::size_t>(bytes);
    while (left > 0) {
        const std::vector<BYTE>& front = blocks_.front();
        const std::size_t take = std::min(left, front.size() - frontOffset_);
        std::memcpy(target, front.data() + frontOffset_, take);
        target += take;
        left -= take;
        frontOffset_ += take;
        if (frontOffset_ == front.size()) {
            blocks_.pop_front();
            frontOffset_ = 0;
        }
    }
    heldBytes_ -= bytes;
    out->SetFormat(format_.Get());
    out->SetDuration(static_cast<double>(frames) * 1000.0 / sampleRate_);
    ComPtr<IUnknown> identity;
    hr = out.As(identity);
    if (FAILED(hr)) return hr;
    *packet = identity.Detach();
    return S_OK;
}

}  // namespace mediakit
