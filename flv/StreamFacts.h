// The facts about a file's streams that CFLV_Manager collects besides its indexes: from the tags
// themselves, from "onMetaData" script tags, or from a stored index. The manager holds one of
// these; its owner reads it directly. Defaults are the values of a manager that has seen nothing.
#pragma once

#include <cstdint>

#include "platform/Types.h"

// Values that containers carry as COM `long`s are LONG (32 bits on both targets, but `long` on
// Windows), so that they are read in place.
struct StreamFacts {
    // Video
    bool hasVideo = false;              // set by BuildIndex when the video index is not empty
    LONG width = 320;                   // frame width in pixels
    LONG height = 240;                  // frame height in pixels
    LONG videoDataRate = 0;             // kilobits per second (metadata or stored index)
    double frameRate = 25.0;            // frames per second
    std::uint32_t videoFrameCount = 0;  // entries in the video index
    LONG videoCodec = 1;                // FLV video CodecID, or a value from the metadata
    double videoDuration = 0.0;         // milliseconds

    // Audio
    bool hasAudio = false;            // set by BuildIndex when the audio index is not empty
    std::int32_t sampleRate = 0;      // samples per second
    std::int32_t channels = 0;        // 1 or 2
    LONG audioDataRate = 0;           // kilobits per second (metadata or stored index)
    std::int32_t bitsPerSample = 0;   // 8 or 16
    LONG soundFormat = 2;             // FLV SoundFormat, or a value from the metadata
    WAVEFORMATEX waveFormat{};        // the audio sample format for the host
    std::int32_t audioCodecCode = 0;  // host audio codec code
    double audioDuration = 0.0;       // ms: where the sound of the latest tag ends
};
