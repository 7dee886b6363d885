#include "flv/Manager.h"

#include <algorithm>
#include <cmath>
#include <span>
#include <vector>

#include "flv/AudioData.h"
#include "flv/AudioSound.h"
#include "flv/Header.h"
#include "flv/IndexMemory.h"
#include "flv/Metadata.h"
#include "flv/PlainTag.h"
#include "flv/ScriptData.h"
#include "flv/StoredIndex.h"
#include "flv/StoredIndexStream.h"
#include "flv/TagLayout.h"
#include "flv/TagSearch.h"
#include "flv/TemplateData.h"
#include "flv/VideoData.h"
#include "platform/Bstr.h"

namespace {
// Host audio codec codes.
constexpr std::int32_t kHostPcm16 = 0x10000;          // 16-bit little-endian PCM
constexpr std::int32_t kHostPcm16Platform = 0x10001;  // 16-bit PCM in platform byte order
constexpr std::int32_t kHostPcm8 = 0x10004;           // 8-bit PCM
constexpr std::int32_t kHostG711ALaw = 0x10006;
constexpr std::int32_t kHostG711MuLaw = 0x10007;
constexpr std::int32_t kHostAdpcm = 0x1100D;
constexpr std::int32_t kHostMp3 = 0x15001;
constexpr std::int32_t kHostAac = 0x15002;
constexpr std::int32_t kHostNellymoser = 0x15025;
constexpr std::int32_t kHostSpeex = 0x15027;
constexpr WORD kWaveFormatMp3 = 0x55;

// The stored index streams of a container, and the kind of record each is written with.
constexpr const wchar_t* kStoredIndexNames[2] = {L"FileVideoIndexes", L"FileAudioIndexes"};
constexpr std::uint32_t kStoredIndexKinds[2] = {kStoredVideoKind, kStoredAudioKind};

constexpr std::int32_t kSampleRates[4] = {5500, 11025, 22050, 44100};
// G.711 is 8 kHz whatever the SoundRate field says (writers put 0 there, "5.5 kHz").
constexpr std::int32_t kG711Rate = 8000;
constexpr double kStandInFrameRate = 30.0;
constexpr std::uint32_t kAudioFrameType = 2;

// Tag time plus composition time, clamped at 0 (a negative composition time on an early frame
// must not wrap to billions of milliseconds).
std::uint64_t VideoEntryTime(std::uint32_t tagTime, std::int32_t compositionTime) {
    const std::int64_t time = static_cast<std::int64_t>(tagTime) + compositionTime;
    return time < 0 ? 0 : static_cast<std::uint64_t>(time);
}

// The capacity an index of `size` entries grows to during a walk, when the next entry is at file
// offset `position` of `fileSize` bytes. A full index grows at least twofold, and at once to the
// number of entries that the whole file is projected to hold at the rate seen so far (plus an
// eighth), so that a long walk moves its entries once or twice instead of twenty times: fresh
// memory pages are costly, and capacity that is never filled costs none. One step reserves at
// most eightfold or kLargeStep entries, whichever is more, and never more than the rest of the
// file could hold, so that a projection from an unusual start stays harmless.
std::size_t GrownCapacity(std::size_t size, std::uint64_t position, std::uint64_t fileSize) {
    constexpr std::size_t kFirstCapacity = 64;
    constexpr double kLargeStep = 1 << 22;
    // The smallest indexed tag: header, a one-byte body and its PreviousTagSize.
    constexpr double kSmallestTag = kFlvTagHeaderSize + 1 + kFlvPreviousTagSizeBytes;
    std::size_t wanted = std::max(kFirstCapacity, 2 * size);
    if (position > 0 && fileSize > position && size >= kFirstCapacity) {
        const double held = static_cast<double>(size);
        const double projected =
            held * (static_cast<double>(fileSize) / static_cast<double>(position)) * 1.125;
        const double ceiling =
            std::min(std::max(8.0 * held, kLargeStep),
                     held + static_cast<double>(fileSize - position) / kSmallestTag);
        wanted = std::max(wanted, static_cast<std::size_t>(std::min(projected, ceiling)));
    }
    return wanted;
}

// FNV-1a over the configuration bytes.
std::uint64_t ConfigurationHash(const CExtraData& configuration) {
    constexpr std::uint64_t kOffsetBasis = 14695981039346656037ull;
    constexpr std::uint64_t kPrime = 1099511628211ull;
    std::uint64_t hash = kOffsetBasis;
    const BYTE* bytes = configuration.Data();
    for (std::uint64_t i = 0; i < configuration.Length(); ++i) hash = (hash ^ bytes[i]) * kPrime;
    return hash;
}

// Notes the sequence header at `position` when its configuration differs from the one in effect
// (the last change, or the stream's first configuration when there is none yet).
void NoteConfiguration(std::vector<ConfigChange>& changes, const CExtraData& first,
                       const CExtraData& configuration, std::uint64_t position) {
    const std::uint64_t hash = ConfigurationHash(configuration);
    const std::uint64_t inEffect = changes.empty() ? ConfigurationHash(first) : changes.back().hash;
    if (hash != inEffect) changes.push_back({position, hash});
}

bool IsVp6OrAvc(std::uint32_t codec) {
    return codec == CFLV_VideoData::kVp6 || codec == CFLV_VideoData::kVp6Alpha ||
           codec == CFLV_VideoData::kAvc;
}

// The largest time of the entries (0 for none). Four maxima side by side, so that the walk over
// a long index is not one chain of comparisons.
std::uint64_t LatestTime(const IndexArray& index) {
    const IndexEntry* entry = index.data();
    const IndexEntry* const end = entry + index.size();
    std::uint64_t latest[4] = {0, 0, 0, 0};
    for (; end - entry >= 4; entry += 4) {
        for (int i = 0; i < 4; ++i) latest[i] = std::max(latest[i], entry[i].time);
    }
    for (; entry != end; ++entry) latest[0] = std::max(latest[0], entry->time);
    return std::max(std::max(latest[0], latest[1]), std::max(latest[2], latest[3]));
}

std::uint32_t BigEndian32(const unsigned char* bytes) {
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | bytes[3];
}
}  // namespace

// Appends a walk's entries to one index, straight into the records' own block (taken over, or
// copied when shared, at the first entry): a comparison and a store an entry, and a growth by
// GrownCapacity when the block is full.
class CFLV_Manager::IndexAppender {
  public:
    explicit IndexAppender(IndexArray& index) noexcept : index_(index) {}
    void Add(const IndexEntry& entry, std::uint64_t fileSize) {
        if (storage_ == nullptr || storage_->size() == storage_->capacity()) [[unlikely]] {
            if (index_.size() == index_.capacity()) {
                ReserveIndex(index_, GrownCapacity(index_.size(), entry.position, fileSize));
            }
            storage_ = &index_.Own();
        }
        storage_->push_back(entry);
    }

  private:
    IndexArray& index_;
    IndexStorage* storage_ = nullptr;
};

double CFLV_Manager::UsableFrameRate(double frameRate) {
    if (!(frameRate > 0.0) || !std::isfinite(frameRate) || !std::isfinite(1000.0 / frameRate)) {
        return kStandInFrameRate;
    }
    return frameRate;
}

bool CFLV_Manager::ReadConfiguration(CInputStream& input, std::uint64_t position,
                                     CExtraData& configuration) {
    if (!input.SeekTo(position)) return false;
    CFLV_TemplateData tag;
    if (!tag.Read(input)) return false;
    const CExtraData* bytes = nullptr;
    if (const CFLV_VideoData* video = tag.VideoBody(); video && video->IsSequenceHeader()) {
        bytes = &video->ExtraData();
    } else if (const CFLV_AudioData* audio = tag.AudioBody(); audio && audio->IsSequenceHeader()) {
        bytes = &audio->ExtraData();
    }
    if (bytes == nullptr || bytes->Empty()) return false;
    configuration = *bytes;
    return true;
}

void CFLV_Manager::BuildIndex(IMediaParams* container, CInputStream& input) {
    ForgetLoadedStreams();
    storedIndexUnusable_ = false;
    videoIndex.clear();
    audioIndex.clear();
    videoConfigChanges.clear();
    audioConfigChanges.clear();
    takenTagOffset = kNoTag;
    if (container != nullptr) {
        (void)LoadStoredIndex(container);
        ResumeAfterStoredIndex();
    } else {
        (void)Walk(input, true);
    }
    if (!videoIndex.empty()) {
        facts.hasVideo = true;
        UpdateVideoTotals();
    }
    if (!audioIndex.empty()) {
        facts.hasAudio = true;
        DeriveAudioFormat(input);
        UpdateAudioDuration(input);
    }
}

void CFLV_Manager::RefreshIndex(IMediaParams* container, CInputStream& input) {
    // The indexes change: what stood for them does no longer.
    ForgetLoadedStreams();
    Added added;
    if (container != nullptr) {
        added = LoadStoredIndex(container);
    } else {
        if (!input.SeekTo(resumeOffset)) return;
        added = Walk(input, false);
    }
    if (added.video && !videoIndex.empty()) UpdateVideoTotals();
    if (added.audio && !audioIndex.empty()) UpdateAudioDuration(input);
}

void CFLV_Manager::ResumeAfterStoredIndex() {
    // No walk has run, so a later refresh needs a place to go on from: the last indexed tag,
    // which that walk reads again without indexing it twice. Without entries, the first tag.
    std::uint64_t last = 0;
    bool any = false;
    for (const auto* index : {&videoIndex, &audioIndex}) {
        if (!index->empty()) {
            last = any ? std::max(last, index->back().position) : index->back().position;
            any = true;
        }
    }
    resumeOffset = any ? last : CFLV_Header::kFirstTagOffset;
    takenTagOffset = any ? last : kNoTag;
}

bool CFLV_Manager::WriteMetaData(COutputStream& output) const {
    return ::WriteMetaData(output, facts);
}

CFLV_Manager::Added CFLV_Manager::Walk(CInputStream& input, bool readMetadata) {
    Added added;
    IndexAppender videoAppender(videoIndex);
    IndexAppender audioAppender(audioIndex);
    Appenders appenders{videoAppender, audioAppender};
    // One body element per kind serves every tag of the walk that is not taken quickly.
    CFLV_VideoData video;
    CFLV_AudioData audio;
    CFLV_TagSearch search(input);
    for (;;) {
        if (!TakePlainTags(input, appenders, added)) break;
        const std::uint64_t tagStart = input.Tell();
        resumeOffset = tagStart;
        FlvTagHeader header;
        if (!ReadFlvTagHeader(input, header)) break;
        if (!IsFlvBodyTag(header.tagType) || !FlvBytesInFile(input, header.dataSize)) {
            // No tag here (a hole, junk), or a body that runs past the end of the file: the tag
            // still being written, unless a confirmed tag follows.
            if (StepOverDamage(input, search, tagStart)) continue;
            break;
        }
        const std::uint64_t bodyEnd = input.Tell() + header.dataSize;
        const bool alreadyTaken = tagStart == takenTagOffset;
        if (!CFLV_TagSearch::PreviousTagSizeFits(input, header.dataSize)) [[unlikely]] {
            // Some writers put a wrong value there (0 after the metadata): the tag stands when a
            // tag header follows it. When none does, the header was no tag's (junk, a damaged
            // DataSize, or in a pre-allocated file a tag not yet written whole) and nothing is
            // taken from it.
            const CFLV_TagSearch::Verdict next =
                search.HeaderAt(bodyEnd + kFlvPreviousTagSizeBytes);
            if (next == CFLV_TagSearch::Verdict::kNotYet) break;
            if (next == CFLV_TagSearch::Verdict::kNotTag) {
                if (StepOverDamage(input, search, tagStart)) continue;
                break;
            }
        }

        bool parsed = false;
        if (header.tagType == kFlvVideoTag) {
            video.Reset();
            video.DataSize = header.dataSize;
            parsed = video.Scan(input);
            if (parsed && !alreadyTaken &&
                TakeVideo(video, header.timestamp, tagStart, input.FileSize(), appenders.video)) {
                added.video = true;
            }
        } else if (header.tagType == kFlvAudioTag) {
            audio.Reset();
            audio.DataSize = header.dataSize;
            parsed = audio.Scan(input);
            if (parsed && !alreadyTaken &&
                TakeAudio(audio, header.timestamp, tagStart, input.FileSize(), appenders.audio)) {
                added.audio = true;
            }
        } else if (readMetadata && !alreadyTaken) {
            parsed = TakeScript(input, header.dataSize);
        } else {
            parsed = FlvStepOver(input, header.dataSize);
        }

        // The PreviousTagSize follows the body, whatever the body's parse consumed.
        const bool atBodyEnd =
            input.Tell() == bodyEnd || (bodyEnd < input.FileSize() && input.SeekTo(bodyEnd));
        // Its value was looked at above.
        if (!atBodyEnd || !input.SkipBytes(kFlvPreviousTagSizeBytes)) {
            // The tag is not complete yet. One that was taken in is remembered, so that the
            // walk that reads it again does not take it twice.
            if (parsed) takenTagOffset = tagStart;
            break;
        }
        takenTagOffset = kNoTag;
    }
    return added;
}

bool CFLV_Manager::TakePlainTags(CInputStream& input, Appenders& appenders, Added& added) {
    const std::uint64_t fileSize = input.FileSize();
    for (;;) {
        const std::uint64_t tagStart = input.Tell();
        // A tag taken in before its PreviousTagSize was there is passed by the careful path.
        if (tagStart == takenTagOffset || tagStart >= fileSize) return true;
        // The header and the body's fixed fields at hand in the window (the cursor stays).
        if (!input.EnsureAvailable(
                std::min(kFlvTagHeaderSize + kPlainTagMostFixedBytes, fileSize - tagStart))) {
            return true;
        }
        const unsigned char* bytes = input.Data() + input.Position();
        const std::uint64_t atHand = input.Length() - input.Position();
        PlainTag tag;
        if (!ReadPlainTag(bytes, atHand, tag)) return true;
        // The whole tag must be in the file, its PreviousTagSize included.
        const std::uint64_t tagBytes = kFlvTagHeaderSize + tag.dataSize + kFlvPreviousTagSizeBytes;
        if (tagBytes > fileSize - tagStart) return true;
        const std::uint32_t expected = tag.dataSize + kFlvTagHeaderSize;
        if (tagBytes <= atHand) {
            if (BigEndian32(bytes + tagBytes - kFlvPreviousTagSizeBytes) != expected) return true;
            (void)input.SkipBytes(tagBytes);  // at hand: cannot fail
        } else {
            // The payload runs past the window: the window moves on to the PreviousTagSize (and
            // the tags after it) without reading the payload, as the careful path does.
            if (!input.SeekTo(tagStart + tagBytes - kFlvPreviousTagSizeBytes) ||
                !input.EnsureAvailable(kFlvPreviousTagSizeBytes) ||
                BigEndian32(input.Data() + input.Position()) != expected) {
                if (input.SeekTo(tagStart)) return true;
                resumeOffset = tagStart;
                return false;
            }
            (void)input.SkipBytes(kFlvPreviousTagSizeBytes);  // at hand: cannot fail
        }
        // Taken as TakeVideo and TakeAudio take what the body elements read of such a tag.
        if (tag.tagType == kFlvVideoTag) {
            if (facts.videoCodec == static_cast<std::int32_t>(CFLV_VideoData::kDefaultCodec)) {
                facts.videoCodec = static_cast<std::int32_t>(tag.codecId);
            }
            if (tag.payloadSize > 0) {
                appenders.video.Add(
                    {tagStart, VideoEntryTime(tag.timestamp, tag.compositionTime), tag.frameType},
                    fileSize);
                added.video = true;
            }
        } else if (tag.payloadSize > 0) {
            appenders.audio.Add({tagStart, tag.timestamp, kAudioFrameType}, fileSize);
            added.audio = true;
        }
        takenTagOffset = kNoTag;
    }
}

bool CFLV_Manager::StepOverDamage(CInputStream& input, CFLV_TagSearch& search,
                                  std::uint64_t damageStart) {
    std::uint64_t next = 0;
    if (!search.FindFrom(damageStart + 1, next) || !input.SeekTo(next)) return false;
    takenTagOffset = kNoTag;
    return true;
}

bool CFLV_Manager::TakeVideo(const CFLV_VideoData& body, std::uint32_t tagTime,
                             std::uint64_t tagStart, std::uint64_t fileSize,
                             IndexAppender& appender) {
    const std::uint32_t codec = body.CodecId();
    if (facts.videoCodec == static_cast<std::int32_t>(CFLV_VideoData::kDefaultCodec)) {
        facts.videoCodec = static_cast<std::int32_t>(codec);
    }
    if (IsVp6OrAvc(codec) && !videoExtra && !body.ExtraData().Empty()) {
        videoExtra = std::make_unique<CExtraData>(body.ExtraData());
    } else if (body.IsSequenceHeader() && videoExtra && !body.ExtraData().Empty()) {
        NoteConfiguration(videoConfigChanges, *videoExtra, body.ExtraData(), tagStart);
    }
    // A sequence header (the first or a repeated one) is configuration, and a body without
    // payload (the AVC end-of-sequence tag) holds no frame: neither is an entry.
    if (body.IsSequenceHeader() || body.PayloadSize() == 0) return false;
    appender.Add({tagStart, VideoEntryTime(tagTime, body.CompositionTime()), body.FrameType()},
                 fileSize);
    return true;
}

bool CFLV_Manager::TakeAudio(const CFLV_AudioData& body, std::uint32_t tagTime,
                             std::uint64_t tagStart, std::uint64_t fileSize,
                             IndexAppender& appender) {
    if (body.IsSequenceHeader()) {
        if (!audioExtra && !body.ExtraData().Empty()) {
            audioExtra = std::make_unique<CExtraData>(body.ExtraData());
        } else if (audioExtra && !body.ExtraData().Empty()) {
            NoteConfiguration(audioConfigChanges, *audioExtra, body.ExtraData(), tagStart);
        }
        return false;
    }
    if (body.PayloadSize() == 0) return false;
    appender.Add({tagStart, tagTime, kAudioFrameType}, fileSize);
    return true;
}

bool CFLV_Manager::TakeScript(CInputStream& input, std::uint32_t dataSize) {
    CFLV_ScriptData script;
    script.DataSize = dataSize;
    if (!script.Scan(input)) return false;
    ApplyMetadata(script, facts);
    return true;
}

void CFLV_Manager::UpdateVideoTotals() {
    facts.videoFrameCount = static_cast<std::uint32_t>(videoIndex.size());
    // The latest presentation time, not the last entry's: a stream with reordered frames can
    // end on a frame that is shown before the one decoded just ahead of it.
    const std::uint64_t latest = LatestTime(videoIndex);
    facts.videoDuration = 1000.0 / UsableFrameRate(facts.frameRate) + static_cast<double>(latest);
}

void CFLV_Manager::UpdateAudioDuration(CInputStream& input) {
    // The latest tag (the last of equal times) ends the track: a tag that goes back in time
    // has its sound laid over what was already played.
    const std::uint64_t latestTime = LatestTime(audioIndex);
    const IndexEntry* latest = &audioIndex.back();
    while (latest->time != latestTime) --latest;
    facts.audioDuration =
        static_cast<double>(latest->time) + TagSoundMs(input, latest->position).value_or(0.0);
}

std::optional<double> CFLV_Manager::TagSoundMs(CInputStream& input, std::uint64_t position) const {
    FlvTagHeader header;
    if (!input.SeekTo(position) || !ReadFlvTagHeader(input, header) ||
        header.tagType != kFlvAudioTag || !FlvBytesInFile(input, header.dataSize)) {
        return std::nullopt;
    }
    const std::uint64_t bodyEnd = input.Tell() + header.dataSize;
    CFLV_AudioData body;
    body.DataSize = header.dataSize;
    if (!body.Scan(input) || body.IsSequenceHeader()) return std::nullopt;
    const AudioTagFields fields{body.SoundFormat(), body.SoundRate(), body.SoundSize(),
                                body.SoundType()};
    // Only the bytes the format needs are read (at most the 16 MB a tag can hold).
    std::vector<BYTE> start;
    const std::uint64_t needed = AudioSoundBytesNeeded(fields, body.PayloadSize());
    if (needed > 0 &&
        (!input.SeekTo(bodyEnd - body.PayloadSize()) || !input.ReadBytes(start, needed))) {
        return std::nullopt;
    }
    const std::span<const BYTE> config =
        audioExtra ? std::span<const BYTE>(audioExtra->Data(), audioExtra->Length())
                   : std::span<const BYTE>();
    return AudioTagSoundMs(fields, body.PayloadSize(), start, config);
}

void CFLV_Manager::DeriveAudioFormat(CInputStream& input) {
    if (!input.SeekTo(audioIndex.front().position)) return;
    FlvTagHeader header;
    if (!ReadFlvTagHeader(input, header) || header.tagType != kFlvAudioTag ||
        !FlvBytesInFile(input, header.dataSize)) {
        return;
    }
    // The header fields are all that is needed: the payload is stepped over, not copied.
    CFLV_AudioData body;
    body.DataSize = header.dataSize;
    if (body.Scan(input)) ApplyAudioFormat(body, facts);
}

void CFLV_Manager::ApplyAudioFormat(const CFLV_AudioData& body, StreamFacts& facts) {
    const std::uint32_t format = body.SoundFormat();
    const bool sixteenBit = body.SoundSize() == 1;
    WAVEFORMATEX& wave = facts.waveFormat;
    facts.soundFormat = static_cast<std::int32_t>(format);
    switch (format) {
        case CFLV_AudioData::kLinearPcm:
            wave.wFormatTag = WAVE_FORMAT_PCM;
            facts.audioCodecCode = sixteenBit ? kHostPcm16Platform : kHostPcm8;
            break;
        case CFLV_AudioData::kAdpcm:
            wave.wFormatTag = 0;
            facts.audioCodecCode = kHostAdpcm;
            break;
        case CFLV_AudioData::kMp3:
            wave.wFormatTag = kWaveFormatMp3;
            facts.audioCodecCode = kHostMp3;
            break;
        case CFLV_AudioData::kLinearPcmLittleEndian:
            wave.wFormatTag = WAVE_FORMAT_PCM;
            facts.audioCodecCode = sixteenBit ? kHostPcm16 : kHostPcm8;
            break;
        case CFLV_AudioData::kNellymoser16kMono:
        case CFLV_AudioData::kNellymoser8kMono:
        case CFLV_AudioData::kNellymoser:
            facts.audioCodecCode = kHostNellymoser;
            break;
        case CFLV_AudioData::kAac:
            facts.audioCodecCode = kHostAac;
            break;
        case CFLV_AudioData::kSpeex:
            facts.audioCodecCode = kHostSpeex;
            break;
        case CFLV_AudioData::kG711ALaw:
        case CFLV_AudioData::kG711MuLaw:
            wave.wFormatTag = 0;
            facts.audioCodecCode =
                format == CFLV_AudioData::kG711ALaw ? kHostG711ALaw : kHostG711MuLaw;
            break;
        default:
            wave.wFormatTag = 0;
            break;
    }

    facts.bitsPerSample = sixteenBit ? 16 : 8;
    // Nellymoser 16 kHz and 8 kHz and Speex have fixed rates; general Nellymoser (6) uses the
    // rate field like every other format.
    std::int32_t rate = kSampleRates[body.SoundRate() & 3];
    if (format == CFLV_AudioData::kNellymoser16kMono || format == CFLV_AudioData::kSpeex) {
        rate = 16000;
    } else if (format == CFLV_AudioData::kNellymoser8kMono) {
        rate = 8000;
    } else if (format == CFLV_AudioData::kG711ALaw || format == CFLV_AudioData::kG711MuLaw) {
        rate = kG711Rate;
    }
    facts.sampleRate = rate;
    facts.channels = static_cast<std::int32_t>(body.SoundType()) + 1;

    wave.wBitsPerSample = static_cast<WORD>(facts.bitsPerSample);
    wave.nSamplesPerSec = static_cast<DWORD>(facts.sampleRate);
    wave.nChannels = static_cast<WORD>(facts.channels);
    wave.nBlockAlign = format == CFLV_AudioData::kMp3
                           ? WORD{1}
                           : static_cast<WORD>(facts.bitsPerSample / 8 * facts.channels);
}

CFLV_Manager::Added CFLV_Manager::LoadStoredIndex(IMediaParams* container) {
    videoIndex.clear();
    audioIndex.clear();
    ForgetLoadedStreams();
    storedIndexUnusable_ = false;
    videoConfigChanges.clear();
    audioConfigChanges.clear();
    bool videoFacts = false;
    bool audioFacts = false;
    LONG codec = 0;
    if (SUCCEEDED(container->GetLong(Bstr(L"VideoCodecType").Get(), -1, &codec))) {
        facts.videoCodec = codec;
        // A name that is missing leaves its field as it was.
        (void)container->GetLong(Bstr(L"VideoWidth").Get(), -1, &facts.width);
        (void)container->GetLong(Bstr(L"VideoHeight").Get(), -1, &facts.height);
        (void)container->GetDouble(Bstr(L"VideoFrameRate").Get(), -1, &facts.frameRate);
        (void)container->GetLong(Bstr(L"VideoDateRate").Get(), -1, &facts.videoDataRate);
        videoFacts = true;
    }
    if (SUCCEEDED(container->GetLong(Bstr(L"AudioCodecType").Get(), -1, &codec))) {
        facts.soundFormat = codec;
        (void)container->GetLong(Bstr(L"AudioDataRate").Get(), -1, &facts.audioDataRate);
        audioFacts = true;
    }
    std::uint64_t contributed[2] = {0, 0};
    for (std::size_t i = 0; i < 2; ++i) {
        ComPtr<IStream> stream;
        if (FAILED(container->GetStream(Bstr(kStoredIndexNames[i]).Get(), 0, 1, stream.Put())) ||
            !stream) {
            continue;
        }
        StoredIndexExtras extras;
        StoredIndexRead read;
        IndexArray video;
        IndexArray audio;
        if (const auto content = StoredIndexContentOf(stream.Get())) {
            // A stream that holds an index decoded before: its records are taken as they are,
            // shared, and its bytes are never made.
            extras.video = content->videoExtra;
            extras.audio = content->audioExtra;
            (content->kind == kStoredVideoKind ? video : audio) = content->entries;
            read = {true, true, content->kind};
        } else {
            // A damaged or short stream keeps what it held before the damage.
            read = ReadStoredIndex(stream.Get(), extras, video, audio);
        }
        if (read.failed) {
            // Found damaged as it was read (a cache file's stream checks its bytes): nothing of
            // it is used, and the owner walks the file instead.
            storedIndexUnusable_ = true;
            continue;
        }
        contributed[i] = read.kind == kStoredVideoKind ? video.size() : audio.size();
        if (read.canonical) {
            loadedStreams_[i] = {true, read.kind != 0 ? read.kind : kStoredIndexKinds[i],
                                 extras.video, extras.audio};
        }
        videoIndex.Append(video);
        audioIndex.Append(audio);
        if (videoFacts && !videoExtra && !extras.video.Empty()) {
            videoExtra = std::make_unique<CExtraData>(std::move(extras.video));
        }
        if (audioFacts && !audioExtra && !extras.audio.Empty()) {
            audioExtra = std::make_unique<CExtraData>(std::move(extras.audio));
        }
    }
    // A stream stands for an index only when that index holds its records and no others.
    for (std::size_t i = 0; i < 2; ++i) {
        LoadedStream& loaded = loadedStreams_[i];
        const IndexArray& index = loaded.kind == kStoredVideoKind ? videoIndex : audioIndex;
        if (loaded.usable && index.size() != contributed[i]) loaded = {};
    }
    for (auto [name, changes] : {std::pair{L"FileVideoConfigChanges", &videoConfigChanges},
                                 std::pair{L"FileAudioConfigChanges", &audioConfigChanges}}) {
        ComPtr<IStream> stream;
        if (SUCCEEDED(container->GetStream(Bstr(name).Get(), 0, 1, stream.Put())) && stream) {
            // A damaged stream keeps the changes before the damage; one that failed to read
            // gives none, and makes the stored index unusable.
            bool failed = false;
            (void)ReadConfigChanges(stream.Get(), *changes, &failed);
            if (failed) storedIndexUnusable_ = true;
        }
    }
    return {!videoIndex.empty(), !audioIndex.empty()};
}

void CFLV_Manager::ForgetLoadedStreams() noexcept {
    for (LoadedStream& loaded : loadedStreams_) loaded = {};
}

std::shared_ptr<const StoredIndexContent> CFLV_Manager::LoadedStoredIndex(bool video) const {
    const LoadedStream& loaded = loadedStreams_[video ? 0 : 1];
    if (!loaded.usable) return nullptr;
    auto content = std::make_shared<StoredIndexContent>();
    content->videoExtra = loaded.videoExtra;
    content->audioExtra = loaded.audioExtra;
    content->entries = loaded.kind == kStoredVideoKind ? videoIndex : audioIndex;
    content->kind = loaded.kind;
    return content;
}
