// AudioPacket: a compressed audio payload or a block of PCM (IAudioPacket, and IMediaPacket
// through the same vtable), with the payload facts of the tag it came from.
#pragma once

#include "mediakit/PacketBase.h"

namespace mediakit {

class AudioPacket final : public PacketBase<AudioPacket, IAudioPacket> {
  public:
    explicit AudioPacket(ComObjectArgs args) : PacketBase(args) {}
    HRESULT InternalQueryInterface(REFIID riid, void** ppv) {
        return QueryInterfaceTable<IAudioPacket, IMediaPacket>(this, riid, ppv);
    }

    HRESULT STDMETHODCALLTYPE SetPayloadInfo(LONG payloadBytes, double tagTimeMs) override {
        payloadBytes_ = payloadBytes;
        tagTimeMs_ = tagTimeMs;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPayloadInfo(LONG* payloadBytes, double* tagTimeMs) override {
        if (payloadBytes == nullptr || tagTimeMs == nullptr) return E_POINTER;
        *payloadBytes = payloadBytes_;
        *tagTimeMs = tagTimeMs_;
        return S_OK;
    }

    // Duplicate carries the payload facts over to the copy.
    void CopyDetails(const AudioPacket& source) {
        payloadBytes_ = source.payloadBytes_;
        tagTimeMs_ = source.tagTimeMs_;
    }

  private:
    LONG payloadBytes_ = 0;
    double tagTimeMs_ = 0.0;
};

}  // namespace mediakit
