// AudioPacketQueue: holds decoded PCM (16-bit interleaved) and cuts it into packets of a
// requested duration, always at whole sample frames (IAudioPacketQueue).
//
// The layout of the PCM (sample rate and block align, the bytes of one sample frame) comes from
// the IAudioFormat of the packets written: the first packet written into an empty queue sets it,
// and later packets must match it (E_INVALIDARG otherwise; a Reset, or reading everything held,
// lets another layout in). A block align of 0 in the format is taken as 2 bytes per channel.
// Written bytes are copied; the writer keeps its packet. Packets read out are new AudioPackets
// that carry the format object of the PCM written and their duration (SetDuration); their times
// are the caller's to set.
#pragma once

#include <deque>
#include <mutex>
#include <vector>

#include "mediakit/MediaInterfaces.h"
#include "mediakit/Reserved.h"
#include "platform/ComObject.h"

namespace mediakit {

class AudioPacketQueue final : public ComObject<AudioPacketQueue>, public IAudioPacketQueue {
  public:
    COM_DELEGATING_IUNKNOWN
    explicit AudioPacketQueue(ComObjectArgs args) : ComObject(args) {}
    HRESULT InternalQueryInterface(REFIID riid, void** ppv) {
        return QueryInterfaceTable<IAudioPacketQueue>(this, riid, ppv);
    }

    // No command changes anything; `outInfo` is set to null.
    HRESULT STDMETHODCALLTYPE Command(ULONGLONG code, IUnknown* parameter,
                                      IUnknown** outInfo) override;
    HRESULT STDMETHODCALLTYPE GetStatus(LONG* status) override;
    HRESULT STDMETHODCALLTYPE GetStreamType(LONG* type) override;
    HRESULT STDMETHODCALLTYPE GetCapabilities(LONG flags, ULONGLONG* capabilities) override;
    // Milliseconds of the whole sample frames held.
    HRESULT STDMETHODCALLTYPE GetDuration(double* ms) override;
    HRESULT STDMETHODCALLTYPE GetTime(double* ms) override;
    HRESULT STDMETHODCALLTYPE Seek(LONG flags, double ms) override;
    HRESULT STDMETHODCALLTYPE Skip(LONG flags, double ms) override;
    // The same as ReadDuration(duration).
    HRESULT STDMETHODCALLTYPE Read(LONG flags, double duration, IUnknown** packet) override;
    // Appends the PCM of `packet` (flags 0). Flags 1 with no packet (end of input) does nothing.
    HRESULT STDMETHODCALLTYPE Write(LONG flags, IUnknown* packet) override;
    HRESULT STDMETHODCALLTYPE Reset(LONG flags) override;
    MEDIAKIT_RESERVED(14)
    // A packet of floor(ms × rate / 1000 + 1e-6) whole sample frames when at least that many
    // are held; otherwise (also for 0 or less) null with S_OK. What is left stays queued.
    HRESULT STDMETHODCALLTYPE ReadDuration(double ms, IUnknown** packet) override;

  private:
    std::mutex lock_;
    // The PCM in the order written; the first block's bytes before frontOffset_ are read out.
    std::deque<std::vector<BYTE>> blocks_;
    std::size_t frontOffset_ = 0;
    std::uint64_t heldBytes_ = 0;
    // The layout of the PCM held, set by the first packet written into the empty queue.
    ComPtr<IUnknown> format_;
    LONG sampleRate_ = 0;
    LONG blockAlign_ = 0;
};

}  // namespace mediakit
