// Driving a FlashAudioStream5 object as a host does: created by class identifier, opened with
// command 1001 and a parameter container, read through IMediaStream. Also PCM FLV files made
// by hand, whose samples tell where in the track they come from.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "frame/Interfaces.h"
#include "mediakit/MediaInterfaces.h"
#include "tests/support/ComponentClasses.h"

// One packet as the host receives it.
struct DeliveredPacket {
    double time = 0.0;
    double duration = 0.0;
    bool discontinuity = false;
    std::string data;
    LONG rate = 0;
    LONG blockAlign = 0;
};

class AudioStreamTest : public ::testing::Test {
  protected:
    void SetUp() override;

    // A new stream object, created through CoCreateInstance.
    static ComPtr<IMediaStream> NewStream();
    // A container with "OperationMode" 1, "FileName" and, when given, "FileHash".
    static ComPtr<IMediaParams> OpenParams(const std::wstring& file, const wchar_t* hash = nullptr);
    static HRESULT Open(IMediaStream* stream, const std::wstring& file,
                        const wchar_t* hash = nullptr);
    // A new stream opened on `file` (the test fails when the open does).
    static ComPtr<IMediaStream> OpenedStream(const std::wstring& file,
                                             const wchar_t* hash = nullptr);

    // One Read of `ms`; nullopt when no packet came. Checks that the packet starts at the
    // stream's time, that its duration follows from its size, and that Time moved by it.
    static std::optional<DeliveredPacket> ReadPacket(IMediaStream* stream, double ms);
    // Reads until no packet comes; the packets must tile the timeline without gaps.
    static std::vector<DeliveredPacket> ReadToEnd(IMediaStream* stream, double ms);
    static std::string Joined(const std::vector<DeliveredPacket>& packets);

    static double Time(IMediaStream* stream);
    static double Duration(IMediaStream* stream);
    static std::uint64_t Capabilities(IMediaStream* stream);

    // The calling thread's error record names the audio stream class and carries `message`.
    static void ExpectErrorRecord(const wchar_t* message);

  private:
    ComponentClassRegistration classes_;
};

// A hand-made FLV file of little-endian 16-bit PCM (SoundFormat 3) at 44100 Hz: `tags` tags of
// 100 ms each (4410 sample frames), the first at `firstTime` ms. Sample s of channel c of the
// track's frame f is RampSample(f, c), so a block of PCM tells where it was taken from.
std::string PcmFlv(int tags, std::uint32_t firstTime = 0, int channels = 1);
constexpr LONG kPcmRate = 44100;
constexpr int kPcmFramesPerTag = 4410;
std::int16_t RampSample(std::uint64_t frame, int channel);
// The PCM of `frames` track frames from `firstFrame` on, as the stream delivers it.
std::string RampPcm(std::uint64_t firstFrame, std::uint64_t frames, int channels);
// True when every byte is zero.
bool IsSilence(std::string_view pcm);
