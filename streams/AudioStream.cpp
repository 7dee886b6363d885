#include "streams/AudioStream.h"

#include <algorithm>
#include <cmath>
#include <cstring>
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
constexpr LONG kLongMax = std::numeric_limits<LONG>::max();
// A frame count that stays exact in a double and far inside 64 bits.
constexpr double kMaxFrames = 9007199254740992.0;  // 2^53
// The timeline's thresholds, in seconds, with the single precision FFmpeg's resampler keeps
// them in (so that a difference of exactly 100 ms or 1 ms is left alone, as there): sound whose
// tag lies further than this from the end of the sound so far is moved to its tag's time.
constexpr double kHardSeconds = static_cast<double>(0.1f);
// For the first sound of the track, measured from 0.
constexpr double kFirstSeconds = static_cast<double>(0.001f);
// Seek decodes the records of at least this long before its target (and at least
// kMinPreRollRecords of them, at most kMaxPreRollRecords) and discards their sound: an MP3
// frame may take its data from up to 511 bytes of earlier frames (half a second at the lowest
// rates), every transform codec overlaps one frame with the next, and Speex's adaptive state
// takes most of a second to settle (-25 dB of difference after half a second, -49 dB after one).
constexpr double kPreRollMs = 1000.0;
constexpr std::size_t kMinPreRollRecords = 4;
constexpr std::size_t kMaxPreRollRecords = 128;
// Tag times are 32 bits; a larger one can only come from a damaged stored index.
constexpr std::uint64_t kLargestTagTime = std::numeric_limits<std::uint32_t>::max();
// The first records of a pre-roll may decode short (a decoder warming up): their lengths do
// not serve to place the target's record.
constexpr std::size_t kWarmUpRecords = 2;

// Removes the first `frames` sample frames of a PCM packet of `blockAlign` bytes a frame.
HRESULT DropFront(IMediaPacket* pcm, std::uint64_t frames, LONG blockAlign) {
    LONG size = 0;
    BYTE* data = nullptr;
    if (FAILED(pcm->GetSize(&size)) || FAILED(pcm->GetData(&data)) || data == nullptr) {
        return E_FAIL;
    }
    const auto bytes = static_cast<LONG>(std::min<std::uint64_t>(
        frames * static_cast<std::uint64_t>(blockAlign), static_cast<std::uint64_t>(size)));
    std::memmove(data, data + bytes, static_cast<std::size_t>(size - bytes));
    return pcm->SetSize(size - bytes);
}

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
    *pVal = manager ? TrackDurationMs() : 0.0;
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
        const double duration = TrackDurationMs();
        const double target = Time > 0.0 ? std::min(Time, duration) : 0.0;  // NaN: 0
        if (!repositionPending && target == currentTime) return S_OK;
        repositionPending = false;
        ResetDecoding(0);
        discontinuityPending = true;
        if (!OutputUsable()) {
            currentTime = target;
            return S_OK;
        }

        // Decoding starts at the last record that starts at least a millisecond before the
        // target (so that its sound cannot start after it), after a pre-roll; from the track's
        // start when that is the first record, exactly as a read from the start goes.
        const IndexArray& index = manager->audioIndex;
        const auto later = std::find_if(index.begin(), index.end(), [&](const IndexEntry& entry) {
            return static_cast<double>(entry.time) + 1.0 > target;
        });
        const auto firstLater = static_cast<std::size_t>(later - index.begin());
        if (firstLater <= 1) {
            nextRecord = 0;
            position = placedEnd = 0;
        } else {
            const std::size_t to = firstLater - 1;
            std::size_t from = to;
            while (from > 0 && to - from < kMaxPreRollRecords &&
                   (to - from < kMinPreRollRecords ||
                    static_cast<double>(index[to].time) - static_cast<double>(index[from].time) <
                        kPreRollMs)) {
                --from;
            }
            position = placedEnd = PreRoll(from, to);
        }
        // A seek to the end goes to the end, whatever the rounding of a far time to frames.
        const auto targetFrame = target == duration ? std::numeric_limits<std::int64_t>::max()
                                                    : static_cast<std::int64_t>(FramesIn(target));
        // Seek never fails: a decoder or queue that refuses leaves the stream where it got to.
        if (targetFrame > position)
            (void)Discard(static_cast<std::uint64_t>(targetFrame - position));
        currentTime = static_cast<double>(position) * 1000.0 / OutputRate();
        return S_OK;
    });
}

HRESULT CFlashAudioStream5::Skip(LONG, double Duration) {
    CriticalSectionLock guard(lock);
    if (!input) return S_OK;
    discontinuityPending = true;
    if (!HasAudio() || !OutputUsable()) return S_OK;
    return GuardedCall([&]() -> HRESULT {
        const std::int64_t before = position;
        (void)Discard(static_cast<std::uint64_t>(FramesIn(Duration)));  // Skip never fails
        currentTime += static_cast<double>(position - before) * 1000.0 / OutputRate();
        return S_OK;
    });
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
        position += length / OutputBlockAlign();
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
    position = placedEnd = 0;
    soundEndMs = 0.0;
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
        SetDecoderExtraData(manager->audioExtra.get());
    }
    appliedConfiguration = -1;
    if (SUCCEEDED(decoder->Reset(0))) {
        ResetDecoding(0);
        // The timeline goes on from the current time, counted at the new rate.
        position = placedEnd = static_cast<std::int64_t>(FramesIn(currentTime));
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
    // Less than one sample frame (0, negative, NaN) can never be served.
    double frames = FramesIn(duration);
    if (frames < 1.0) return S_OK;
    // One packet holds at most what a LONG size can state.
    frames = std::min(frames, static_cast<double>(kLongMax / OutputBlockAlign()));
    const auto wanted = static_cast<std::uint64_t>(frames);
    const HRESULT hr = Fill(wanted);
    if (FAILED(hr)) return hr;
    // At the end of the track the packet takes what is left.
    const std::uint64_t take = std::min(QueuedFrames(), wanted);
    if (take == 0) return S_OK;
    return queue->ReadDuration(static_cast<double>(take) * 1000.0 / OutputRate(), packet.Put());
}

HRESULT CFlashAudioStream5::Fill(std::uint64_t frames) {
    for (;;) {
        HRESULT hr = SupplyOwedSilence(frames);
        if (FAILED(hr)) return hr;
        if (silenceOwed == 0 && waiting) {
            hr = queue->Write(kWriteData, waiting.Get());
            waiting = nullptr;
            if (FAILED(hr)) return hr;
        }
        if (silenceOwed > 0 || QueuedFrames() >= frames) return S_OK;
        if (DecodeAndPlace()) continue;
        const std::int64_t end = placedEnd;
        OweSilenceToTheEnd();
        if (placedEnd == end) return S_OK;  // the end of the track
    }
}

HRESULT CFlashAudioStream5::Discard(std::uint64_t frames) {
    // Sound is taken from the queue in pieces of at most a second.
    const auto step = static_cast<std::uint64_t>(OutputRate());
    while (frames > 0) {
        const std::uint64_t held = QueuedFrames();
        if (held > 0) {
            const std::uint64_t piece = std::min({held, frames, step});
            ComPtr<IUnknown> dropped;
            const HRESULT hr = queue->ReadDuration(
                static_cast<double>(piece) * 1000.0 / OutputRate(), dropped.Put());
            if (FAILED(hr) || !dropped) return FAILED(hr) ? hr : E_FAIL;
            frames -= piece;
            position += static_cast<std::int64_t>(piece);
        } else if (silenceOwed > 0) {
            // Silence is stepped over by counting it.
            const std::uint64_t piece = std::min(silenceOwed, frames);
            silenceOwed -= piece;
            frames -= piece;
            position += static_cast<std::int64_t>(piece);
        } else if (waiting) {
            const HRESULT hr = queue->Write(kWriteData, waiting.Get());
            waiting = nullptr;
            if (FAILED(hr)) return hr;
        } else if (!DecodeAndPlace()) {
            const std::int64_t end = placedEnd;
            OweSilenceToTheEnd();
            if (placedEnd == end) return S_OK;  // the end of the track
        }
    }
    return S_OK;
}

bool CFlashAudioStream5::DecodeAndPlace() {
    if (AllRecordsDecoded()) return false;
    ComPtr<IMediaPacket> pcm;
    std::uint64_t tagTime = 0;
    DecodeNextRecord(pcm, tagTime);
    if (pcm) (void)Place(std::move(pcm), tagTime);
    return true;
}

void CFlashAudioStream5::DecodeNextRecord(ComPtr<IMediaPacket>& pcm, std::uint64_t& tagTime) {
    const IndexEntry& record = manager->audioIndex[nextRecord];
    ++nextRecord;
    tagTime = record.time;
    ApplyConfigurationFor(record.position);
    // A record outside the file (a damaged stored index) is passed over: reading at the old
    // cursor would decode another tag.
    if (!input->SeekTo(record.position)) return;
    ComPtr<IAudioPacket> payload;
    std::uint32_t payloadSize = 0;
    {
        CFLV_TemplateData tag;
        if (!tag.Read(*input) || tag.GetTagType() != kFlvAudioTag) return;
        CFLV_AudioData* body = tag.AudioBody();
        if (body == nullptr || body->Payload() == nullptr) return;
        payloadSize = body->PayloadSize();
        payload = body->TakePayload();
    }
    (void)payload->SetFormat(inputFormat.Get());
    (void)payload->SetPayloadInfo(static_cast<LONG>(payloadSize), static_cast<double>(tagTime));
    (void)decoder->Write(kWriteData, payload.Get());
    ComPtr<IUnknown> decoded;
    (void)decoder->Read(0, 0.0, decoded.Put());
    if (decoded) (void)decoded.As(pcm);
}

void CFlashAudioStream5::SetDecoderExtraData(const CExtraData* extra) {
    const bool haveExtra = extra != nullptr && !extra->Empty() && extra->Length() <= kLongMax;
    (void)decoder->SetExtraData(haveExtra ? extra->Data() : nullptr,
                                haveExtra ? static_cast<LONG>(extra->Length()) : 0);
}

void CFlashAudioStream5::ApplyConfigurationFor(std::uint64_t position) {
    const std::vector<ConfigChange>& changes = manager->audioConfigChanges;
    if (changes.empty() || manager->facts.soundFormat != kSoundFormatAac) return;
    const std::ptrdiff_t wanted = LatestConfigChangeBefore(changes, position);
    if (wanted == appliedConfiguration) return;
    appliedConfiguration = wanted;
    if (wanted < 0) {
        SetDecoderExtraData(manager->audioExtra.get());
        return;
    }
    // A sequence header that can no longer be read (the file changed) leaves the decoder as it is.
    CExtraData configuration;
    if (CFLV_Manager::ReadConfiguration(*input, changes[static_cast<std::size_t>(wanted)].position,
                                        configuration)) {
        SetDecoderExtraData(&configuration);
    }
}

HRESULT CFlashAudioStream5::Place(ComPtr<IMediaPacket> pcm, std::uint64_t tagTime) {
    const LONG blockAlign = OutputBlockAlign();
    LONG size = 0;
    (void)pcm->GetSize(&size);
    const std::int64_t frames = size / blockAlign;
    if (frames <= 0) return S_OK;

    // Where the sound so far ends (less what is still to be dropped) against its tag's time.
    const std::int64_t delta =
        TagFrame(tagTime) - (placedEnd - static_cast<std::int64_t>(dropOwed));
    const double threshold = placedEnd == 0 ? kFirstSeconds : kHardSeconds;
    if (std::abs(static_cast<double>(delta)) / OutputRate() > threshold) {
        if (delta > 0) {
            silenceOwed += static_cast<std::uint64_t>(delta);
            placedEnd += delta;
        } else {
            dropOwed += static_cast<std::uint64_t>(-delta);
        }
    }
    const std::uint64_t drop = std::min(dropOwed, static_cast<std::uint64_t>(frames));
    dropOwed -= drop;
    if (drop == static_cast<std::uint64_t>(frames)) return S_OK;
    if (drop > 0) {
        const HRESULT hr = DropFront(pcm.Get(), drop, blockAlign);
        if (FAILED(hr)) return hr;
    }
    placedEnd += frames - static_cast<std::int64_t>(drop);
    // Sound after a gap waits until the silence before it is in the queue.
    if (silenceOwed > 0) {
        waiting = std::move(pcm);
        return S_OK;
    }
    return queue->Write(kWriteData, pcm.Get());
}

void CFlashAudioStream5::OweSilenceToTheEnd() {
    if (!AllRecordsDecoded()) return;
    const std::int64_t end = TrackEndFrames();
    soundEndMs = std::max(soundEndMs, static_cast<double>(end) * 1000.0 / OutputRate());
    if (end <= placedEnd) return;
    silenceOwed += static_cast<std::uint64_t>(end - placedEnd);
    placedEnd = end;
}

std::int64_t CFlashAudioStream5::PreRoll(std::size_t from, std::size_t to) {
    const IndexArray& index = manager->audioIndex;
    std::vector<std::int64_t> lengths;
    lengths.reserve(to - from);
    for (nextRecord = from; nextRecord < to;) {
        ComPtr<IMediaPacket> pcm;
        std::uint64_t tagTime = 0;
        DecodeNextRecord(pcm, tagTime);
        LONG size = 0;
        if (pcm) (void)pcm->GetSize(&size);
        lengths.push_back(size / OutputBlockAlign());
    }
    (void)queue->Reset(0);

    // Read straight through from the start, the sound of record `to` starts after the sound of
    // every record before it. Most tracks hold tags of one length (an AAC or MP3 frame each):
    // when the pre-roll's tags all have one length, and the records before `to` at that length
    // bring it to its tag's time within a millisecond (a tag's time is its start rounded, after
    // the writer's own shift), that is where it starts, to the sample.
    const double rate = OutputRate();
    const std::int64_t own = TagFrame(index[to].time);
    const auto reliable =
        lengths.begin() + static_cast<std::ptrdiff_t>(std::min(kWarmUpRecords, lengths.size()));
    if (lengths.end() - reliable >= 2 && *reliable > 0 &&
        std::all_of(reliable, lengths.end(), [&](std::int64_t n) { return n == *reliable; })) {
        const std::int64_t first = TagFrame(index.front().time);
        const std::int64_t start =
            (first / rate > kFirstSeconds ? first : 0) + static_cast<std::int64_t>(to) * *reliable;
        if (std::abs(static_cast<double>(start - own)) <= rate / 1000.0) return start;
    }
    // Otherwise each record before it bounds its start, as long as no gap or overlap lies
    // between them: that record's start (its time to within half a millisecond) plus the
    // frames decoded in between. Together they narrow it down.
    // Times beyond 32 bits (a damaged stored index) count as the largest, as in TagFrame.
    const auto frameOf = [&](std::uint64_t ms) {
        return static_cast<double>(std::min<std::uint64_t>(ms, kLargestTagTime)) * rate / 1000.0;
    };
    const double half = rate / 2000.0;
    const double exact = frameOf(index[to].time);
    double low = exact - half;
    double high = exact + half;
    double decoded = 0.0;
    for (std::size_t k = to; k-- > from + kWarmUpRecords;) {
        decoded += static_cast<double>(lengths[k - from]);
        const double start = frameOf(index[k].time) + decoded;
        if (std::abs(start - exact) / rate > kHardSeconds) break;
        low = std::max(low, start - half);
        high = std::min(high, start + half);
    }
    // Times that contradict each other (rounded another way, or off by a little) leave the
    // record at its own time.
    return low <= high ? std::llround((low + high) / 2.0) : own;
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

std::int64_t CFlashAudioStream5::TagFrame(std::uint64_t ms) const {
    // Tag times are 32 bits; a larger one (a damaged stored index) counts as the largest, so
    // that positions stay far inside 64 bits. Nearest, halves up, in integers: exact at any
    // rate.
    const std::uint64_t time = std::min(ms, kLargestTagTime);
    const auto rate = static_cast<std::uint64_t>(OutputRate());
    return static_cast<std::int64_t>((time * rate + 500) / 1000);
}

std::int64_t CFlashAudioStream5::TrackEndFrames() const {
    const double estimate = manager->facts.audioDuration * OutputRate() / 1000.0;
    if (!AllRecordsDecoded() || !(estimate > static_cast<double>(placedEnd))) return placedEnd;
    // Sound that ends near the end of the latest tag's sound ends the track, as a difference
    // between a tag's time and the sound is left alone; only a shortfall beyond that is filled
    // (a last tag that decodes to nothing, say).
    if ((estimate - static_cast<double>(placedEnd)) / OutputRate() <= kHardSeconds)
        return placedEnd;
    return static_cast<std::int64_t>(std::min(std::round(estimate), kMaxFrames));
}

double CFlashAudioStream5::TrackDurationMs() const {
    return std::max(manager->facts.audioDuration, soundEndMs);
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
    waiting = nullptr;
    dropOwed = 0;
    placedEnd = position;
}
