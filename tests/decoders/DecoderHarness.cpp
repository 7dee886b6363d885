#include "tests/decoders/DecoderHarness.h"

#include <gtest/gtest.h>

#include "mediakit/MediaKit.h"
#include "platform/Bstr.h"
#include "platform/Com.h"
#include "tests/support/FfmpegTools.h"

namespace {

// The library's classes are registered in this process for the whole test program.
class MediaKitClasses : public ::testing::Environment {
  public:
    void SetUp() override { ASSERT_EQ(MediaKitRegisterClasses(), S_OK); }
    void TearDown() override { MediaKitRevokeClasses(); }
};
[[maybe_unused]] auto* const kRegistration =
    ::testing::AddGlobalTestEnvironment(new MediaKitClasses);

}  // namespace

ComPtr<IVideoDecoder> StartVideoDecoder(LONG hostCodec, const std::vector<std::uint8_t>& extra,
                                        LONG colorSpace) {
    ComPtr<IVideoDecoder> decoder;
    EXPECT_EQ(CreateInstance(CLSID_VideoDecoder, decoder), S_OK);
    ComPtr<IVideoFormat> format;
    EXPECT_EQ(CreateInstance(CLSID_VideoFormat, format), S_OK);
    if (!decoder || !format) return nullptr;
    format->SetCodec(hostCodec);
    EXPECT_EQ(decoder->Command(kProcessorConfigure, format.Get(), nullptr), S_OK);
    VARIANT value{};
    value.vt = VT_I4;
    value.lVal = colorSpace;
    Bstr name(L"DecodeColorSpace");
    EXPECT_EQ(decoder->SetParam(name.Get(), &value), S_OK);
    EXPECT_EQ(decoder->SetExtraData(extra.empty() ? nullptr : extra.data(),
                                    static_cast<LONG>(extra.size())),
              S_OK);
    EXPECT_EQ(decoder->Command(kProcessorStart, nullptr, nullptr), S_OK);
    return decoder;
}

ComPtr<IAudioDecoder> StartAudioDecoder(int channels, int rate,
                                        const std::vector<std::uint8_t>& extra) {
    ComPtr<IAudioDecoder> decoder;
    EXPECT_EQ(CreateInstance(CLSID_AudioDecoder, decoder), S_OK);
    ComPtr<IAudioFormat> output;
    EXPECT_EQ(CreateInstance(CLSID_AudioFormat, output), S_OK);
    if (!decoder || !output) return nullptr;
    WAVEFORMATEX wave{};
    wave.wFormatTag = WAVE_FORMAT_PCM;
    wave.nChannels = static_cast<WORD>(channels);
    wave.nSamplesPerSec = static_cast<DWORD>(rate);
    wave.wBitsPerSample = 16;
    wave.nBlockAlign = static_cast<WORD>(2 * channels);
    wave.nAvgBytesPerSec = wave.nBlockAlign * wave.nSamplesPerSec;
    output->SetWaveFormat(&wave);
    EXPECT_EQ(decoder->Command(kProcessorConfigure, output.Get(), nullptr), S_OK);
    EXPECT_EQ(decoder->SetExtraData(extra.empty() ? nullptr : extra.data(),
                                    static_cast<LONG>(extra.size())),
              S_OK);
    EXPECT_EQ(decoder->Reset(0), S_OK);
    return decoder;
}

ComPtr<IMediaPacket> MakeVideoPacket(const std::vector<std::uint8_t>& payload) {
    ComPtr<IMediaPacket> packet;
    EXPECT_EQ(CreateInstance(CLSID_VideoPacket, packet), S_OK);
    if (!packet) return nullptr;
    const auto size = static_cast<LONG>(payload.size());
    EXPECT_EQ(packet->Allocate(size, 0), S_OK);
    EXPECT_EQ(packet->CopyIn(0, payload.data(), size), S_OK);
    return packet;
}

ComPtr<IAudioFormat> MakeAudioFormat(LONG hostCodec, const WAVEFORMATEX& wave) {
    ComPtr<IAudioFormat> format;
    EXPECT_EQ(CreateInstance(CLSID_AudioFormat, format), S_OK);
    if (!format) return nullptr;
    format->SetWaveFormat(&wave);
    format->SetCodec(hostCodec);
    return format;
}

ComPtr<IMediaPacket> MakeAudioPacket(const std::vector<std::uint8_t>& payload,
                                     IAudioFormat* format) {
    ComPtr<IAudioPacket> packet;
    EXPECT_EQ(CreateInstance(CLSID_AudioPacket, packet), S_OK);
    if (!packet) return nullptr;
    const auto size = static_cast<LONG>(payload.size());
    EXPECT_EQ(packet->Allocate(size, 0), S_OK);
    EXPECT_EQ(packet->CopyIn(0, payload.data(), size), S_OK);
    EXPECT_EQ(packet->SetFormat(format), S_OK);
    return packet.As<IMediaPacket>();
}

std::string PacketData(IMediaPacket* packet) {
    LONG size = 0;
    BYTE* data = nullptr;
    if (FAILED(packet->GetSize(&size)) || size <= 0 || FAILED(packet->GetData(&data))) return {};
    return std::string(reinterpret_cast<const char*>(data), static_cast<std::size_t>(size));
}

std::vector<ComPtr<IMediaPacket>> ReadAll(IMediaProcessor* processor) {
    std::vector<ComPtr<IMediaPacket>> packets;
    for (;;) {
        ComPtr<IUnknown> out;
        if (FAILED(processor->Read(0, 0.0, out.Put())) || !out) return packets;
        packets.push_back(out.As<IMediaPacket>());
    }
}

std::vector<ComPtr<IMediaPacket>> DecodeVideo(IVideoDecoder* decoder,
                                              const std::vector<FlvVideoTag>& tags,
                                              std::size_t first, bool markKeyFrames) {
    std::vector<ComPtr<IMediaPacket>> frames;
    for (std::size_t i = first; i < tags.size(); ++i) {
        const auto packet = MakeVideoPacket(tags[i].payload);
        if (markKeyFrames) packet->SetKeyFrame(tags[i].keyFrame ? VARIANT_TRUE : VARIANT_FALSE);
        EXPECT_EQ(decoder->Write(kWriteData, packet.Get()), S_OK) << "frame " << i;
        for (auto& frame : ReadAll(decoder)) frames.push_back(std::move(frame));
    }
    EXPECT_EQ(decoder->Write(kWriteEndOfInput, nullptr), S_OK);
    for (auto& frame : ReadAll(decoder)) frames.push_back(std::move(frame));
    return frames;
}

std::vector<std::string> FrameHashes(const std::vector<ComPtr<IMediaPacket>>& frames) {
    std::vector<std::string> hashes;
    for (const auto& frame : frames) {
        const std::string data = PacketData(frame.Get());
        hashes.push_back(Md5Hex(data.data(), data.size()));
    }
    return hashes;
}

std::string DecodeAudio(const FlvFile& file, int channels, int rate, bool drain) {
    const auto decoder = StartAudioDecoder(channels, rate, file.audioExtra);
    const auto input = MakeAudioFormat(HostAudioCodec(file), HostWaveFormat(file));
    std::string pcm;
    if (!decoder || !input) return pcm;
    for (const auto& payload : file.audio) {
        const auto packet = MakeAudioPacket(payload, input.Get());
        EXPECT_EQ(decoder->Write(kWriteData, packet.Get()), S_OK);
        for (const auto& block : ReadAll(decoder.Get())) pcm += PacketData(block.Get());
    }
    if (drain) {
        EXPECT_EQ(decoder->Write(kWriteEndOfInput, nullptr), S_OK);
        for (const auto& block : ReadAll(decoder.Get())) pcm += PacketData(block.Get());
    }
    return pcm;
}
