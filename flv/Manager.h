// CFLV_Manager: turns an FLV file into what the rest of the component works from: an index of
// the video tags and one of the audio tags (file position, time, frame type), the codec extra
// data of each stream, and the stream facts (frame size and rate, codecs, data rates,
// durations, the audio sample format).
//
// It gets them by walking every tag of the file once, or from a stored index (a parameter
// container holding the index streams of flv/StoredIndex.h), and extends them when the file
// has grown since the last walk.
//
// The walk (BuildIndex without a container, RefreshIndex without one) takes tag after tag:
//  - bytes that are no tag (a TagType other than 8, 9 or 18: a zero-filled hole, junk, the
//    extra bytes of a header whose DataOffset is above 9), a header whose body runs past the
//    end of the file, and a tag whose PreviousTagSize is not DataSize + 11 and after which no
//    tag header follows, are a damaged stretch: the walk goes on at the next confirmed tag
//    start after it (CFLV_TagSearch) and takes nothing from the stretch. A wrong
//    PreviousTagSize followed by a tag header is a writer's slip: the tag stands;
//  - where no confirmed tag follows (the end of the file, a tag still being written, a
//    pre-allocated tail not yet written), and at a header not yet wholly in the file, the walk
//    ends; resumeOffset then names the start of that tag or stretch, so that a later
//    RefreshIndex looks at it again once more of the file is there;
//  - a complete tag (header, body and PreviousTagSize all in the file) whose body cannot be
//    parsed (an empty audio or video body, a body shorter than its fixed fields, a damaged
//    script body) is stepped over: nothing is indexed or taken from it;
//  - a sequence header (AVC or AAC) gives the stream's codec extra data when it is the first;
//    a later one whose bytes differ from the configuration in effect is noted as a change of
//    configuration (videoConfigChanges, audioConfigChanges); neither it nor a repeated one, nor
//    a body without payload (the AVC end-of-sequence tag, an empty raw AAC or MP3 body), is an
//    index entry: none of them holds a frame;
//  - a tag whose body parsed but whose PreviousTagSize is not yet in the file is taken in
//    (indexed) and the walk ends with resumeOffset at its start; the next walk passes that tag
//    without taking it in a second time.
// So repeated refreshes of a growing file end with exactly the index of a full walk; damage can
// make them differ only where a tag taken before its PreviousTagSize was written then proves to
// stand before damage (it stays in), or where junk holds a tag start inside a tag.
//
// The owner reads the public fields directly and serialises all calls; the manager has no lock.
// BuildIndex and RefreshIndex report nothing; they may throw std::bad_alloc, which the owner's
// interface method turns into E_OUTOFMEMORY.
#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

#include "flv/ConfigChange.h"
#include "flv/ExtraData.h"
#include "flv/IndexArray.h"
#include "flv/StreamFacts.h"
#include "io/InputStream.h"
#include "io/OutputStream.h"
#include "mediakit/MediaInterfaces.h"

class CFLV_AudioData;
class CFLV_TagSearch;
class CFLV_VideoData;
struct StoredIndexContent;

class CFLV_Manager {
  public:
    CFLV_Manager() = default;
    virtual ~CFLV_Manager() = default;
    CFLV_Manager(const CFLV_Manager&) = delete;
    CFLV_Manager& operator=(const CFLV_Manager&) = delete;
    // A manager that starts over is a new one moved in (`manager = CFLV_Manager()`).
    CFLV_Manager(CFLV_Manager&&) = default;
    CFLV_Manager& operator=(CFLV_Manager&&) = default;

    // Empties both indexes, then fills them: from `container` when one is given (its
    // "VideoCodecType", "VideoWidth", "VideoHeight", "VideoFrameRate", "VideoDateRate",
    // "AudioCodecType", "AudioDataRate" and the streams "FileVideoIndexes" and
    // "FileAudioIndexes"), otherwise by walking `input` from its cursor, which stands at the
    // first tag; script tags met on the walk feed the metadata rules. Then derives the facts:
    // hasVideo, videoFrameCount and videoDuration from the video index; hasAudio, the sample
    // format (read from the first indexed audio tag) and audioDuration, the end of the sound
    // of the latest audio tag (its time plus the length its size and payload tell).
    void BuildIndex(IMediaParams* container, CInputStream& input);
    // Without a container: walks on from resumeOffset (nothing when the file holds nothing
    // there) and appends; script tags are passed over. With one: replaces both indexes by the
    // stored ones. Then updates videoFrameCount, videoDuration and audioDuration for the
    // streams that got entries. The owner calls input.RefreshSize() first when the file may
    // have grown.
    void RefreshIndex(IMediaParams* container, CInputStream& input);
    // Appends the "onMetaData" script tag describing `facts`, and its PreviousTagSize.
    bool WriteMetaData(COutputStream& output) const;

    // The sample format of an audio stream from the header fields of one of its tags: the
    // FLV SoundFormat, the host's codec code, sample rate, channels, sample size, and the
    // WAVEFORMATEX fields derived from them.
    static void ApplyAudioFormat(const CFLV_AudioData& body, StreamFacts& facts);
    // The frame rate that durations are computed with: `frameRate` when it is positive, finite
    // and gives a finite frame duration, else 30.
    static double UsableFrameRate(double frameRate);
    // The configuration bytes of the sequence header tag at `position` (video or audio), read
    // in full from `input`; false when no such tag is there.
    static bool ReadConfiguration(CInputStream& input, std::uint64_t position,
                                  CExtraData& configuration);

    IndexArray videoIndex;
    IndexArray audioIndex;
    StreamFacts facts;
    // Codec extra data of each stream (AVC or VP6 configuration, AAC configuration), taken
    // from the first tag that carries it and never replaced.
    std::unique_ptr<CExtraData> videoExtra;
    std::unique_ptr<CExtraData> audioExtra;
    // Later sequence headers whose configuration differs from the one in effect before them
    // (AVC for video, AAC for audio), in file order. A stream object hands its decoder the
    // configuration of LatestConfigChangeBefore(changes, position of the record it feeds), read
    // with ReadConfiguration, or the extra data above when that is -1. Stored beside the index
    // streams as "FileVideoConfigChanges" and "FileAudioConfigChanges"; a stored index without
    // them has none.
    std::vector<ConfigChange> videoConfigChanges;
    std::vector<ConfigChange> audioConfigChanges;
    // After a load of a stored index: the stream "FileVideoIndexes" (video true) or
    // "FileAudioIndexes" as it was read, with the index of its kind as its records, when it was
    // exactly what that gives (a stream written from it) and the index holds its records and no
    // others. A stream made from it (flv/StoredIndexStream.h) may then take its place in the
    // container, and this manager's records are shared with whoever loads that. Null otherwise,
    // and once a walk has changed the indexes.
    std::shared_ptr<const StoredIndexContent> LoadedStoredIndex(bool video) const;
    // The last load of a stored index met a stream that failed to read (a cache file's stream
    // that checks its bytes as they are read, found damaged): nothing of that stream is in the
    // indexes, and the owner starts over with a new manager and a walk of the file, as for a
    // cache file that does not load.
    bool StoredIndexUnusable() const noexcept { return storedIndexUnusable_; }

    // File offset of the tag at which the last walk stopped. After BuildIndex loaded a stored
    // index, the last indexed tag (or the first tag when none), so that a refresh of a file
    // opened from the cache still follows the file as it grows.
    std::uint64_t resumeOffset = 0;

  private:
    // Which streams got entries.
    struct Added {
        bool video = false;
        bool audio = false;
    };
    static constexpr std::uint64_t kNoTag = std::numeric_limits<std::uint64_t>::max();
    // Appends a walk's entries to one index (Manager.cpp).
    class IndexAppender;
    struct Appenders {
        IndexAppender& video;
        IndexAppender& audio;
    };
    // The bytes at `damageStart` are no tag: moves the cursor to the next confirmed tag start
    // after them. False, the cursor anywhere, when the file holds none (yet).
    bool StepOverDamage(CInputStream& input, CFLV_TagSearch& search, std::uint64_t damageStart);
    Added Walk(CInputStream& input, bool readMetadata);
    // Takes the tags from the cursor on for as long as each is whole in the file, its
    // PreviousTagSize is right, and it is a plain audio or video frame (flv/PlainTag.h):
    // straight from the window, as the careful path takes them, with no body element and no copy
    // of a payload. The cursor then stands at the first tag not taken, for the careful path to
    // read. False when it could not be brought back to that tag (a read error; resumeOffset
    // names the tag).
    bool TakePlainTags(CInputStream& input, Appenders& appenders, Added& added);
    // The body of the tag at `tagStart` was parsed: index it, or keep its codec extra data.
    // `fileSize` guides the growth of the index. True when an entry was added.
    bool TakeVideo(const CFLV_VideoData& body, std::uint32_t tagTime, std::uint64_t tagStart,
                   std::uint64_t fileSize, IndexAppender& appender);
    bool TakeAudio(const CFLV_AudioData& body, std::uint32_t tagTime, std::uint64_t tagStart,
                   std::uint64_t fileSize, IndexAppender& appender);
    // Parses a script body of `dataSize` bytes and applies its named values; false when the body
    // cannot be parsed.
    bool TakeScript(CInputStream& input, std::uint32_t dataSize);
    Added LoadStoredIndex(IMediaParams* container);
    // After a stored index was loaded by BuildIndex: where a refresh without a container goes on.
    void ResumeAfterStoredIndex();
    void UpdateVideoTotals();
    // audioDuration: the end of the sound of the latest audio tag.
    void UpdateAudioDuration(CInputStream& input);
    // The length of the sound of the audio tag at `position`, as the tag tells it; nothing when
    // it does not (or the tag cannot be read).
    std::optional<double> TagSoundMs(CInputStream& input, std::uint64_t position) const;
    void DeriveAudioFormat(CInputStream& input);

    // What the last load learnt of each stored index stream ("FileVideoIndexes",
    // "FileAudioIndexes"), for LoadedStoredIndex.
    struct LoadedStream {
        bool usable = false;
        std::uint32_t kind = 0;
        CExtraData videoExtra;
        CExtraData audioExtra;
    };
    LoadedStream loadedStreams_[2];
    void ForgetLoadedStreams() noexcept;
    bool storedIndexUnusable_ = false;

    // The start of the tag that the last walk took in although its PreviousTagSize was not yet
    // in the file (resumeOffset names the same tag); kNoTag otherwise.
    std::uint64_t takenTagOffset = kNoTag;
};
