// The host framework's audio decoder on libavcodec: compressed FLV audio payloads in, 16-bit
// interleaved PCM out in exactly the format the decoder was configured with.
//
// Use: Command(16, IAudioFormat) gives the output format (channels and rate of its wave format;
// always signed 16-bit); SetExtraData gives the AAC AudioSpecificConfig. Every input packet
// names its own compressed format (GetFormat: host codec code and wave format); the decoder
// opens, and reopens when that format changes. Write(0, packet) decodes one payload; Read hands
// out everything decoded so far as one PCM packet (whole sample frames), or null when nothing
// is held; Write(1, null) drains the decoder and the resampler; Reset drops everything held and
// starts the decoder afresh.
#pragma once

#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "mediakit/DecoderSupport.h"
#include "mediakit/FfmpegPtr.h"
#include "mediakit/MediaInterfaces.h"
#include "mediakit/Reserved.h"
#include "platform/ComObject.h"
#include "platform/CriticalSection.h"

namespace mediakit {

// An allocator whose construction without a value leaves the element uninitialised: the PCM
// buffer grows by the room that the resampler may fill and is then cut to what it filled, and
// zeroing that room first cost as much as the conversion itself.
template <class T>
struct UninitialisedAllocator : std::allocator<T> {
    UninitialisedAllocator() noexcept = default;
    template <class U>
    UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept {}
    template <class U>
    void construct(U* at) noexcept {
        ::new (static_cast<void*>(at)) U;
    }
    template <class U, class... Args>
    void construct(U* at, Args&&... args) {
        ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
    }
};

class AudioDecoder final : public ComObject<AudioDecoder>, public DecoderSlots<IAudioDecoder, 2> {
  public:
    COM_DELEGATING_IUNKNOWN
    explicit AudioDecoder(ComObjectArgs args) : ComObject(args) {}
    ~AudioDecoder();
    HRESULT FinalConstruct();
    HRESULT InternalQueryInterface(REFIID riid, void** ppv) {
        return QueryInterfaceTable<IAudioDecoder>(this, riid, ppv);
    }

    // IMediaProcessor
    HRESULT STDMETHODCALLTYPE Command(ULONGLONG code, IUnknown* parameter,
                                      IUnknown** outInfo) override;
    HRESULT STDMETHODCALLTYPE GetStatus(LONG* status) override;
    HRESULT STDMETHODCALLTYPE GetDuration(double* ms) override;  // of the PCM held
    HRESULT STDMETHODCALLTYPE Read(LONG flags, double duration, IUnknown** packet) override;
    HRESULT STDMETHODCALLTYPE Write(LONG flags, IUnknown* packet) override;
    HRESULT STDMETHODCALLTYPE Reset(LONG flags) override;
    // IAudioDecoder
    MEDIAKIT_RESERVED(14)
    HRESULT STDMETHODCALLTYPE SetExtraData(const BYTE* data, LONG size) override;
    MEDIAKIT_RESERVED(16)
    MEDIAKIT_RESERVED(17)
    HRESULT STDMETHODCALLTYPE SetParam(BSTR name, VARIANT* value) override;
    HRESULT STDMETHODCALLTYPE GetParam(BSTR name, VARIANT* value) override;

  private:
    // The compressed format an input packet names.
    struct InputFormat {
        LONG codec = 0;
        int channels = 0;
        int rate = 0;
        int bits = 0;
        bool operator==(const InputFormat&) const = default;
    };

    HRESULT Configure(IUnknown* parameter);
    void CloseDecoder();
    void DropHeldState();
    HRESULT WritePayload(IUnknown* packet);
    HRESULT EndInput();
    HRESULT PrepareDecoder(const InputFormat& input);
    HRESULT ParseAndDecode(const std::uint8_t* data, int size);
    HRESULT SendAndCollect(const AVPacket* packet);
    HRESULT Convert(const AVFrame* frame);
    HRESULT FlushResampler();

    CriticalSection lock_;
    // Output.
    bool configured_ = false;
    HRESULT configureResult_ = kDecoderNotConfigured;
    int outputChannels_ = 0;
    int outputRate_ = 0;
    AVChannelLayout outputLayout_{};
    ComPtr<IUnknown> outputFormat_;  // set on every PCM packet
    // Decoded and converted, not yet read.
    std::vector<std::uint8_t, UninitialisedAllocator<std::uint8_t>> pcm_;
    // Input.
    std::vector<std::uint8_t> extraData_;
    InputFormat input_;           // what the open decoder was opened for
    bool haveInput_ = false;      // input_ names a format (its decoder may have failed to open)
    HRESULT inputResult_ = S_OK;  // failure of the last decoder opening
    CodecContextPtr codec_;
    ParserPtr parser_;  // MP3 payloads are cut into whole frames first
    CodecContextPtr parserContext_;
    bool draining_ = false;
    // Conversion of decoded frames to the output; none while they already match it.
    ResampleContextPtr resampler_;
    bool resamplerReady_ = false;
    bool passThrough_ = false;
    int sourceFormat_ = AV_SAMPLE_FMT_NONE;
    int sourceRate_ = 0;
    AVChannelLayout sourceLayout_{};
    PacketPtr packet_;
    PacketPtr parsed_;
    FramePtr frame_;
};

}  // namespace mediakit
