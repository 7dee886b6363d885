#include "mediakit/AudioDecoder.h"

#include <algorithm>
#include <cstring>
#include <limits>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include "mediakit/AudioPacket.h"
#include "platform/Com.h"

namespace mediakit {

namespace {

constexpr int kOutputBytesPerSample = 2;  // signed 16-bit
constexpr int kMaxChannels = 8;
constexpr int kMaxSampleRate = 768000;

// A frame's channel layout, or the default order for its channel count when it states none.
void LayoutOf(const AVFrame* frame, AVChannelLayout* layout) {
    av_channel_layout_uninit(layout);
    if (frame->ch_layout.order != AV_CHANNEL_ORDER_UNSPEC &&
        av_channel_layout_check(&frame->ch_layout) &&
        av_channel_layout_copy(layout, &frame->ch_layout) == 0) {
        return;
    }
    av_channel_layout_default(layout, frame->ch_layout.nb_channels);
}

}  // namespace

AudioDecoder::~AudioDecoder() {
    av_channel_layout_uninit(&outputLayout_);
    av_channel_layout_uninit(&sourceLayout_);
}

HRESULT AudioDecoder::FinalConstruct() {
    QuietCodecLog();
    packet_.reset(av_packet_alloc());
    parsed_.reset(av_packet_alloc());
    frame_.reset(av_frame_alloc());
    if (!packet_ || !parsed_ || !frame_) return E_OUTOFMEMORY;
    return S_OK;
}

HRESULT AudioDecoder::Command(ULONGLONG code, IUnknown* parameter, IUnknown** outInfo) {
    if (outInfo != nullptr) *outInfo = nullptr;
    CriticalSectionLock guard(lock_);
    return GuardedCall([&]() -> HRESULT {
        if (static_cast<std::uint32_t>(code) == kProcessorConfigure) return Configure(parameter);
        return S_OK;
    });
}

HRESULT AudioDecoder::GetStatus(LONG* status) {
    if (status == nullptr) return E_POINTER;
    CriticalSectionLock guard(lock_);
    *status = codec_ ? 1 : 0;
    return S_OK;
}

HRESULT AudioDecoder::GetDuration(double* ms) {
    if (ms == nullptr) return E_POINTER;
    CriticalSectionLock guard(lock_);
    // The PCM held for Read.
    const std::size_t frameBytes =
        static_cast<std::size_t>(outputChannels_) * kOutputBytesPerSample;
    *ms = configured_ && frameBytes > 0
              ? static_cast<double>(pcm_.size() / frameBytes) * 1000.0 / outputRate_
              : 0.0;
    return S_OK;
}

HRESULT AudioDecoder::Read(LONG, double, IUnknown** packet) {
    if (packet == nullptr) return E_POINTER;
    *packet = nullptr;
    CriticalSectionLock guard(lock_);
    return GuardedCall([&]() -> HRESULT {
        if (!configured_) return configureResult_;
        if (pcm_.empty()) return inputResult_;
        // One packet holds at most what a LONG size can state, in whole sample frames.
        const std::size_t frameBytes =
            static_cast<std::size_t>(outputChannels_) * kOutputBytesPerSample;
        const std::size_t limit =
            static_cast<std::size_t>(std::numeric_limits<LONG>::max()) / frameBytes * frameBytes;
        const std::size_t bytes = std::min(pcm_.size(), limit);
        ComPtr<IAudioPacket> output;
        BYTE* data = nullptr;
        HRESULT hr = AudioPacket::CreateWithBlock(static_cast<LONG>(bytes), output, &data);
        if (FAILED(hr)) return hr;
        hr = output->SetFormat(outputFormat_.Get());
        if (FAILED(hr)) return hr;
        if (bytes > 0) std::memcpy(data, pcm_.data(), bytes);
        pcm_.erase(pcm_.begin(), pcm_.begin() + static_cast<std::ptrdiff_t>(bytes));
        *packet = output.Detach();
        return S_OK;
    });
}

HRESULT AudioDecoder::Write(LONG flags, IUnknown* packet) {
    CriticalSectionLock guard(lock_);
    return GuardedCall([&]() -> HRESULT {
        if (!configured_) return configureResult_;
        if (flags == kWriteEndOfInput) return EndInput();
        if (flags != kWriteData) return E_INVALIDARG;
        return WritePayload(packet);
    });
}

HRESULT AudioDecoder::Reset(LONG) {
    CriticalSectionLock guard(lock_);
    DropHeldState();
    return configured_ ? S_OK : configureResult_;
}

HRESULT AudioDecoder::SetExtraData(const BYTE* data, LONG size) {
    if (size < 0 || (data == nullptr && size != 0)) return E_INVALIDARG;
    CriticalSectionLock guard(lock_);
    return GuardedCall([&]() -> HRESULT {
        extraData_.assign(data, data + size);
        // An open decoder read the old configuration: the next payload opens it again.
        CloseDecoder();
        return S_OK;
    });
}

HRESULT AudioDecoder::SetParam(BSTR, VARIANT* value) {
    return value == nullptr ? E_POINTER : E_INVALIDARG;
}

HRESULT AudioDecoder::GetParam(BSTR, VARIANT* value) {
    return value == nullptr ? E_POINTER : E_INVALIDARG;
}

HRESULT AudioDecoder::Configure(IUnknown* parameter) {
    CloseDecoder();
    pcm_.clear();
    extraData_.clear();
    inputResult_ = S_OK;
    configured_ = false;
    outputFormat_ = nullptr;
    ComPtr<IAudioFormat> format;
    if (FAILED(QueryTo(parameter, format))) {
        configureResult_ = E_INVALIDARG;
        return configureResult_;
    }
    LONG channels = 0;
    LONG rate = 0;
    WAVEFORMATEX wave{};
    if (SUCCEEDED(format->GetWaveFormat(&wave))) {
        channels = wave.nChannels;
        rate = static_cast<LONG>(std::min<DWORD>(wave.nSamplesPerSec, kMaxSampleRate + 1));
    } else if (FAILED(format->GetChannels(&channels)) || FAILED(format->GetSampleRate(&rate))) {
        channels = 0;
    }
    if (channels < 1 || channels > kMaxChannels || rate < 1 || rate > kMaxSampleRate) {
        configureResult_ = E_INVALIDARG;
        return configureResult_;
    }
    // The packets carry a copy of the caller's format, so that later changes to the caller's
    // object leave the PCM already handed out described as it was.
    ComPtr<IUnknown> copy;
    if (FAILED(format->Duplicate(copy.Put())) || !copy) copy = ComPtr<IUnknown>(format.Get());
    outputFormat_ = std::move(copy);
    outputChannels_ = channels;
    outputRate_ = rate;
    av_channel_layout_uninit(&outputLayout_);
    av_channel_layout_default(&outputLayout_, channels);
    configured_ = true;
    configureResult_ = S_OK;
    return S_OK;
}

void AudioDecoder::CloseDecoder() {
    codec_.reset();
    parser_.reset();
    parserContext_.reset();
    haveInput_ = false;
    input_ = {};
    draining_ = false;
    resampler_.reset();
    resamplerReady_ = false;
}

void AudioDecoder::DropHeldState() {
    // avcodec_flush_buffers leaves the filter state of decoders without a flush of their own
    // (Nellymoser, Speex), and a parser has none at all: the decoder and parser are closed, and
    // the next payload opens fresh ones for the same input, as at the start of the stream.
    codec_.reset();
    parser_.reset();
    parserContext_.reset();
    draining_ = false;
    resampler_.reset();
    resamplerReady_ = false;
    pcm_.clear();
}

HRESULT AudioDecoder::WritePayload(IUnknown* packet) {
    if (packet == nullptr) return E_POINTER;
    ComPtr<IMediaPacket> media;
    if (FAILED(QueryTo(packet, media))) return E_INVALIDARG;

    InputFormat input = input_;
    ComPtr<IUnknown> formatObject;
    ComPtr<IAudioFormat> format;
    if (SUCCEEDED(media->GetFormat(formatObject.Put())) && formatObject &&
        SUCCEEDED(formatObject.As(format))) {
        WAVEFORMATEX wave{};
        if (FAILED(format->GetCodec(&input.codec))) input.codec = 0;
        if (SUCCEEDED(format->GetWaveFormat(&wave))) {
            input.channels = wave.nChannels;
            input.rate = static_cast<int>(std::min<DWORD>(wave.nSamplesPerSec, kMaxSampleRate + 1));
            input.bits = wave.wBitsPerSample;
        }
    } else if (!haveInput_) {
        return E_INVALIDARG;  // the first payload must name its format
    }
    const HRESULT hr = PrepareDecoder(input);
    if (FAILED(hr)) return hr;

    const auto bytes = PacketBytes(media.Get());
    if (bytes.empty()) return S_OK;
    if (!CopyToAvPacket(bytes, packet_.get())) return E_OUTOFMEMORY;
    if (parser_) return ParseAndDecode(packet_->data, packet_->size);
    return SendAndCollect(packet_.get());
}

HRESULT AudioDecoder::PrepareDecoder(const InputFormat& input) {
    if (haveInput_ && input == input_ && (codec_ || FAILED(inputResult_))) {
        if (FAILED(inputResult_)) return inputResult_;
        if (draining_) {
            // New input after the end of input: the drained decoder takes a new run.
            avcodec_flush_buffers(codec_.get());
            draining_ = false;
        }
        return S_OK;
    }
    // Another format: what the old decoder and resampler still hold is handed on first.
    if (codec_ && !draining_) {
        const HRESULT hr = EndInput();
        if (FAILED(hr)) return hr;
    }
    CloseDecoder();
    haveInput_ = true;
    input_ = input;
    inputResult_ = S_OK;

    const AVCodecID id = AudioCodecId(input.codec, input.bits);
    const AVCodec* decoder = id == AV_CODEC_ID_NONE ? nullptr : avcodec_find_decoder(id);
    if (decoder == nullptr) {
        inputResult_ = kDecoderUnsupportedCodec;
        return inputResult_;
    }
    CodecContextPtr context(avcodec_alloc_context3(decoder));
    if (!context) return E_OUTOFMEMORY;
    context->sample_rate = input.rate;
    if (input.channels >= 1 && input.channels <= kMaxChannels) {
        av_channel_layout_default(&context->ch_layout, input.channels);
    }
    if (id == AV_CODEC_ID_AAC && !SetCodecExtraData(context.get(), extraData_)) {
        return E_OUTOFMEMORY;
    }
    const int result = avcodec_open2(context.get(), decoder, nullptr);
    if (result == AVERROR(ENOMEM)) return E_OUTOFMEMORY;
    if (result < 0) {
        inputResult_ = kDecoderOpenFailed;
        return inputResult_;
    }
    if (id == AV_CODEC_ID_MP3) {
        // The parser keeps what it learns from the headers in a context of its own.
        parserContext_.reset(avcodec_alloc_context3(nullptr));
        parser_.reset(av_parser_init(AV_CODEC_ID_MP3));
        if (!parserContext_ || !parser_) return E_OUTOFMEMORY;
        parserContext_->codec_id = AV_CODEC_ID_MP3;
    }
    codec_ = std::move(context);
    return S_OK;
}

// Cuts MP3 payloads into whole frames as ffmpeg's FLV reader does, and decodes each. The parser
// reads padded input; with no input it hands out the frame it still holds.
HRESULT AudioDecoder::ParseAndDecode(const std::uint8_t* data, int size) {
    const bool flushing = data == nullptr;
    for (;;) {
        std::uint8_t* frame = nullptr;
        int frameSize = 0;
        const int used = av_parser_parse2(parser_.get(), parserContext_.get(), &frame, &frameSize,
                                          data, size, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
        if (used < 0) return S_OK;
        if (frameSize > 0) {
            if (!CopyToAvPacket({frame, static_cast<std::size_t>(frameSize)}, parsed_.get())) {
                return E_OUTOFMEMORY;
            }
            const HRESULT hr = SendAndCollect(parsed_.get());
            if (FAILED(hr)) return hr;
        }
        if (flushing) {
            if (frameSize == 0) return S_OK;
            continue;
        }
        if (used == 0 && frameSize == 0) return S_OK;
        data += used;
        size -= used;
        if (size <= 0) return S_OK;
    }
}

HRESULT AudioDecoder::SendAndCollect(const AVPacket* packet) {
    int result = avcodec_send_packet(codec_.get(), packet);
    if (result == AVERROR(ENOMEM)) return E_OUTOFMEMORY;
    // A refused packet (damaged data) is skipped; what the decoder holds is still collected.
    return ReceiveFrames(codec_.get(), frame_.get(),
                         [&](const AVFrame* frame) { return Convert(frame); });
}

HRESULT AudioDecoder::EndInput() {
    if (!codec_ || draining_) return S_OK;
    if (parser_) {
        const HRESULT hr = ParseAndDecode(nullptr, 0);
        if (FAILED(hr)) return hr;
    }
    draining_ = true;
    HRESULT hr = SendAndCollect(nullptr);
    if (FAILED(hr)) return hr;
    hr = FlushResampler();
    resampler_.reset();
    resamplerReady_ = false;
    return hr;
}

// Appends one decoded frame to the PCM held, converted to the output format. Frames already in
// that format are copied as they are; others go through a resampler set up from the frame's own
// format, rate and channels (which may differ from what the FLV header claims), set up again
// when those change.
HRESULT AudioDecoder::Convert(const AVFrame* frame) {
    if (frame->nb_samples <= 0 || frame->ch_layout.nb_channels <= 0 || frame->sample_rate <= 0) {
        return S_OK;
    }
    AVChannelLayout layout{};
    LayoutOf(frame, &layout);
    const bool changed = !resamplerReady_ || frame->format != sourceFormat_ ||
                         frame->sample_rate != sourceRate_ ||
                         av_channel_layout_compare(&layout, &sourceLayout_) != 0;
    if (changed) {
        HRESULT hr = FlushResampler();
        if (FAILED(hr)) {
            av_channel_layout_uninit(&layout);
            return hr;
        }
        resampler_.reset();
        resamplerReady_ = false;
        av_channel_layout_uninit(&sourceLayout_);
        sourceLayout_ = layout;  // takes over what `layout` owns
        layout = {};
        sourceFormat_ = frame->format;
        sourceRate_ = frame->sample_rate;
        passThrough_ = frame->format == AV_SAMPLE_FMT_S16 && frame->sample_rate == outputRate_ &&
                       sourceLayout_.nb_channels == outputChannels_;
        if (!passThrough_) {
            SwrContext* created = nullptr;
            if (swr_alloc_set_opts2(&created, &outputLayout_, AV_SAMPLE_FMT_S16, outputRate_,
                                    &sourceLayout_, static_cast<AVSampleFormat>(sourceFormat_),
                                    sourceRate_, 0, nullptr) < 0) {
                return E_OUTOFMEMORY;
            }
            resampler_.reset(created);
            if (swr_init(resampler_.get()) < 0) {
                resampler_.reset();
                return S_OK;  // a format the resampler refuses: this frame is skipped
            }
        }
        resamplerReady_ = true;
    }
    av_channel_layout_uninit(&layout);

    const std::size_t frameBytes =
        static_cast<std::size_t>(outputChannels_) * kOutputBytesPerSample;
    if (passThrough_) {
        const std::size_t bytes = static_cast<std::size_t>(frame->nb_samples) * frameBytes;
        pcm_.insert(pcm_.end(), frame->data[0], frame->data[0] + bytes);
        return S_OK;
    }
    if (!resampler_) return S_OK;
    const int capacity = swr_get_out_samples(resampler_.get(), frame->nb_samples);
    if (capacity <= 0) return S_OK;
    const std::size_t held = pcm_.size();
    pcm_.resize(held + static_cast<std::size_t>(capacity) * frameBytes);
    std::uint8_t* target = pcm_.data() + held;
    const int converted =
        swr_convert(resampler_.get(), &target, capacity,
                    const_cast<const std::uint8_t**>(frame->extended_data), frame->nb_samples);
    pcm_.resize(held + static_cast<std::size_t>(std::max(converted, 0)) * frameBytes);
    return S_OK;
}

// Hands on what the resampler still holds back (its filter delay).
HRESULT AudioDecoder::FlushResampler() {
    if (!resampler_) return S_OK;
    const std::size_t frameBytes =
        static_cast<std::size_t>(outputChannels_) * kOutputBytesPerSample;
    for (;;) {
        const int capacity = swr_get_out_samples(resampler_.get(), 0);
        if (capacity <= 0) return S_OK;
        const std::size_t held = pcm_.size();
        pcm_.resize(held + static_cast<std::size_t>(capacity) * frameBytes);
        std::uint8_t* target = pcm_.data() + held;
        const int converted = swr_convert(resampler_.get(), &target, capacity, nullptr, 0);
        pcm_.resize(held + static_cast<std::size_t>(std::max(converted, 0)) * frameBytes);
        if (converted <= 0) return S_OK;
    }
}

}  // namespace mediakit
