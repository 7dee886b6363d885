// A small FLV reader for the decoder tests: the payloads of every video and audio tag, cut
// exactly as the component's tag readers cut them for the decoders (video after its header
// bytes: 5 for AVC, 2 for VP6, 1 for the others; audio after 2 bytes for AAC, 1 for the others),
// with the codec configuration bytes and the host codes and wave format the component derives.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "platform/Types.h"

struct FlvVideoTag {
    bool keyFrame = false;  // FrameType 1
    std::uint32_t time = 0;
    std::vector<std::uint8_t> payload;
};

struct FlvFile {
    int videoCodecId = 0;                  // FLV CodecID of the first video tag
    std::vector<std::uint8_t> videoExtra;  // AVC sequence header, or the VP6 adjustment byte
    std::vector<FlvVideoTag> video;
    int soundFormat = -1;  // of the first audio tag
    int soundRate = 0;
    int soundSize = 0;
    int soundType = 0;
    std::vector<std::uint8_t> audioExtra;  // AAC AudioSpecificConfig
    std::vector<std::vector<std::uint8_t>> audio;
};

std::optional<FlvFile> ReadFlvFile(const std::filesystem::path& file);

// Host codec codes and the wave format the component gives these streams.
LONG HostVideoCodec(const FlvFile& file);
LONG HostAudioCodec(const FlvFile& file);
WAVEFORMATEX HostWaveFormat(const FlvFile& file);
