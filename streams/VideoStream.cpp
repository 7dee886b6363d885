#include "streams/VideoStream.h"

#include <limits>
#include <new>

#include "flv/Header.h"
#include "flv/TagLayout.h"
#include "flv/TemplateData.h"
#include "flv/VideoData.h"
#include "platform/Bstr.h"
#include "platform/Com.h"
#include "platform/Variant.h"
#include "streams/StreamIndex.h"

namespace {
constexpr LONG kStreamTypeVideo = 1;
constexpr LONG kContainerTypeFlv = 141;
constexpr ULONGLONG kCapabilitiesOpen = 0x1000D;
constexpr ULONGLONG kCapabilitiesOther = 0x1000F;
constexpr LONG kStatusOpen = 1;

// The host codec code for an FLV CodecID; 0 for ids that have none (no SetCodec call).
LONG HostCodecFor(std::uint32_t codecId) {
    switch (codecId) {
        case CFLV_VideoData::kSorensonH263:
            return kVideoCodecSorenson;
        case CFLV_VideoData::kScreenVideo:
        case CFLV_VideoData::kScreenVideo2:
            return kVideoCodecScreen;
        case CFLV_VideoData::kVp6:
            return kVideoCodecVp6;
        case CFLV_VideoData::kVp6Alpha:
            return kVideoCodecVp6Alpha;
        case CFLV_VideoData::kAvc:
            return kVideoCodecH264;
        default:
            return 0;
    }
}

bool NeedsExtraData(std::uint32_t codecId) {
    return codecId == CFLV_VideoData::kVp6 || codecId == CFLV_VideoData::kVp6Alpha ||
           codecId == CFLV_VideoData::kAvc;
}

// A value clamped into LONG (bit rates from metadata can be anything).
LONG ClampToLong(double value) {
    if (!(value > 0.0)) return 0;
    if (value >= static_cast<double>(std::numeric_limits<LONG>::max())) {
        return std::numeric_limits<LONG>::max();
    }
    return static_cast<LONG>(value);
}

}  // namespace

CFlashVideoStream5::~CFlashVideoStream5() {
    Close();
    frames_.ClearAll();
}

HRESULT CFlashVideoStream5::FinalConstruct() {
    if (FAILED(::CreateInstance(CLSID_VideoFormat, format_)) ||
        FAILED(::CreateInstance(CLSID_VideoDecoder, decoder_))) {
        return RaiseError(ZEV_E_MEMORY);
    }
    return S_OK;
}

// ---------------------------------------------------------------------------------------------
// IMediaStream
// ---------------------------------------------------------------------------------------------

HRESULT CFlashVideoStream5::SendCommandEx(ULONGLONG command, IUnknown* parameters,
                                          IUnknown** outInfo) {
    CriticalSectionLock guard(lock_);
    if (outInfo != nullptr) *outInfo = nullptr;
    return GuardedCall([&]() -> HRESULT {
        ComPtr<IMediaParams> params;
        if (parameters != nullptr) (void)QueryTo(parameters, params);
        if (command == 0 && params) {
            ULONGLONG operation = 0;
            if (SUCCEEDED(params->GetUInt64(Bstr(L"Operation").Get(), -1, &operation))) {
                command = operation;
            }
        }
        switch (static_cast<std::uint32_t>(command)) {
            case kCommandOpen:
                return Open(params.Get());
            case kCommandClose:
                Close();
                return S_OK;
            case kCommandRefresh:
                return Refresh(params.Get());
            case kCommandInfo:
                return Info(outInfo);
            case kCommandColorSpace:
                return SetColorSpace(params.Get());
            case kCommandFormat:
                return CopyFormat(outInfo);
            default:
                // 14, 15, 1002, 16 and every unknown code: nothing to do.
                return S_OK;
        }
    });
}

HRESULT CFlashVideoStream5::get_Status(LONG* status) {
    CriticalSectionLock guard(lock_);
    if (status == nullptr) return E_POINTER;
    *status = status_;
    return S_OK;
}

HRESULT CFlashVideoStream5::get_StreamType(LONG* type) {
    CriticalSectionLock guard(lock_);
    if (type == nullptr) return E_POINTER;
    *type = kStreamTypeVideo;
    return S_OK;
}

HRESULT CFlashVideoStream5::get_Capabilities(LONG, ULONGLONG* capabilities) {
    CriticalSectionLock guard(lock_);
    if (capabilities == nullptr) return E_POINTER;
    *capabilities = status_ == kStatusOpen ? kCapabilitiesOpen : kCapabilitiesOther;
    return S_OK;
}

HRESULT CFlashVideoStream5::get_Duration(double* duration) {
    CriticalSectionLock guard(lock_);
    if (duration == nullptr) return E_POINTER;
    *duration = manager_ ? manager_->facts.videoDuration : 0.0;
    return S_OK;
}

HRESULT CFlashVideoStream5::get_Time(double* time) {
    CriticalSectionLock guard(lock_);
    if (time == nullptr) return E_POINTER;
    *time = manager_ ? currentTime_ : 0.0;
    return S_OK;
}

HRESULT CFlashVideoStream5::Seek(LONG flags, double time) {
    CriticalSectionLock guard(lock_);
    return GuardedCall([&]() -> HRESULT {
        ProbeIfPending();
        SeekTo(flags, time);
        return S_OK;
    });
}

HRESULT CFlashVideoStream5::Skip(LONG flags, double duration) {
    CriticalSectionLock guard(lock_);
    return GuardedCall([&]() -> HRESULT {
        ProbeIfPending();
        SkipBy(flags, duration);
        return S_OK;
    });
}

HRESULT CFlashVideoStream5::Read(LONG, double, IUnknown** data) {
    CriticalSectionLock guard(lock_);
    if (data == nullptr) return E_POINTER;
    *data = nullptr;
    return GuardedCall([&]() -> HRESULT {
        ProbeIfPending();
        ComPtr<IMediaPacket> frame;
        ReadFrame(frame);
        *data = frame.Detach();
        return S_OK;
    });
}

HRESULT CFlashVideoStream5::Write(LONG, IUnknown*) {
    CriticalSectionLock guard(lock_);
    return S_OK;
}

HRESULT CFlashVideoStream5::Reset(LONG flags) {
    CriticalSectionLock guard(lock_);
    if (!HasVideo()) return S_OK;
    return GuardedCall([&]() -> HRESULT {
        ProbeIfPending();
        ResetDecoding(flags);
        return S_OK;
    });
}

void CFlashVideoStream5::ResetDecoding(LONG flags) {
    frames_.ClearAll();
    (void)decoder_->Reset(flags);
    currentTime_ = -1.0;
    // The decoder lost its reference frames: feeding goes on at the next keyframe record (when
    // the index marks any), never with a frame that refers to what was dropped.
    const IndexArray& index = manager_->videoIndex;
    std::size_t key = nextRecord_;
    while (key < index.size() && index[key].frameType != CFLV_VideoData::kKeyFrame) ++key;
    if (key < index.size()) nextRecord_ = key;
}

HRESULT CFlashVideoStream5::SetParam(BSTR, VARIANT) {
    CriticalSectionLock guard(lock_);
    return S_OK;
}

HRESULT CFlashVideoStream5::GetParam(BSTR, VARIANT*) {
    CriticalSectionLock guard(lock_);
    return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Commands
// ---------------------------------------------------------------------------------------------

HRESULT CFlashVideoStream5::Open(IMediaParams* parameters) {
    repositionPending_ = true;
    endOfInput_ = false;
    if (input_) Close();

    if (parameters == nullptr) return RaiseError(ZEV_E_INVALIDARG);
    LONG mode = -1;
    if (FAILED(parameters->GetLongDef(Bstr(L"OperationMode").Get(), -1, -1, &mode)) || mode != 1) {
        return RaiseError(ZEV_E_INVALIDARG);
    }
    Bstr fileName;
    if (FAILED(parameters->GetString(Bstr(L"FileName").Get(), -1, fileName.Put()))) {
        return RaiseError(ZEV_E_INVALIDARG);
    }

    auto input = std::make_unique<CInputStream>();
    input->Open(fileName.View());
    // A file that cannot be opened is an error, not an open stream with nothing behind it.
    if (!input->IsOpen()) return RaiseError(ZEV_E_FILEACCESS);
    input_ = std::move(input);
    nextRecord_ = 0;

    CFLV_Header header;
    std::uint32_t previousTagSize = 0;
    const bool headerRead = header.Read(*input_);
    if (headerRead) (void)input_->ReadValue(previousTagSize, FieldType::UI32);
    if (header.HasFlvSignature()) {
        BuildIndex(parameters);
        if (HasVideo()) {
            frameRate_ = CFLV_Manager::UsableFrameRate(manager_->facts.frameRate);
            ConfigureFormat();
            Rewind();
            // The decoder starts, and the first picture is decoded for its size, when something
            // first needs either (ProbeIfPending): an open that is not read from costs no
            // decoder and no decoding.
            probePending_ = true;
        }
    }
    status_ = kStatusOpen;
    return S_OK;
}

void CFlashVideoStream5::BuildIndex(IMediaParams* parameters) {
    if (!manager_) manager_ = std::make_unique<CFLV_Manager>();
    BuildStreamIndex(parameters, *input_, *manager_, StreamKind::kVideo);
}

void CFlashVideoStream5::ConfigureFormat() {
    const StreamFacts& facts = manager_->facts;
    (void)format_->SetFlags(0);
    auto codecId = static_cast<std::uint32_t>(facts.videoCodec);
    if (codecId == CFLV_VideoData::kDefaultCodec) {
        // A description without a usable codec: Sorenson H.263 unless the first video tag
        // names another codec.
        (void)format_->SetCodec(kVideoCodecSorenson);
        codecId = CodecOfFirstVideoTag();
    } else if (const std::uint32_t tagged = CodecOfFirstVideoTag();
               tagged != codecId && HostCodecFor(tagged) != 0) {
        // The metadata names a codec the tags contradict (VP6 for VP6 with alpha, say): the
        // tags hold the pictures, and a decoder for another codec would decode none of them.
        codecId = tagged;
    }
    if (const LONG hostCodec = HostCodecFor(codecId); hostCodec != 0) {
        (void)format_->SetCodec(hostCodec);
    }
    (void)format_->SetBitRate(ClampToLong(facts.videoDataRate * 1000.0));
    (void)format_->SetWidth(facts.width);
    (void)format_->SetHeight(facts.height);
    (void)format_->SetFrameRate(facts.frameRate);
    (void)format_->SetDisplayWidth(facts.width);
    (void)format_->SetDisplayHeight(facts.height);
    (void)format_->SetFieldOrder(0);
    (void)format_->SetRotation(0);
    ConfigureDecoder(codecId);
}

std::uint32_t CFlashVideoStream5::CodecOfFirstVideoTag() {
    for (const IndexEntry& entry : manager_->videoIndex) {
        if (!input_->SeekTo(entry.position)) continue;
        CFLV_TemplateData tag;
        if (!tag.Read(*input_) || tag.GetTagType() != kFlvVideoTag) continue;
        const CFLV_VideoData* body = tag.VideoBody();
        return body ? body->CodecId() : CFLV_VideoData::kDefaultCodec;
    }
    return CFLV_VideoData::kDefaultCodec;
}

void CFlashVideoStream5::ConfigureDecoder(std::uint32_t codecId) {
    (void)decoder_->Command(kProcessorConfigure, format_.Get(), nullptr);
    Variant colorSpace;
    colorSpace.Get()->vt = VT_I4;
    colorSpace.Get()->lVal = colorSpace_;
    (void)decoder_->SetParam(Bstr(L"DecodeColorSpace").Get(), colorSpace.Get());
    // The codec the format was set to decides, so that a description naming no codec still
    // hands an H.264 or VP6 track its configuration bytes.
    if (NeedsExtraData(codecId)) SetDecoderExtraData(manager_->videoExtra.get());
    appliedConfiguration_ = -1;
    // Started by ProbeIfPending.
}

void CFlashVideoStream5::SetDecoderExtraData(const CExtraData* extra) {
    if (extra != nullptr && !extra->Empty() &&
        extra->Length() <= static_cast<std::uint64_t>(std::numeric_limits<LONG>::max())) {
        (void)decoder_->SetExtraData(extra->Data(), static_cast<LONG>(extra->Length()));
    } else {
        (void)decoder_->SetExtraData(nullptr, 0);
    }
}

void CFlashVideoStream5::ProbeIfPending() {
    if (!probePending_) return;
    probePending_ = false;
    (void)decoder_->Command(kProcessorStart, nullptr, nullptr);
    // The probe decodes on its own; the decoder and the frame lists are then as fresh as the
    // open left them, and the position is where it stood.
    const std::size_t next = nextRecord_;
    const bool ended = endOfInput_;
    Probe();
    frames_.ClearAll();
    (void)decoder_->Reset(0);
    nextRecord_ = next;
    endOfInput_ = ended;
}

void CFlashVideoStream5::Probe() {
    if (!input_ || !HasVideo() || VideoDuration() <= 0.0) return;
    // The first decoded frame tells the size. Decoding starts at the first keyframe.
    nextRecord_ = KeyRecordFor(0.0);
    ComPtr<IMediaPacket> frame;
    if (!DecodeFirstRecordAlone(frame)) {
        if (!FillReady()) return;
        frame = frames_.Ready().front();
    }
    ComPtr<IUnknown> formatObject;
    ComPtr<IVideoFormat> decoded;
    if (FAILED(frame->GetFormat(formatObject.Put())) || FAILED(formatObject.As(decoded))) return;
    LONG width = 0, height = 0, displayWidth = 0, displayHeight = 0;
    (void)decoded->GetWidth(&width);
    (void)decoded->GetHeight(&height);
    (void)decoded->GetDisplayWidth(&displayWidth);
    (void)decoded->GetDisplayHeight(&displayHeight);
    manager_->facts.width = width;
    manager_->facts.height = height;
    (void)format_->SetWidth(width);
    (void)format_->SetHeight(height);
    (void)format_->SetDisplayWidth(displayWidth);
    (void)format_->SetDisplayHeight(displayHeight);
}

bool CFlashVideoStream5::DecodeFirstRecordAlone(ComPtr<IMediaPacket>& frame) {
    const IndexArray& index = manager_->videoIndex;
    if (nextRecord_ >= index.size()) return false;
    FeedRecord(index[nextRecord_]);
    (void)decoder_->Write(kWriteEndOfInput, nullptr);
    ComPtr<IUnknown> output;
    if (SUCCEEDED(decoder_->Read(0, 0.0, output.Put())) && output && SUCCEEDED(output.As(frame))) {
        return true;
    }
    frames_.ClearAll();
    (void)decoder_->Command(kProcessorStop, nullptr, nullptr);
    (void)decoder_->Command(kProcessorStart, nullptr, nullptr);
    return false;
}

void CFlashVideoStream5::Rewind() {
    frames_.ClearAll();
    // Decoding starts at the first keyframe; its frame is shown from 0.
    nextRecord_ = KeyRecordFor(0.0);
    currentTime_ = 0.0;
    endOfInput_ = false;
    discontinuityPending_ = false;
}

void CFlashVideoStream5::Close() noexcept {
    probePending_ = false;
    if (decoder_) (void)decoder_->Command(kProcessorStop, nullptr, nullptr);
    input_.reset();
    frameRate_ = 0.0;
    manager_.reset();
    frames_.ClearAll();
    status_ = 0;
}

HRESULT CFlashVideoStream5::Refresh(IMediaParams* parameters) {
    if (!input_ || !manager_) return RaiseError(ZEV_E_INVALIDOPERATION);
    if (!input_->RefreshSize()) return RaiseError(ZEV_E_FILEACCESS);
    ProbeIfPending();
    ComPtr<IMediaParams> settings;
    if (parameters != nullptr) {
        (void)parameters->GetParams(Bstr(L"FLVSettings").Get(), 0, 1, settings.Put());
    }
    manager_->RefreshIndex(settings.Get(), *input_);
    if (endOfInput_ && HasVideo() && currentTime_ >= 0.0 &&
        nextRecord_ < manager_->videoIndex.size()) {
        // The decoder was drained at the old end of the input and holds no reference frames
        // any more: decoding goes on from the keyframe at or before the current time, and the
        // timeline goes on where it stood, without a discontinuity.
        const double time = currentTime_;
        const bool discontinuity = discontinuityPending_;
        RestartDecodingAt(time);
        MoveTo(0, time);
        discontinuityPending_ = discontinuity;
    }
    return S_OK;
}

HRESULT CFlashVideoStream5::Info(IUnknown** outInfo) {
    ComPtr<IMediaParams> info;
    if (FAILED(::CreateInstance(CLSID_MediaParams, info))) {
        return RaiseError(ZEV_E_MEMORY);
    }
    auto setLong = [&](const wchar_t* name, LONG value) {
        (void)info->SetLong(Bstr(name).Get(), 0, value);
    };
    auto setBool = [&](const wchar_t* name, bool value) {
        (void)info->SetBool(Bstr(name).Get(), 0, value ? VARIANT_TRUE : VARIANT_FALSE);
    };
    setLong(L"Status", status_);
    setLong(L"StreamType", kStreamTypeVideo);
    setLong(L"ContainerType", kContainerTypeFlv);
    setBool(L"IsSeekable", true);
    setBool(L"HasTransparent", false);
    setBool(L"ReadCompressed", false);
    setLong(L"ReadColorSpace", colorSpace_);
    setBool(L"WriteEmulate", false);
    if (outInfo != nullptr) {
        ComPtr<IUnknown> unknown;
        (void)info.As(unknown);
        *outInfo = unknown.Detach();
    }
    return S_OK;
}

HRESULT CFlashVideoStream5::SetColorSpace(IMediaParams* parameters) {
    if (parameters == nullptr) return RaiseError(ZEV_E_INVALIDARG);
    LONG value = colorSpace_;
    if (FAILED(parameters->GetLong(Bstr(L"ReadColorSpace").Get(), -1, &value))) return S_OK;
    colorSpace_ = value;
    // An open stream's decoder takes the new colour space at once; otherwise a host that asks
    // for a colour space after the open would go on getting the one of the open. Frames already
    // decoded in another one are decoded again, so that the next frame read is in the new one,
    // with the time, duration and mark it would have had.
    if (status_ != 1) return S_OK;
    Variant colorSpace;
    colorSpace.Get()->vt = VT_I4;
    colorSpace.Get()->lVal = colorSpace_;
    (void)decoder_->SetParam(Bstr(L"DecodeColorSpace").Get(), colorSpace.Get());
    if (!frames_.Ready().empty() && currentTime_ >= 0.0 && HasVideo()) {
        const bool discontinuity = discontinuityPending_;
        const double time = currentTime_;
        RestartDecodingAt(time);
        MoveTo(0, time);
        discontinuityPending_ = discontinuity;
    }
    return S_OK;
}

HRESULT CFlashVideoStream5::CopyFormat(IUnknown** outInfo) {
    if (!HasVideo()) return S_OK;
    // The format tells the decoded picture size.
    ProbeIfPending();
    ComPtr<IUnknown> copy;
    if (FAILED(format_->Duplicate(copy.Put())) || !copy) {
        return RaiseError(ZEV_E_MEMORY);
    }
    if (outInfo != nullptr) *outInfo = copy.Detach();
    return S_OK;
}
