// Driving the decoders from tests as the stream objects do: decoders, formats and packets made
// through CoCreateInstance, payloads written one by one and output read after each.
#pragma once

#include <string>
#include <vector>

#include "mediakit/MediaInterfaces.h"
#include "platform/ComPtr.h"
#include "tests/decoders/FlvTags.h"

// A video decoder configured for `hostCodec`, with extra data, colour space and started.
ComPtr<IVideoDecoder> StartVideoDecoder(LONG hostCodec, const std::vector<std::uint8_t>& extra,
                                        LONG colorSpace = kColorSpaceYuv420);
// An audio decoder configured for 16-bit PCM of `channels` at `rate`, with extra data and reset.
ComPtr<IAudioDecoder> StartAudioDecoder(int channels, int rate,
                                        const std::vector<std::uint8_t>& extra);

ComPtr<IMediaPacket> MakeVideoPacket(const std::vector<std::uint8_t>& payload);
ComPtr<IAudioFormat> MakeAudioFormat(LONG hostCodec, const WAVEFORMATEX& wave);
ComPtr<IMediaPacket> MakeAudioPacket(const std::vector<std::uint8_t>& payload,
                                     IAudioFormat* format);

// The data block of a packet.
std::string PacketData(IMediaPacket* packet);

// Every packet a processor hands out now, until Read answers null.
std::vector<ComPtr<IMediaPacket>> ReadAll(IMediaProcessor* processor);

// Writes the payloads of `tags` from `first` on (each followed by reads; with `markKeyFrames`
// each packet carries its tag's keyframe mark), then ends the input and drains. Answers every
// frame in the order handed out.
std::vector<ComPtr<IMediaPacket>> DecodeVideo(IVideoDecoder* decoder,
                                              const std::vector<FlvVideoTag>& tags,
                                              std::size_t first = 0, bool markKeyFrames = false);
// MD5 of every frame's data.
std::vector<std::string> FrameHashes(const std::vector<ComPtr<IMediaPacket>>& frames);

// All audio of `file` decoded to `channels` and `rate`, ended with Write(1) when `drain`.
std::string DecodeAudio(const FlvFile& file, int channels, int rate, bool drain = true);
