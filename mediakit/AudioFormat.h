// AudioFormat: the description of an audio stream (IAudioFormat): a host codec code and the
// 18-byte WAVEFORMATEX record. The record is the one place its values live: SetWaveFormat
// stores it whole, the single setters change one of its fields, and the getters read it.
// Formats are shared by the packets that carry them, so a mutex guards the values.
#pragma once

#include <mutex>

#include "mediakit/MediaInterfaces.h"
#include "mediakit/Reserved.h"
#include "platform/ComObject.h"

namespace mediakit {

class AudioFormat final : public ComObject<AudioFormat>, public IAudioFormat {
  public:
    COM_DELEGATING_IUNKNOWN
    explicit AudioFormat(ComObjectArgs args) : ComObject(args) {}
    HRESULT InternalQueryInterface(REFIID riid, void** ppv) {
        return QueryInterfaceTable<IAudioFormat>(this, riid, ppv);
    }

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
    MEDIAKIT_RESERVED(16)
    MEDIAKIT_RESERVED(17)
    HRESULT STDMETHODCALLTYPE GetCodec(LONG* value) override;
    HRESULT STDMETHODCALLTYPE SetCodec(LONG value) override;
    HRESULT STDMETHODCALLTYPE GetWaveFormat(WAVEFORMATEX* value) override;
    HRESULT STDMETHODCALLTYPE SetWaveFormat(const WAVEFORMATEX* value) override;
    MEDIAKIT_RESERVED(22)
    MEDIAKIT_RESERVED(23)
    // The single setters take values that fit their record field (E_INVALIDARG otherwise):
    // channels, bits per sample and block align 0 to 65535, rates 0 and up.
    HRESULT STDMETHODCALLTYPE GetChannels(LONG* value) override;
    HRESULT STDMETHODCALLTYPE SetChannels(LONG value) override;
    HRESULT STDMETHODCALLTYPE GetSampleRate(LONG* value) override;
    HRESULT STDMETHODCALLTYPE SetSampleRate(LONG value) override;
    HRESULT STDMETHODCALLTYPE GetBytesPerSecond(LONG* value) override;
    HRESULT STDMETHODCALLTYPE SetBytesPerSecond(LONG value) override;
    HRESULT STDMETHODCALLTYPE GetBitsPerSample(LONG* value) override;
    HRESULT STDMETHODCALLTYPE SetBitsPerSample(LONG value) override;
    HRESULT STDMETHODCALLTYPE GetBlockAlign(LONG* value) override;
    HRESULT STDMETHODCALLTYPE SetBlockAlign(LONG value) override;

  private:
    template <class Field>
    HRESULT Get(Field WAVEFORMATEX::*field, LONG* value) const;
    template <class Field>
    HRESULT Put(Field WAVEFORMATEX::*field, LONG value);

    mutable std::mutex lock_;
    LONG codec_ = 0;
    // The record is packed; aligned like this its fields sit at their natural alignment, so that
    // the member pointers of Get and Put read and write them as plain fields.
    alignas(4) WAVEFORMATEX wave_{};
};

}  // namespace mediakit
