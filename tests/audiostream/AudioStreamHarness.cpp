#include "tests/audiostream/AudioStreamHarness.h"

#include <algorithm>

#include "platform/Com.h"
#include "streams/AudioStream.h"
#include "tests/support/ComponentClasses.h"
#include "tests/support/FlvBuilder.h"

[[maybe_unused]] static auto* const kRegistration = ::testing::AddGlobalTestEnvironment(
    new ProgramClasses<CFlashAudioStream5>(CLSID_FlashAudioStream5));

ComPtr<IMediaStream> NewAudioStream() {
    ComPtr<IMediaStream> stream;
    EXPECT_EQ(CreateInstance(CLSID_FlashAudioStream5, stream), S_OK);
    return stream;
}

ComPtr<IMediaStream> OpenAudioStream(const std::filesystem::path& file, const wchar_t* hash) {
    auto stream = NewAudioStream();
    EXPECT_TRUE(stream &&
                stream->SendCommandEx(1001, OpenParams(file, hash).Get(), nullptr) == S_OK)
        << file;
    return stream;
}

std::optional<PcmPacket> ReadPacket(IMediaStream* stream, double ms) {
    const double before = StreamTime(stream);
    ComPtr<IUnknown> out;
    EXPECT_EQ(stream->Read(0, ms, out.Put()), S_OK);
    auto packet = PcmPacketOf(out.Get());
    if (!packet) {
        EXPECT_EQ(StreamTime(stream), before) << "Time moved without a packet";
        return std::nullopt;
    }
    const auto align = static_cast<std::size_t>(std::max(packet->blockAlign, LONG{1}));
    EXPECT_TRUE(packet->blockAlign > 0 && packet->rate > 0 && packet->data.size() % align == 0)
        << "no sample format, or part of a sample frame";
    EXPECT_EQ(packet->duration, double(packet->data.size() / align) * 1000.0 / packet->rate);
    EXPECT_LE(packet->duration, ms + 1e-6);
    EXPECT_EQ(packet->time, before);
    EXPECT_EQ(StreamTime(stream), before + packet->duration);
    return packet;
}

std::vector<PcmPacket> ReadToEnd(IMediaStream* stream, double ms) {
    std::vector<PcmPacket> packets;
    while (auto packet = ReadPacket(stream, ms)) {
        EXPECT_TRUE(packets.empty() ||
                    packet->time == packets.back().time + packets.back().duration)
            << "a gap after packet " << packets.size();
        packets.push_back(std::move(*packet));
        // More packets than any test file can give: a stream that never ends fails the test.
        if (packets.size() > 200000 || ::testing::Test::HasFatalFailure()) {
            ADD_FAILURE() << "the stream does not end";
            break;
        }
    }
    EXPECT_FALSE(ReadPacket(stream, ms)) << "the end did not stay the end";
    return packets;
}

std::string RampPcm(std::uint64_t firstFrame, std::uint64_t frames, int channels) {
    std::string pcm;
    for (std::uint64_t frame = firstFrame; frame < firstFrame + frames; ++frame) {
        for (int channel = 0; channel < channels; ++channel) {
            // Never 0, so that silence and signal are told apart; channels differ in sign.
            const auto value = static_cast<std::uint16_t>(frame % 30000 + 1);
            const auto sample = static_cast<std::uint16_t>(channel == 0 ? value : -value);
            pcm.append({static_cast<char>(sample & 0xFF), static_cast<char>(sample >> 8)});
        }
    }
    return pcm;
}

std::string PcmFlv(int tags, std::uint32_t firstTime, int channels) {
    std::vector<std::uint32_t> times;
    for (int tag = 0; tag < tags; ++tag)
        times.push_back(firstTime + static_cast<std::uint32_t>(tag) * 100);
    return PcmFlvAt(times, channels);
}

std::string PcmFlvAt(const std::vector<std::uint32_t>& times, int channels) {
    constexpr int kFramesPerTag = 4410;
    FlvBuilder flv(0x04);
    // SoundFormat 3 (PCM, little endian), SoundRate 3 (44 kHz), SoundSize 1 (16-bit), SoundType.
    const char header = static_cast<char>((3 << 4) | (3 << 2) | (1 << 1) | (channels == 2 ? 1 : 0));
    std::uint64_t frame = 0;
    for (const std::uint32_t time : times) {
        flv.Tag(8, time, header + RampPcm(frame, kFramesPerTag, channels));
        frame += kFramesPerTag;
    }
    return flv.Bytes();
}

bool IsSilence(std::string_view pcm) {
    return std::all_of(pcm.begin(), pcm.end(), [](char byte) { return byte == 0; });
}
