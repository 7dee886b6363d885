// How long the sound of one FLV audio tag lasts, told by the tag itself: its header fields, the
// size of its payload and, where the format needs it, the first bytes of the payload.
//
//   linear PCM      payload bytes / (channels x bytes per sample), at the SoundRate
//   ADPCM           blocks of 4096 samples: 2 bits of code size, then per block 22 bits of
//                   header per channel and (code size x channels) bits per further sample
//   MP3             the frame headers one after the other (1152, 576 or 384 samples a frame)
//   Nellymoser      256 samples per 64-byte block
//   G.711           one byte per sample and channel, always at 8000 Hz
//   AAC             one frame per tag: 1024 (or 960) samples at the core rate of the
//                   AudioSpecificConfig (an SBR stream gives twice the samples at twice the
//                   rate: the same length)
//   Speex           frames of 320 samples at 16000 Hz, walked bit by bit through their modes
//                   as the decoder reads them
//
// Lengths are what a decoder of the format makes of the tag, so that a track's end can be
// known before it is decoded. Pure functions; nothing here reads a file.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "platform/Types.h"

// The header fields of an audio tag (see CFLV_AudioData).
struct AudioTagFields {
    std::uint32_t soundFormat = 0;
    std::uint32_t soundRate = 0;  // 0 to 3
    std::uint32_t soundSize = 0;  // 0: 8-bit, 1: 16-bit
    std::uint32_t soundType = 0;  // 0: mono, 1: stereo
};

// How many of the payload's first bytes AudioTagSoundMs needs to see (the whole payload for
// MP3 and Speex, one byte for ADPCM, none for the formats whose size tells all).
std::uint64_t AudioSoundBytesNeeded(const AudioTagFields& fields, std::uint64_t payloadSize);

// The length in milliseconds of the sound of a tag whose payload holds `payloadSize` bytes, of
// which `payloadStart` are the first (at least AudioSoundBytesNeeded of them). `aacConfig` is
// the stream's AudioSpecificConfig (may be empty). Nothing when the tag alone does not tell: a
// format not listed above, a payload that does not parse, a configuration that names no rate.
std::optional<double> AudioTagSoundMs(const AudioTagFields& fields, std::uint64_t payloadSize,
                                      std::span<const BYTE> payloadStart,
                                      std::span<const BYTE> aacConfig);
