// Driving a FlashAudioStream5 object as a host does: created by class identifier, opened with
// command 1001 and a parameter container, read through IMediaStream. Also PCM FLV files made
// by hand, whose samples tell where in the track they come from.
#pragma once

#include <cstdint>
#include <string_view>

#include "frame/Interfaces.h"
#include "tests/support/ComponentTestSupport.h"

// mediakit and FlashAudioStream5 are registered for the whole test program.

ComPtr<IMediaStream> NewAudioStream();
// A new stream opened on `file` (the test fails when the open does).
ComPtr<IMediaStream> OpenAudioStream(const std::filesystem::path& file,
                                     const wchar_t* hash = nullptr);

// One Read of `ms`; nullopt when no packet came. Checks that the packet is 16-bit PCM in whole
// sample frames, starts at the stream's time, lasts what its size says and no more than asked,
// and that Time moved by it.
std::optional<PcmPacket> ReadPacket(IMediaStream* stream, double ms);
// Reads until no packet comes (and none after); the packets must tile the timeline.
std::vector<PcmPacket> ReadToEnd(IMediaStream* stream, double ms);

// A hand-made FLV file of little-endian 16-bit PCM (SoundFormat 3) at 44100 Hz: `tags` tags of
// 100 ms each (4410 sample frames), the first at `firstTime` ms. Sample s of channel c of the
// track's frame f is f % 30000 + 1 (negated in the second channel), so a block of PCM tells
// where it was taken from.
std::string PcmFlv(int tags, std::uint32_t firstTime = 0, int channels = 1);
// The same with one tag at each of `times`.
std::string PcmFlvAt(const std::vector<std::uint32_t>& times, int channels);
constexpr LONG kPcmRate = 44100;
// The PCM of `frames` track frames from `firstFrame` on, as the stream delivers it.
std::string RampPcm(std::uint64_t firstFrame, std::uint64_t frames, int channels);
// True when every byte is zero.
bool IsSilence(std::string_view pcm);
