#include "streams/AudioStream.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

#include "flv/AudioData.h"
#include "flv/Header.h"
#include "flv/TemplateData.h"
#include "platform/Bstr.h"
#include "platform/Com.h"
#include "streams/StreamIndex.h"

namespace {

constexpr ULONGLONG kCapabilitiesOpen = 0x1000D;
constexpr ULONGLONG kCapabilitiesReady = 0x10002;
constexpr ULONGLONG kCapabilitiesOther = 0x1000F;
constexpr LONG kOperationModeRead = 1;
constexpr std::int32_t kSoundFormatAac = 10;
constexpr WORD kOutputBitsPerSample = 16;
constexpr WORD kOutputBytesPerSample = kOutputBitsPerSample / 8;
// The metadata gives audio data rates in kilobits per second; the input format takes bytes.
constexpr std::int64_t kBytesPerKilobit = 125;
// Tolerance of the frame counts, as the queue applies it.
constexpr double kFrameEpsilon = 1e-6;
// Seek discards decoded audio in steps of at most this many milliseconds, so that a wide gap
// between two tags never becomes one block of that length.
constexpr double kSeekStepMs = 1000.0;
constexpr LONG kLongMax = std::numeric_limits<LONG>::max();
// A frame count that stays exact in a double and far inside 64 bits.
constexpr double kMaxFrames = 9007199254740992.0;  // 2^53

}  // namespace

CFlashAudioStream5::~CFlashAudioStream5() {
    Close();
}

HRESULT CFlashAudioStream5::FinalConstruct() {
    if (FAILED(::CreateInstance(CLSID_AudioDecoder, decoder)) ||
        FAILED(::CreateInstance(CLSID_AudioPacketQueue, queue)) ||
        FAILED(::CreateInstance(CLSID_AudioFormat, inputFormat)) ||
        FAILED(::CreateInstance(CLSID_AudioFormat, outputFormat))) {
        return RaiseError(L"Memory error.", ZEV_E_MEMORY);
    }
    return S_OK;
}

// ---------------------------------------------------------------------------------------------
// IMediaStream
// ---------------------------------------------------------------------------------------------

HRESULT CFlashAudioStream5::SendCommandEx(ULONGLONG lCommand, IUnknown* pCmdParams,
                                          IUnknown** pOutInfo) {
    CriticalSectionLock guard(lock);
    if (pOutInfo != nullptr) *pOutInfo = nullptr;
    return GuardedCall([&]() -> HRESULT {
        ComPtr<IMediaParams> params;
        if (pCmdParams != nullptr) (void)QueryTo(pCmdParams, params);
        ULONGLONG code = lCommand;
        if (code == 0 && params) {
            (void)params->GetUInt64(Bstr(L"Operation").Get(), -1, &code);
        }
        switch (static_cast<std::uint32_t>(code)) {
            case kCommandOpen:
                return Open(params.Get());
            case kCommandReadyForUse:
                status = 2;
                return S_OK;
            case kCommandClose:
                Close();
                return S_OK;
            case kCommandRefresh:
                return Refresh(params.Get());
            case kCommandInfo:
                return Info(pOutInfo);
            case kCommandConfigure:
                if (input && HasAudio()) Configure(pCmdParams);
                return S_OK;
            case kCommandCopyFormat:
                return HasAudio() ? CopyInputFormat(pOutInfo) : S_OK;
            case kCommandCheckParams:
                return params ? S_OK : RaiseError(L"Invalid argument.", ZEV_E_INVALIDARG);
            case kCommandContainerGet:
            case kCommandContainerSet:
            default:
                return S_OK;
        }
    });
}

HRESULT CFlashAudioStream5::get_Status(LONG* Status) {
    CriticalSectionLock guard(lock);
    if (Status == nullptr) return E_POINTER;
    *Status = status;
    return S_OK;
}

HRESULT CFlashAudioStream5::get_StreamType(LONG* pType) {
    CriticalSectionLock guard(lock);
    if (pType == nullptr) return E_POINTER;
    *pType = kStreamTypeAudio;
    return S_OK;
}

HRESULT CFlashAudioStream5::get_Capabilities(LONG, ULONGLONG* pCapabilities) {
    CriticalSectionLock guard(lock);
    if (pCapabilities == nullptr) return E_POINTER;
    *pCapabilities = status == 1   ? kCapabilitiesOpen
                     : status == 2 ? kCapabilitiesReady
                                   : kCapabilitiesOther;
    return S_OK;
}

HRESULT CFlashAudioStream5::get_Duration(double* pVal) {
    CriticalSectionLock guard(lock);
    if (pVal == nullptr) return E_POINTER;
    *pVal = manager ? manager->facts.audioDuration : 0.0;
    return S_OK;
}

HRESULT CFlashAudioStream5::get_Time(double* pVal) {
    CriticalSectionLock guard(lock);
    if (pVal == nullptr) return E_POINTER;
    *pVal = manager ? currentTime : 0.0;
    return S_OK;
}

HRESULT CFlashAudioStream5::Seek(LONG, double Time) {
    CriticalSectionLock guard(lock);
    if (!input || !HasAudio()) return S_OK;
    return GuardedCall([&]() -> HRESULT {
        const double duration = manager->facts.audioDuration;
        const double target = Time > 0.0 ? std::min(Time, duration) : 0.0;  // NaN gives 0
        if (!repositionPending && target == currentTime) return S_OK;
        repositionPending = false;
        ResetDecoding(0);

        // Decoding starts at the last record at or before the target (the first one when the
        // target lies before it).
        const IndexArray& index = manager->audioIndex;
        const auto later = std::find_if(index.begin(), index.end(), [&](const IndexEntry& entry) {
            return static_cast<double>(entry.time) > target;
        });
        const auto firstLater = static_cast<std::size_t>(later - index.begin());
        nextRecord = firstLater > 0 ? firstLater - 1 : 0;
        currentTime = index.empty() ? 0.0 : static_cast<double>(index[nextRecord].time);
        const double offset = target - currentTime;

        if (offset < 0.0) {
            // The target lies before the first tag: silence up to it, handed to the queue as
            // Reads need it.
            const double frames =
                OutputUsable() ? std::trunc(kFrameEpsilon - offset * OutputRate() / 1000.0) : 0.0;
            silenceOwed =
                frames >= 1.0 ? static_cast<std::uint64_t>(std::min(frames, kMaxFrames)) : 0;
            currentTime = target;
        }

        // Decode and discard until less than two sample frames remain before the target.
        const LONG blockAlign = OutputBlockAlign();
        double step = offset;
        while (FramesIn(step) * blockAlign > blockAlign) {
            // Once every record is decoded and nothing is queued, all that lies before the
            // target is the padding silence: the position moves there without making it, or a
            // far target (a damaged time stamp) would cost hours of silence to discard.
            if (nextRecord >= index.size() && silenceOwed == 0 && QueuedFrames() == 0) {
                currentTime = target;
                break;
            }
            ComPtr<IUnknown> discarded;
            (void)Read(0, std::min(step, kSeekStepMs), discarded.Put());
            if (!discarded) break;
            step = target - currentTime;
        }
        discontinuityPending = true;
        return S_OK;
    });
}

HRESULT CFlashAudioStream5::Skip(LONG, double Duration) {
    CriticalSectionLock guard(lock);
    if (!input) return S_OK;
    ComPtr<IUnknown> discarded;
    (void)Read(0, Duration, discarded.Put());
    discontinuityPending = true;
    return S_OK;
}

HRESULT CFlashAudioStream5::Read(LONG, double Duration, IUnknown** pData) {
    CriticalSectionLock guard(lock);
    if (!input) return S_OK;
    if (pData == nullptr) return E_POINTER;
    *pData = nullptr;
    if (!HasAudio()) return S_OK;
    return GuardedCall([&]() -> HRESULT {
        ComPtr<IUnknown> packet;
        const HRESULT hr = ReadPacket(Duration, packet);
        if (FAILED(hr) || !packet) return S_OK;  // Read never fails: no packet
        ComPtr<IMediaPacket> media;
        if (FAILED(packet.As(media))) return S_OK;
        LONG length = 0;
        (void)media->GetSize(&length);
        const double duration =
            static_cast<double>(length) * 1000.0 / OutputBlockAlign() / OutputRate();
        (void)media->SetTime(currentTime);
        (void)media->SetDuration(duration);
        currentTime += duration;
        if (discontinuityPending) {
            (void)media->SetDiscontinuity(VARIANT_TRUE);
            discontinuityPending = false;
        }
        *pData = packet.Detach();
        return S_OK;
    });
}

HRESULT CFlashAudioStream5::Write(LONG, IUnknown*) {
    CriticalSectionLock guard(lock);
    return S_OK;
}

HRESULT CFlashAudioStream5::Reset(LONG Flags) {
    CriticalSectionLock guard(lock);
    if (HasAudio()) {
        ResetDecoding(Flags);
        currentTime = -1.0;  // the next Seek acts whatever its target
    }
    return S_OK;
}

HRESULT CFlashAudioStream5::SetParam(BSTR, VARIANT) {
    CriticalSectionLock guard(lock);
    return S_OK;
}

HRESULT CFlashAudioStream5::GetParam(BSTR, VARIANT*) {
    CriticalSectionLock guard(lock);
    return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Commands
// ---------------------------------------------------------------------------------------------

HRESULT CFlashAudioStream5::Open(IMediaParams* params) {
    repositionPending = true;
    if (input) Close();
    if (params == nullptr) return RaiseError(L"Invalid argument.", ZEV_E_INVALIDARG);
    LONG mode = -1;
    (void)params->GetLongDef(Bstr(L"OperationMode").Get(), -1, -1, &mode);
    Bstr fileName;
    if (mode != kOperationModeRead ||
        FAILED(params->GetString(Bstr(L"FileName").Get(), -1, fileName.Put()))) {
        return RaiseError(L"Invalid argument.", ZEV_E_INVALIDARG);
    }

    auto stream = std::make_unique<CInputStream>();
    stream->Open(fileName.View());
    if (!stream->IsOpen()) return RaiseError(L"File access error.", ZEV_E_FILEACCESS);
    input = std::move(stream);
    CFLV_Header header;
    (void)header.Read(*input);
    (void)input->SkipValue(FieldType::UI32);  // PreviousTagSize0
    if (header.HasFlvSignature()) {
        if (!manager) manager = std::make_unique<CFLV_Manager>();
        BuildStreamIndex(params, *input, *manager, StreamKind::kAudio);
        if (HasAudio()) {
            const StreamFacts& facts = manager->facts;
            (void)inputFormat->SetWaveFormat(&facts.waveFormat);
            const std::int64_t bytesPerSecond =
                std::clamp<std::int64_t>(std::int64_t{facts.audioDataRate} * kBytesPerKilobit,
                                         std::numeric_limits<LONG>::min(), kLongMax);
            (void)inputFormat->SetBytesPerSecond(static_cast<LONG>(bytesPerSecond));
            (void)inputFormat->SetCodec(facts.audioCodecCode);
            Configure(inputFormat.Get());
        }
    }
    nextRecord = 0;
    currentTime = 0.0;  // the first Read delivers the track from its start
    status = 1;
    return S_OK;
}

void CFlashAudioStream5::Close() {
    ResetDecoding(0);
    input.reset();
    manager.reset();
    status = 0;
}

void CFlashAudioStream5::Configure(IUnknown* formatObject) {
    ComPtr<IAudioFormat> format;
    if (FAILED(QueryTo(formatObject, format)) || !format) return;
    repositionPending = true;

    LONG channels = 0;
    LONG rate = 0;
    (void)format->GetChannels(&channels);
    (void)format->GetSampleRate(&rate);
    WAVEFORMATEX wave{};
    wave.wFormatTag = WAVE_FORMAT_PCM;
    wave.nChannels = static_cast<WORD>(channels & 0xFFFF);
    wave.nSamplesPerSec = static_cast<DWORD>(rate);
    wave.wBitsPerSample = kOutputBitsPerSample;
    wave.nBlockAlign = static_cast<WORD>(kOutputBytesPerSample * wave.nChannels);
    wave.nAvgBytesPerSec = DWORD{wave.nBlockAlign} * wave.nSamplesPerSec;
    wave.cbSize = 0;
    outputWave = wave;
    (void)outputFormat->SetWaveFormat(&outputWave);

    (void)decoder->Command(kProcessorConfigure, outputFormat.Get(), nullptr);
    if (manager && manager->facts.soundFormat == kSoundFormatAac) {
        const CExtraData* extra = manager->audioExtra.get();
        const bool haveExtra = extra != nullptr && !extra->Empty() && extra->Length() <= kLongMax;
        (void)decoder->SetExtraData(haveExtra ? extra->Data() : nullptr,
                                    haveExtra ? static_cast<LONG>(extra->Length()) : 0);
    }
    if (SUCCEEDED(decoder->Reset(0))) {
        (void)queue->Reset(0);
        silenceOwed = 0;
    }
}

HRESULT CFlashAudioStream5::Refresh(IMediaParams* params) {
    if (!input || !manager) return RaiseError(L"Invalid operation.", ZEV_E_INVALIDOPERATION);
    if (!input->RefreshSize()) return RaiseError(L"File access error.", ZEV_E_FILEACCESS);
    ComPtr<IMediaParams> settings;
    if (params != nullptr)
        (void)params->GetParams(Bstr(L"FLVSettings").Get(), 0, 1, settings.Put());
    manager->RefreshIndex(settings.Get(), *input);
    return S_OK;
}

HRESULT CFlashAudioStream5::Info(IUnknown** outInfo) {
    ComPtr<IMediaParams> info;
    if (FAILED(::CreateInstance(CLSID_MediaParams, info)) || !info) {
        return RaiseError(L"Memory error.", ZEV_E_MEMORY);
    }
    (void)info->SetLong(Bstr(L"Status").Get(), 0, status);
    (void)info->SetLong(Bstr(L"StreamType").Get(), 0, kStreamTypeAudio);
    (void)info->SetLong(Bstr(L"ContainerType").Get(), 0, kContainerTypeFlv);
    (void)info->SetBool(Bstr(L"IsSeekable").Get(), 0, VARIANT_TRUE);
    (void)info->SetBool(Bstr(L"ReadCompressed").Get(), 0, VARIANT_FALSE);
    (void)info->SetBool(Bstr(L"WriteEmulate").Get(), 0, VARIANT_FALSE);
    if (outInfo != nullptr) {
        ComPtr<IUnknown> unknown;
        if (SUCCEEDED(info.As(unknown))) *outInfo = unknown.Detach();
    }
    return S_OK;
}

HRESULT CFlashAudioStream5::CopyInputFormat(IUnknown** outInfo) {
    ComPtr<IUnknown> copy;
    if (FAILED(inputFormat->Duplicate(copy.Put())) || !copy) {
        return RaiseError(L"Memory error.", ZEV_E_MEMORY);
    }
    if (outInfo != nullptr) *outInfo = copy.Detach();
    return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Decoding
// ---------------------------------------------------------------------------------------------

HRESULT CFlashAudioStream5::ReadPacket(double duration, ComPtr<IUnknown>& packet) {
    packet = nullptr;
    if (!OutputUsable()) return S_OK;
    // At most what is left of the track.
    const double left = manager->facts.audioDuration - currentTime;
    double wanted = left <= duration ? left : duration;
    // Less than one sample frame (0, negative, NaN, the end of the track) can never be served.
    double frames = FramesIn(wanted);
    if (frames < 1.0) return S_OK;
    // One packet holds at most what a LONG size can state.
    const double maxFrames = static_cast<double>(kLongMax / OutputBlockAlign());
    if (frames > maxFrames) {
        frames = maxFrames;
        wanted = maxFrames * 1000.0 / OutputRate();
    }

    HRESULT hr = SupplyOwedSilence(static_cast<std::uint64_t>(frames));
    if (FAILED(hr)) return hr;
    hr = queue->ReadDuration(wanted, packet.Put());
    if (FAILED(hr) || packet) return hr;
    // Decoded audio goes behind the silence: none is decoded while silence is still owed.
    if (silenceOwed > 0) return S_OK;

    const IndexArray& index = manager->audioIndex;
    while (nextRecord < index.size()) {
        ComPtr<IUnknown> pcm;
        DecodeNextRecord(pcm);
        if (!pcm) continue;
        (void)queue->Write(kWriteData, pcm.Get());
        hr = queue->ReadDuration(wanted, packet.Put());
        if (FAILED(hr) || packet) return hr;
    }

    // Every record is decoded: the rest of the request is padded with silence, and the packet
    // takes everything the queue holds.
    double held = 0.0;
    (void)queue->GetDuration(&held);
    if (wanted > held) {
        const double padding = std::trunc((wanted - held) * OutputRate() / 1000.0 + kFrameEpsilon);
        if (padding >= 1.0) {
            hr = QueueSilence(static_cast<std::uint64_t>(padding));
            if (FAILED(hr)) return hr;
        }
        (void)queue->GetDuration(&wanted);
    }
    return queue->ReadDuration(wanted, packet.Put());
}

void CFlashAudioStream5::DecodeNextRecord(ComPtr<IUnknown>& pcm) {
    const IndexEntry& record = manager->audioIndex[nextRecord];
    ++nextRecord;
    // A record outside the file (a damaged stored index) is passed over: reading at the old
    // cursor would decode another tag.
    if (!input->SeekTo(record.position)) return;
    ComPtr<IAudioPacket> payload;
    std::uint32_t payloadSize = 0;
    std::uint32_t tagTime = 0;
    {
        CFLV_TemplateData tag;
        if (!tag.Read(*input) || tag.GetTagType() != kFlvAudioTag) return;
        CFLV_AudioData* body = tag.AudioBody();
        if (body == nullptr || body->Payload() == nullptr) return;
        payloadSize = body->PayloadSize();
        tagTime = tag.Timestamp();
        payload = body->TakePayload();
    }
    (void)payload->SetFormat(inputFormat.Get());
    (void)payload->SetPayloadInfo(static_cast<LONG>(payloadSize), tagTime);
    (void)decoder->Write(kWriteData, payload.Get());
    (void)decoder->Read(0, 0.0, pcm.Put());
}

HRESULT CFlashAudioStream5::SupplyOwedSilence(std::uint64_t frames) {
    if (silenceOwed == 0) return S_OK;
    const std::uint64_t held = QueuedFrames();
    if (held >= frames) return S_OK;
    const std::uint64_t piece = std::min(silenceOwed, frames - held);
    const HRESULT hr = QueueSilence(piece);
    if (SUCCEEDED(hr)) silenceOwed -= piece;
    return hr;
}

HRESULT CFlashAudioStream5::QueueSilence(std::uint64_t frames) {
    const auto blockAlign = static_cast<std::uint64_t>(OutputBlockAlign());
    if (blockAlign == 0 || frames > static_cast<std::uint64_t>(kLongMax) / blockAlign) {
        return E_INVALIDARG;
    }
    ComPtr<IMediaPacket> silence;
    HRESULT hr = ::CreateInstance(CLSID_AudioPacket, silence);
    if (FAILED(hr)) return hr;
    (void)silence->SetFormat(outputFormat.Get());
    hr = silence->Allocate(static_cast<LONG>(frames * blockAlign), -1);
    if (FAILED(hr)) return hr;
    return queue->Write(kWriteData, silence.Get());
}

std::uint64_t CFlashAudioStream5::QueuedFrames() const {
    double held = 0.0;
    if (FAILED(queue->GetDuration(&held)) || !(held > 0.0) || !OutputUsable()) return 0;
    return static_cast<std::uint64_t>(std::llround(held * OutputRate() / 1000.0));
}

double CFlashAudioStream5::FramesIn(double ms) const {
    if (!(ms > 0.0) || !OutputUsable()) return 0.0;
    const double frames = std::trunc(ms * OutputRate() / 1000.0 + kFrameEpsilon);
    return std::isfinite(frames) ? std::min(frames, kMaxFrames) : kMaxFrames;
}

LONG CFlashAudioStream5::OutputRate() const noexcept {
    const DWORD rate = outputWave.nSamplesPerSec;
    return rate <= static_cast<DWORD>(kLongMax) ? static_cast<LONG>(rate) : 0;
}

LONG CFlashAudioStream5::OutputBlockAlign() const noexcept {
    return outputWave.nBlockAlign;
}

void CFlashAudioStream5::ResetDecoding(LONG flags) {
    if (decoder) (void)decoder->Reset(flags);
    if (queue) (void)queue->Reset(flags);
    silenceOwed = 0;
}
