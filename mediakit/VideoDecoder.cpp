#include "mediakit/VideoDecoder.h"

#include <cmath>
#include <cstring>
#include <limits>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include "mediakit/DecoderSupport.h"
#include "mediakit/VideoPacket.h"
#include "platform/Com.h"

namespace mediakit {

namespace {

constexpr wchar_t kDecodeColorSpace[] = L"DecodeColorSpace";

bool IsNamed(BSTR name, const wchar_t* expected) {
    return name != nullptr && std::wcscmp(name, expected) == 0;
}

AVPixelFormat OutputPixelFormat(LONG colorSpace) {
    switch (colorSpace) {
        case kColorSpaceBgr24:
            return AV_PIX_FMT_BGR24;
        case kColorSpaceBgra32:
            return AV_PIX_FMT_BGRA;
        default:
            return AV_PIX_FMT_YUV420P;
    }
}

LONG ColorSpaceOf(AVPixelFormat format) {
    switch (format) {
        case AV_PIX_FMT_BGR24:
            return kColorSpaceBgr24;
        case AV_PIX_FMT_BGRA:
            return kColorSpaceBgra32;
        default:
            return kColorSpaceYuv420;
    }
}

AVCodecID ScreenCodecOf(ScreenVideoVersion version) {
    return version == ScreenVideoVersion::kVersion2 ? AV_CODEC_ID_FLASHSV2 : AV_CODEC_ID_FLASHSV;
}

ScreenVideoVersion OtherScreenVersion(ScreenVideoVersion version) {
    return version == ScreenVideoVersion::kVersion2 ? ScreenVideoVersion::kVersion1
                                                    : ScreenVideoVersion::kVersion2;
}

// A same-size converter set up as ffmpeg's scale filter sets it up: bicubic, and planar 4:2:0
// with its chroma sited vertically between the rows (MPEG-2 convention, position 128 of 256).
ScaleContextPtr NewScaler(int width, int height, AVPixelFormat source, AVPixelFormat target) {
    constexpr int kMpeg2ChromaPosition = 128;
    ScaleContextPtr scaler(sws_alloc_context());
    if (!scaler) return nullptr;
    SwsContext* context = scaler.get();
    if (av_opt_set_int(context, "srcw", width, 0) < 0 ||
        av_opt_set_int(context, "srch", height, 0) < 0 ||
        av_opt_set_int(context, "src_format", source, 0) < 0 ||
        av_opt_set_int(context, "dstw", width, 0) < 0 ||
        av_opt_set_int(context, "dsth", height, 0) < 0 ||
        av_opt_set_int(context, "dst_format", target, 0) < 0 ||
        av_opt_set_int(context, "sws_flags", SWS_BICUBIC, 0) < 0) {
        return nullptr;
    }
    if (source == AV_PIX_FMT_YUV420P) {
        av_opt_set_int(context, "src_v_chr_pos", kMpeg2ChromaPosition, 0);
    }
    if (target == AV_PIX_FMT_YUV420P) {
        av_opt_set_int(context, "dst_v_chr_pos", kMpeg2ChromaPosition, 0);
    }
    if (sws_init_context(context, nullptr, nullptr) < 0) return nullptr;
    return scaler;
}

// YUV to RGB as ffmpeg's scale filter sets it up: the frame's own matrix (BT.601 when it names
// none or one the scaler lacks) and the frame's range when it states one.
void MatchColorDetails(SwsContext* scaler, const AVFrame* frame) {
    int* inverseTable = nullptr;
    int* table = nullptr;
    int sourceFull = 0;
    int targetFull = 0;
    int brightness = 0;
    int contrast = 0;
    int saturation = 0;
    if (sws_getColorspaceDetails(scaler, &inverseTable, &sourceFull, &table, &targetFull,
                                 &brightness, &contrast, &saturation) < 0) {
        return;
    }
    int matrix = frame->colorspace;
    if (matrix < 1 || matrix > 10 || matrix == 8) matrix = AVCOL_SPC_BT470BG;
    const int* coefficients = sws_getCoefficients(matrix);
    if (frame->color_range != AVCOL_RANGE_UNSPECIFIED) {
        sourceFull = frame->color_range == AVCOL_RANGE_JPEG;
    }
    sws_setColorspaceDetails(scaler, coefficients, sourceFull, coefficients, targetFull, brightness,
                             contrast, saturation);
}

// A packet's time as libavcodec's pts, in whole milliseconds; none when it has no usable time.
std::int64_t PacketPts(IMediaPacket* packet) {
    // Beyond this a double no longer holds every whole millisecond.
    constexpr double kLargestTime = 9007199254740992.0;  // 2^53
    double time = 0.0;
    if (FAILED(packet->GetTime(&time)) || !(time >= 0.0) || time > kLargestTime) {
        return AV_NOPTS_VALUE;
    }
    return std::llround(time);
}

}  // namespace

HRESULT VideoDecoder::FinalConstruct() {
    QuietCodecLog();
    packet_.reset(av_packet_alloc());
    frame_.reset(av_frame_alloc());
    converted_.reset(av_frame_alloc());
    if (!packet_ || !frame_ || !converted_) return E_OUTOFMEMORY;
    return S_OK;
}

HRESULT VideoDecoder::Command(ULONGLONG code, IUnknown* parameter, IUnknown** outInfo) {
    if (outInfo != nullptr) *outInfo = nullptr;
    CriticalSectionLock guard(lock_);
    return GuardedCall([&]() -> HRESULT {
        switch (static_cast<std::uint32_t>(code)) {
            case kProcessorConfigure:
                return Configure(parameter);
            case kProcessorStart:
                return Start();
            case kProcessorStop:
                Stop();
                return S_OK;
            default:
                return S_OK;
        }
    });
}

HRESULT VideoDecoder::GetStatus(LONG* status) {
    if (status == nullptr) return E_POINTER;
    CriticalSectionLock guard(lock_);
    *status = started_ ? 1 : 0;
    return S_OK;
}

HRESULT VideoDecoder::Read(LONG, double, IUnknown** packet) {
    if (packet == nullptr) return E_POINTER;
    *packet = nullptr;
    CriticalSectionLock guard(lock_);
    return GuardedCall([&]() -> HRESULT {
        if (!configured_) return configureResult_;
        if (ready_.empty() && codec_) {
            int collected = 0;
            const HRESULT hr = CollectFrames(&collected);
            if (FAILED(hr)) return hr;
        }
        if (ready_.empty()) return S_OK;
        ComPtr<IMediaPacket> frame = std::move(ready_.front());
        ready_.pop_front();
        *packet = frame.Detach();
        return S_OK;
    });
}

HRESULT VideoDecoder::Write(LONG flags, IUnknown* packet) {
    CriticalSectionLock guard(lock_);
    return GuardedCall([&]() -> HRESULT {
        if (!configured_) return configureResult_;
        if (flags == kWriteEndOfInput) return EndInput();
        if (flags != kWriteData) return E_INVALIDARG;
        return WriteFrame(packet);
    });
}

HRESULT VideoDecoder::Reset(LONG) {
    CriticalSectionLock guard(lock_);
    DropHeldFrames();
    if (codec_) avcodec_flush_buffers(codec_.get());
    draining_ = false;
    // The references of the frames that follow are gone: decoding resumes at a keyframe.
    awaitingKeyFrame_ = true;
    return configured_ ? S_OK : configureResult_;
}

HRESULT VideoDecoder::SetExtraData(const BYTE* data, LONG size) {
    if (size < 0 || (data == nullptr && size != 0)) return E_INVALIDARG;
    CriticalSectionLock guard(lock_);
    return GuardedCall([&]() -> HRESULT {
        extraData_.assign(data, data + size);
        nalLengthSize_ = AvcNalLengthSize(extraData_);
        if (codec_ && codecId_ == AV_CODEC_ID_H264) {
            // libavcodec's H.264 decoder takes new parameter sets in the stream: the frames it
            // holds for reordering are kept.
            newExtraData_ = extraData_;
            return S_OK;
        }
        // A decoder already open read the old bytes at its opening: it starts again.
        if (codec_ && codecId_ != AV_CODEC_ID_FLASHSV) {
            DropHeldFrames();
            codec_.reset();
            openCodecId_ = AV_CODEC_ID_NONE;
            if (started_) return OpenCodec(codecId_);
        }
        return S_OK;
    });
}

HRESULT VideoDecoder::SetParam(BSTR name, VARIANT* value) {
    if (value == nullptr) return E_POINTER;
    if (!IsNamed(name, kDecodeColorSpace)) return E_INVALIDARG;
    LONG colorSpace;
    switch (value->vt) {
        case VT_I4:
        case VT_INT:
            colorSpace = value->lVal;
            break;
        case VT_I2:
            colorSpace = value->iVal;
            break;
        default:
            return DISP_E_TYPEMISMATCH;
    }
    CriticalSectionLock guard(lock_);
    // Values other than the three colour spaces decode as planar YUV 4:2:0.
    colorSpace_ = ColorSpaceOf(OutputPixelFormat(colorSpace));
    return S_OK;
}

HRESULT VideoDecoder::GetParam(BSTR name, VARIANT* value) {
    if (value == nullptr) return E_POINTER;
    if (!IsNamed(name, kDecodeColorSpace)) return E_INVALIDARG;
    CriticalSectionLock guard(lock_);
    VariantClear(value);
    value->vt = VT_I4;
    value->lVal = colorSpace_;
    return S_OK;
}

HRESULT VideoDecoder::Configure(IUnknown* parameter) {
    Stop();
    configured_ = false;
    extraData_.clear();
    newExtraData_.clear();
    nalLengthSize_ = AvcNalLengthSize(extraData_);
    screenVersion_ = ScreenVideoVersion::kUnknown;
    screenVersionSettled_ = false;
    keyMarksSeen_ = false;
    awaitingKeyFrame_ = false;
    ComPtr<IVideoFormat> format;
    if (FAILED(QueryTo(parameter, format))) {
        configureResult_ = E_INVALIDARG;
        return configureResult_;
    }
    LONG hostCodec = 0;
    double frameRate = 0.0;
    if (FAILED(format->GetCodec(&hostCodec))) hostCodec = 0;
    if (FAILED(format->GetFrameRate(&frameRate))) frameRate = 0.0;
    if (FAILED(format->GetWidth(&frameWidth_))) frameWidth_ = 0;
    if (FAILED(format->GetHeight(&frameHeight_))) frameHeight_ = 0;
    const AVCodecID id = VideoCodecId(hostCodec);
    if (id == AV_CODEC_ID_NONE || avcodec_find_decoder(id) == nullptr) {
        configureResult_ = kDecoderUnsupportedCodec;
        return configureResult_;
    }
    hostCodec_ = hostCodec;
    codecId_ = id;
    frameRate_ = frameRate;
    configured_ = true;
    configureResult_ = S_OK;
    return S_OK;
}

HRESULT VideoDecoder::Start() {
    if (!configured_) return configureResult_;
    started_ = true;
    // Screen video opens its decoder at the first frame, once the version is known.
    if (codec_ || codecId_ == AV_CODEC_ID_FLASHSV) return S_OK;
    return OpenCodec(codecId_);
}

void VideoDecoder::Stop() {
    DropHeldFrames();
    codec_.reset();
    openCodecId_ = AV_CODEC_ID_NONE;
    scaler_.reset();
    started_ = false;
    draining_ = false;
    awaitingKeyFrame_ = false;
    screenLastTryDecoded_ = false;
}

void VideoDecoder::DropHeldFrames() {
    ready_.clear();
}

HRESULT VideoDecoder::OpenCodec(AVCodecID id) {
    codec_.reset();
    openCodecId_ = AV_CODEC_ID_NONE;
    draining_ = false;
    newExtraData_.clear();  // the decoder opens with the latest record
    const AVCodec* decoder = avcodec_find_decoder(id);
    if (decoder == nullptr) return kDecoderUnsupportedCodec;
    CodecContextPtr context(avcodec_alloc_context3(decoder));
    if (!context) return E_OUTOFMEMORY;
    // The AVC configuration record, or the VP6 adjustment byte whose two halves crop the coded
    // size (libavcodec reads it as extradata[0]).
    if (id == AV_CODEC_ID_H264 || id == AV_CODEC_ID_VP6F || id == AV_CODEC_ID_VP6A) {
        if (!SetCodecExtraData(context.get(), extraData_)) return E_OUTOFMEMORY;
    }
    SetVideoDecoderThreads(context.get(), frameWidth_, frameHeight_);
    context->max_pixels = kMaxFramePixels;
    const int result = avcodec_open2(context.get(), decoder, nullptr);
    if (result == AVERROR(ENOMEM)) return E_OUTOFMEMORY;
    if (result < 0) return kDecoderOpenFailed;
    codec_ = std::move(context);
    openCodecId_ = id;
    return S_OK;
}

bool VideoDecoder::IsKeyFrame(std::span<const std::uint8_t> frame, bool marked) const {
    if (marked) return true;
    switch (codecId_) {
        case AV_CODEC_ID_FLV1:
            return IsSorensonKeyFrame(frame);
        case AV_CODEC_ID_VP6F:
            return IsVp6KeyFrame(frame, false);
        case AV_CODEC_ID_VP6A:
            return IsVp6KeyFrame(frame, true);
        case AV_CODEC_ID_H264:
            return IsH264KeyFrame(frame, nalLengthSize_);
        case AV_CODEC_ID_FLASHSV: {
            // Once the source marks keyframes, an unmarked screen video frame is none: a
            // version 2 inter frame may code every block without naming the keyframe.
            if (keyMarksSeen_) return false;
            ScreenVideoVersion version = screenVersion_;
            if (!screenVersionSettled_) version = ClassifyScreenVideo(frame);
            return ParseScreenVideo(frame, version).keyFrame;
        }
        default:
            return false;
    }
}

HRESULT VideoDecoder::WriteFrame(IUnknown* packet) {
    ComPtr<IMediaPacket> media;
    if (packet == nullptr) return E_POINTER;
    if (FAILED(QueryTo(packet, media))) return E_INVALIDARG;
    const auto bytes = PacketBytes(media.Get());
    if (bytes.empty()) return S_OK;  // an empty payload holds no frame
    VARIANT_BOOL mark = VARIANT_FALSE;
    const bool marked = SUCCEEDED(media->GetKeyFrame(&mark)) && mark != VARIANT_FALSE;
    if (marked) keyMarksSeen_ = true;

    HRESULT hr = Start();
    if (FAILED(hr)) return hr;
    if (draining_) {
        // New input after the end of input: the drained decoder takes a new run.
        if (codec_) avcodec_flush_buffers(codec_.get());
        draining_ = false;
    }
    const bool keyFrame = IsKeyFrame(bytes, marked);
    if (awaitingKeyFrame_) {
        if (!keyFrame) return S_OK;
        awaitingKeyFrame_ = false;
    }
    if (!CopyToAvPacket(bytes, packet_.get())) return E_OUTOFMEMORY;
    if (keyFrame) packet_->flags |= AV_PKT_FLAG_KEY;
    packet_->pts = PacketPts(media.Get());
    if (!AttachNewExtraData()) return E_OUTOFMEMORY;
    if (codecId_ == AV_CODEC_ID_FLASHSV) return WriteScreenVideo(keyFrame);
    int collected = 0;
    return Decode(packet_.get(), &collected);
}

bool VideoDecoder::AttachNewExtraData() {
    if (newExtraData_.empty()) return true;
    if (newExtraData_.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        newExtraData_.clear();
        return true;
    }
    // The packet owns the side data block once it is added; the record is sent once.
    auto* block = static_cast<std::uint8_t*>(av_malloc(newExtraData_.size()));
    if (block == nullptr) return false;
    std::memcpy(block, newExtraData_.data(), newExtraData_.size());
    if (av_packet_add_side_data(packet_.get(), AV_PKT_DATA_NEW_EXTRADATA, block,
                                newExtraData_.size()) < 0) {
        av_free(block);
        return false;
    }
    newExtraData_.clear();
    return true;
}

HRESULT VideoDecoder::WriteScreenVideo(bool keyFrame) {
    const std::span<const std::uint8_t> bytes(packet_->data,
                                              static_cast<std::size_t>(packet_->size));
    int collected = 0;
    HRESULT hr = S_OK;
    if (screenVersionSettled_) {
        if (!codec_) {
            if (!keyFrame) return S_OK;
            hr = OpenCodec(ScreenCodecOf(screenVersion_));
            if (FAILED(hr)) return hr;
        }
        hr = Decode(packet_.get(), &collected);
        if (FAILED(hr) || collected > 0 || !keyFrame) return hr;
        // A refused keyframe. libavcodec's screen video decoders keep the size of their first
        // frame and refuse frames of another (a new size, or an old one taken from a damaged
        // frame): a fresh decoder tries once more.
        hr = OpenCodec(ScreenCodecOf(screenVersion_));
        if (FAILED(hr)) return hr;
        return Decode(packet_.get(), &collected);
    }
    // Both versions share one codec code. The frame's layout names the version, and a keyframe
    // that decodes under it settles the choice. A frame that fits neither layout is tried with
    // both decoders and settles nothing. A decoder that refused a frame is not trusted with the
    // next: it may have taken the refused frame's size.
    const ScreenVideoVersion classified = ClassifyScreenVideo(bytes);
    const ScreenVideoVersion first =
        classified == ScreenVideoVersion::kUnknown ? ScreenVideoVersion::kVersion1 : classified;
    for (ScreenVideoVersion version : {first, OtherScreenVersion(first)}) {
        if (classified != ScreenVideoVersion::kUnknown && version != classified) break;
        if (openCodecId_ != ScreenCodecOf(version) || !screenLastTryDecoded_) {
            hr = OpenCodec(ScreenCodecOf(version));
            if (FAILED(hr)) return hr;
        }
        hr = Decode(packet_.get(), &collected);
        if (FAILED(hr)) return hr;
        screenLastTryDecoded_ = collected > 0;
        if (screenLastTryDecoded_) {
            screenVersion_ = version;
            screenVersionSettled_ = keyFrame && classified != ScreenVideoVersion::kUnknown;
            return S_OK;
        }
    }
    return S_OK;
}

HRESULT VideoDecoder::EndInput() {
    if (!codec_ || draining_) return S_OK;
    draining_ = true;
    int collected = 0;
    return Decode(nullptr, &collected);
}

HRESULT VideoDecoder::Decode(const AVPacket* packet, int* collected) {
    *collected = 0;
    int result = avcodec_send_packet(codec_.get(), packet);
    if (result == AVERROR(EAGAIN)) {
        // The decoder holds output that must leave first.
        const HRESULT hr = CollectFrames(collected);
        if (FAILED(hr)) return hr;
        result = avcodec_send_packet(codec_.get(), packet);
    }
    if (result == AVERROR(ENOMEM)) return E_OUTOFMEMORY;
    // Any other refusal (damaged data, a packet after the end) drops this frame only.
    int more = 0;
    const HRESULT hr = CollectFrames(&more);
    *collected += more;
    return hr;
}

HRESULT VideoDecoder::CollectFrames(int* collected) {
    *collected = 0;
    return ReceiveFrames(codec_.get(), frame_.get(), [&](const AVFrame* frame) {
        const HRESULT hr = Deliver(frame);
        if (hr == S_OK) ++*collected;
        return hr;
    });
}

// Turns a decoded frame into an output packet in the configured colour space, planes packed
// without padding (at once when converted, else when first read: mediakit/VideoPacket.h).
// S_FALSE when the frame cannot be converted (it is skipped).
HRESULT VideoDecoder::Deliver(const AVFrame* frame) {
    const AVPixelFormat target = OutputPixelFormat(colorSpace_);
    const auto source = static_cast<AVPixelFormat>(frame->format);
    const int width = frame->width;
    const int height = frame->height;
    if (width <= 0 || height <= 0 || source == AV_PIX_FMT_NONE) return S_FALSE;
    const int size = av_image_get_buffer_size(target, width, height, 1);
    if (size <= 0) return S_FALSE;

    ComPtr<IMediaPacket> output;
    if (source == target) {
        // Nothing to convert: the packet packs the picture when its bytes are first asked for,
        // so a frame that is dropped unread (as on the way to a seek target) is never copied.
        auto unpacked = std::make_shared<UnpackedPicture>();
        unpacked->frame.reset(av_frame_alloc());
        if (!unpacked->frame || av_frame_ref(unpacked->frame.get(), frame) < 0) {
            return E_OUTOFMEMORY;
        }
        unpacked->format = target;
        unpacked->width = width;
        unpacked->height = height;
        const HRESULT hr = VideoPacket::CreateUnpacked(size, std::move(unpacked), output);
        if (FAILED(hr)) return hr;
        return DescribeFrame(frame, output.Get());
    }

    // Converted into an aligned frame first: the scaler's vector code may write whole blocks
    // past a row's last pixel.
    if (!scaler_ || scalerWidth_ != width || scalerHeight_ != height || scalerSource_ != source ||
        scalerTarget_ != target) {
        scaler_ = NewScaler(width, height, source, target);
        if (!scaler_) return S_FALSE;
        scalerWidth_ = width;
        scalerHeight_ = height;
        scalerSource_ = source;
        scalerTarget_ = target;
    }
    MatchColorDetails(scaler_.get(), frame);
    if (converted_->width != width || converted_->height != height ||
        converted_->format != target) {
        av_frame_unref(converted_.get());
        converted_->width = width;
        converted_->height = height;
        converted_->format = target;
        if (av_frame_get_buffer(converted_.get(), 0) < 0) {
            av_frame_unref(converted_.get());
            return E_OUTOFMEMORY;
        }
    }
    sws_scale(scaler_.get(), frame->data, frame->linesize, 0, height, converted_->data,
              converted_->linesize);
    const AVFrame* picture = converted_.get();

    // The converted frame is copied once, straight into the packet's block.
    BYTE* data = nullptr;
    const HRESULT hr = VideoPacket::CreateWithBlock(size, output, &data);
    if (FAILED(hr)) return hr;
    if (av_image_copy_to_buffer(data, size, picture->data, picture->linesize, target, width, height,
                                1) < 0) {
        return S_FALSE;
    }
    return DescribeFrame(frame, output.Get());
}

HRESULT VideoDecoder::DescribeFrame(const AVFrame* frame, IMediaPacket* output) {
    const int width = frame->width;
    const int height = frame->height;
    ComPtr<IVideoFormat> format;
    HRESULT hr = ::CreateInstance(CLSID_VideoFormat, format);
    if (FAILED(hr)) return hr;
    LONG displayWidth = width;
    const AVRational aspect = frame->sample_aspect_ratio;
    if (aspect.num > 0 && aspect.den > 0 && aspect.num != aspect.den) {
        const std::int64_t scaled = av_rescale(width, aspect.num, aspect.den);
        if (scaled > 0 && scaled <= INT32_MAX) displayWidth = static_cast<LONG>(scaled);
    }
    format->SetCodec(hostCodec_);
    format->SetWidth(width);
    format->SetHeight(height);
    format->SetDisplayWidth(displayWidth);
    format->SetDisplayHeight(height);
    format->SetColorSpace(colorSpace_);
    format->SetAlpha(codecId_ == AV_CODEC_ID_VP6A ? 1 : 0);
    if (frameRate_ > 0.0) format->SetFrameRate(frameRate_);
    hr = output->SetFormat(format.Get());
    if (FAILED(hr)) return hr;
    output->SetKeyFrame(frame->key_frame ? VARIANT_TRUE : VARIANT_FALSE);
    // The time of the packet the frame was decoded from (reordered with the frame).
    const std::int64_t pts =
        frame->pts != AV_NOPTS_VALUE ? frame->pts : frame->best_effort_timestamp;
    if (pts != AV_NOPTS_VALUE) {
        output->SetTime(static_cast<double>(pts));
        output->SetTimestamp(static_cast<double>(pts));
    }
    ready_.push_back(ComPtr<IMediaPacket>(output));
    return S_OK;
}

}  // namespace mediakit
