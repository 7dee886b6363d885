// The facts and the index of an opened file as the component hands them to its host: the
// information container of each stream that the open leaves under "FLVSettings" in the host's
// container (the same container the component keeps as its index cache file), the formats of
// the two tracks and their durations. The stored index stream inside each container is parsed
// here, by flvhost itself; nothing of the component's own code is linked.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/flvhost/Host.h"

namespace flvhost {

// One tag of the index: its file position (the tag's first byte), its time in milliseconds
// (presentation time for video) and its frame type (video: 1 key, 2 inter, 3 disposable inter;
// audio: 2).
struct IndexRecord {
    bool video = false;
    std::uint64_t position = 0;
    std::uint64_t timeMs = 0;
    std::uint32_t frameType = 0;
};

struct VideoFacts {
    bool present = false;
    LONG flvCodec = 0;   // "VideoCodecType": the FLV CodecID
    LONG hostCodec = 0;  // the track format's codec code
    LONG width = 0;
    LONG height = 0;
    double frameRate = 0.0;
    LONG dataRateKbps = 0;  // "VideoDateRate"
    double durationMs = 0.0;
    std::vector<IndexRecord> index;
    std::size_t keyframes = 0;
};

struct AudioFacts {
    bool present = false;
    LONG soundFormat = 0;  // "AudioCodecType": the FLV SoundFormat
    LONG hostCodec = 0;
    LONG sampleRate = 0;
    LONG channels = 0;
    LONG bitsPerSample = 0;
    LONG dataRateKbps = 0;  // "AudioDataRate"
    double durationMs = 0.0;
    std::vector<IndexRecord> index;
};

enum class IndexOrigin { kWalk, kCache, kCacheOff };

struct FileFacts {
    std::string file;
    std::uint64_t size = 0;
    std::string hash;
    IndexOrigin origin = IndexOrigin::kWalk;
    VideoFacts video;
    AudioFacts audio;
};

// Opens the file and gathers everything above. The container of the kind opened last is in the
// host's container after the open; for a file with both kinds the video one comes from a second
// open with "OnlyVideoOpen" (from the index cache, unless the cache is off).
FileFacts CollectFacts(const OpenOptions& options);

// Parses a stored index stream (little-endian: V and A, signed 32-bit sizes of codec extra data,
// then V + A bytes, N, signed 32-bit, then N records of 36 bytes: position 8, time 8, reserved 8,
// frame type 4, reserved 4, kind 4 with 1 for video). Appends the complete records; false when
// the bytes end before N records.
bool ParseStoredIndex(std::string_view bytes, std::vector<IndexRecord>& records);

// The index cache file that the component keeps for `hash` and a kind ('v' or 'a').
std::string CacheFilePath(const std::wstring& hash, char kind);
// The records of one kind in an index cache file; nullopt when it cannot be read.
std::optional<std::vector<IndexRecord>> CachedIndex(const std::string& cacheFile, bool video);

// Names of the FLV codec numbers ("H.264", "AAC", ...); "unknown" for others.
std::string VideoCodecName(LONG flvCodec);
std::string AudioCodecName(LONG soundFormat);

}  // namespace flvhost
