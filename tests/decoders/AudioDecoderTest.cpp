// The audio decoder against ffmpeg on the same files: the PCM, byte for byte where no rate or
// channel conversion is needed.
#include <gtest/gtest.h>

#include <random>

#include "platform/Com.h"
#include "tests/decoders/DecoderHarness.h"
#include "tests/support/FfmpegTools.h"

namespace {

constexpr HRESULT kUnsupportedCodec = MakeHResult(0x80070032u);

struct Sample {
    const char* name;
    const char* arguments;
};
// Two seconds of a tone in each codec the FLV writer takes, at a rate its header can state.
const Sample kSamples[] = {
    {"dec_pcm_s16le.flv",
     "-f lavfi -i sine=frequency=440:sample_rate=22050 -t 2 -ac 1 -c:a pcm_s16le"},
    {"dec_pcm_u8.flv", "-f lavfi -i sine=frequency=440:sample_rate=11025 -t 2 -ac 2 -c:a pcm_u8"},
    {"dec_adpcm.flv", "-f lavfi -i sine=frequency=440:sample_rate=22050 -t 2 -ac 2 -c:a adpcm_swf"},
    {"dec_mp3.flv", "-f lavfi -i sine=frequency=440:sample_rate=44100 -t 2 -ac 2 -c:a libmp3lame"},
    {"dec_aac.flv", "-f lavfi -i sine=frequency=440:sample_rate=44100 -t 2 -ac 2 -c:a aac"},
    {"dec_nellymoser.flv",
     "-f lavfi -i sine=frequency=440:sample_rate=8000 -t 2 -ac 1 -c:a nellymoser"},
    {"dec_speex.flv", "-f lavfi -i sine=frequency=440:sample_rate=16000 -t 2 -ac 1 -c:a libspeex"},
};
// AAC at 22050 Hz mono: the FLV header claims 44100 Hz stereo, as it always does for AAC.
const Sample kAacHalfRate{"dec_aac_22k_mono.flv",
                          "-f lavfi -i sine=frequency=440:sample_rate=22050 -t 2 -ac 1 -c:a aac"};

#define REQUIRE_FFMPEG() \
    if (!FfmpegAvailable()) GTEST_SKIP() << "ffmpeg and ffprobe are needed"

std::optional<FlvFile> LoadSample(const Sample& sample, std::filesystem::path* path) {
    const auto generated = GeneratedSample(sample.name, sample.arguments);
    if (!generated) return std::nullopt;
    *path = *generated;
    return ReadFlvFile(*generated);
}

TEST(AudioDecoder, EveryCodecMatchesFfmpegBitForBit) {
    REQUIRE_FFMPEG();
    for (const Sample& sample : kSamples) {
        SCOPED_TRACE(sample.name);
        std::filesystem::path path;
        const auto file = LoadSample(sample, &path);
        ASSERT_TRUE(file) << "ffmpeg could not make the sample";
        const WAVEFORMATEX wave = HostWaveFormat(*file);
        const std::string pcm = DecodeAudio(*file, wave.nChannels, wave.nSamplesPerSec);
        const std::string expected = DecodedPcm(path);
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(pcm.size(), expected.size());
        EXPECT_TRUE(pcm == expected);
        // The audio stream never ends the decoder's input: with nothing to convert, each
        // payload's audio comes out before the next payload goes in.
        EXPECT_TRUE(DecodeAudio(*file, wave.nChannels, wave.nSamplesPerSec, false) == expected);
    }
}

TEST(AudioDecoder, RealFilesMatchFfmpeg) {
    REQUIRE_FFMPEG();
    for (const char* name : {"vp6_mp3.flv", "h264_speex_zero_length_tag.flv",
                             "flv1_nellymoser8k_recording.flv", "h264_bframes_aac.flv"}) {
        SCOPED_TRACE(name);
        const auto path = SharedTestFile(name);
        if (!path) GTEST_SKIP() << "test file " << name << " is not present";
        const auto file = ReadFlvFile(*path);
        ASSERT_TRUE(file);
        const WAVEFORMATEX wave = HostWaveFormat(*file);
        const std::string pcm = DecodeAudio(*file, wave.nChannels, wave.nSamplesPerSec);
        const std::string expected = DecodedPcm(*path);
        EXPECT_EQ(pcm.size(), expected.size());
        EXPECT_TRUE(pcm == expected);
    }
}

// Sample frames of 16-bit PCM with `channels` channels.
std::size_t Frames(const std::string& pcm, int channels) {
    return pcm.size() / (2u * channels);
}

TEST(AudioDecoder, AacAtAnotherRateThanTheHeaderIsResampledToTheConfiguredFormat) {
    REQUIRE_FFMPEG();
    std::filesystem::path path;
    const auto file = LoadSample(kAacHalfRate, &path);
    ASSERT_TRUE(file);
    const WAVEFORMATEX wave = HostWaveFormat(*file);
    ASSERT_EQ(wave.nSamplesPerSec, 44100u);
    ASSERT_EQ(wave.nChannels, 2u);
    const std::string pcm = DecodeAudio(*file, 2, 44100);
    // The stream's own 22050 Hz mono, twice as many frames at 44100 Hz.
    const std::size_t sourceFrames = Frames(DecodedPcm(path), 1);
    ASSERT_GT(sourceFrames, 0u);
    const auto frames = static_cast<std::int64_t>(Frames(pcm, 2));
    EXPECT_NEAR(frames, static_cast<std::int64_t>(2 * sourceFrames), 4);
    // ffmpeg converting the same way gives the same samples.
    const std::string expected = DecodedPcm(path, 44100, 2);
    EXPECT_NEAR(frames, static_cast<std::int64_t>(Frames(expected, 2)), 4);
    const std::size_t common = std::min(pcm.size(), expected.size());
    EXPECT_TRUE(pcm.compare(0, common, expected, 0, common) == 0);

    // A real file: 48 kHz mono AAC under a 44.1 kHz stereo header.
    const auto realPath = SharedTestFile("aac_mono48k_audioonly.flv");
    if (!realPath) GTEST_SKIP() << "aac_mono48k_audioonly.flv is not present";
    const auto real = ReadFlvFile(*realPath);
    ASSERT_TRUE(real);
    const std::string realPcm = DecodeAudio(*real, 2, 44100);
    const double seconds = static_cast<double>(Frames(DecodedPcm(*realPath), 1)) / 48000.0;
    EXPECT_NEAR(static_cast<double>(Frames(realPcm, 2)), seconds * 44100.0, 4.0);
}

TEST(AudioDecoder, OutputPacketsCarryTheConfiguredFormatInWholeFrames) {
    REQUIRE_FFMPEG();
    std::filesystem::path path;
    const auto file = LoadSample(kSamples[3], &path);  // MP3, 44100 Hz stereo
    ASSERT_TRUE(file);
    const auto decoder = StartAudioDecoder(1, 32000, file->audioExtra);
    const auto input = MakeAudioFormat(HostAudioCodec(*file), HostWaveFormat(*file));
    std::size_t total = 0;
    for (const auto& payload : file->audio) {
        ASSERT_EQ(decoder->Write(kWriteData, MakeAudioPacket(payload, input.Get()).Get()), S_OK);
        ComPtr<IUnknown> out;
        ASSERT_EQ(decoder->Read(0, 0.0, out.Put()), S_OK);
        if (!out) continue;
        // Everything decoded comes out in one packet.
        ComPtr<IUnknown> more;
        ASSERT_EQ(decoder->Read(0, 0.0, more.Put()), S_OK);
        EXPECT_FALSE(more);
        const auto packet = out.As<IMediaPacket>();
        const std::string data = PacketData(packet.Get());
        EXPECT_EQ(data.size() % 2, 0u);
        total += data.size() / 2;
        ComPtr<IUnknown> formatObject;
        ASSERT_EQ(packet->GetFormat(formatObject.Put()), S_OK);
        const auto format = formatObject.As<IAudioFormat>();
        ASSERT_TRUE(format);
        WAVEFORMATEX wave{};
        ASSERT_EQ(format->GetWaveFormat(&wave), S_OK);
        EXPECT_EQ(wave.nChannels, 1u);
        EXPECT_EQ(wave.nSamplesPerSec, 32000u);
        EXPECT_EQ(wave.wBitsPerSample, 16u);
    }
    // Downmixed and resampled: close to the stream's duration at 32 kHz.
    const double seconds = static_cast<double>(Frames(DecodedPcm(path), 2)) / 44100.0;
    EXPECT_NEAR(static_cast<double>(total), seconds * 32000.0, 64.0);
}

TEST(AudioDecoder, ResetDropsHeldAudioAndDecodingGoesOn) {
    REQUIRE_FFMPEG();
    std::filesystem::path path;
    const auto file = LoadSample(kSamples[0], &path);  // 16-bit PCM: every payload stands alone
    ASSERT_TRUE(file);
    const WAVEFORMATEX wave = HostWaveFormat(*file);
    const auto decoder = StartAudioDecoder(wave.nChannels, wave.nSamplesPerSec, {});
    const auto input = MakeAudioFormat(HostAudioCodec(*file), wave);
    const std::size_t half = file->audio.size() / 2;
    std::size_t skipped = 0;
    for (std::size_t i = 0; i < half; ++i) {
        ASSERT_EQ(decoder->Write(kWriteData, MakeAudioPacket(file->audio[i], input.Get()).Get()),
                  S_OK);
        skipped += file->audio[i].size();
    }
    ASSERT_EQ(decoder->Reset(0), S_OK);
    EXPECT_TRUE(ReadAll(decoder.Get()).empty());
    std::string pcm;
    for (std::size_t i = half; i < file->audio.size(); ++i) {
        ASSERT_EQ(decoder->Write(kWriteData, MakeAudioPacket(file->audio[i], input.Get()).Get()),
                  S_OK);
        for (const auto& block : ReadAll(decoder.Get())) pcm += PacketData(block.Get());
    }
    EXPECT_TRUE(pcm == DecodedPcm(path).substr(skipped));
}

TEST(AudioDecoder, AChangeOfInputFormatReopensTheDecoder) {
    const auto decoder = StartAudioDecoder(1, 8000, {});
    WAVEFORMATEX wave{};
    wave.nChannels = 1;
    wave.nSamplesPerSec = 8000;
    wave.wBitsPerSample = 16;
    const auto pcm16 = MakeAudioFormat(kAudioCodecPcmLittleEndian16, wave);
    wave.wBitsPerSample = 8;
    const auto pcm8 = MakeAudioFormat(kAudioCodecPcm8, wave);
    // Two 16-bit samples (0x0102, -2), then two unsigned 8-bit ones (0x80 is 0, 0xFF is 127).
    ASSERT_EQ(
        decoder->Write(kWriteData, MakeAudioPacket({0x02, 0x01, 0xFE, 0xFF}, pcm16.Get()).Get()),
        S_OK);
    ASSERT_EQ(decoder->Write(kWriteData, MakeAudioPacket({0x80, 0xFF}, pcm8.Get()).Get()), S_OK);
    std::string out;
    for (const auto& block : ReadAll(decoder.Get())) out += PacketData(block.Get());
    EXPECT_EQ(out, std::string("\x02\x01\xFE\xFF\x00\x00\x00\x7F", 8));
}

TEST(AudioDecoder, UnsupportedOrUnconfiguredInputFailsCleanly) {
    ComPtr<IAudioDecoder> decoder;
    ASSERT_EQ(CreateInstance(CLSID_AudioDecoder, decoder), S_OK);
    WAVEFORMATEX wave{};
    wave.nChannels = 1;
    wave.nSamplesPerSec = 8000;
    wave.wBitsPerSample = 16;
    const auto unknown = MakeAudioFormat(0x15099, wave);
    // Not configured: nothing is accepted.
    EXPECT_TRUE(FAILED(decoder->Write(kWriteData, MakeAudioPacket({1, 2}, unknown.Get()).Get())));
    EXPECT_TRUE(FAILED(decoder->Reset(0)));
    // An output format without channels is refused.
    WAVEFORMATEX none{};
    EXPECT_EQ(decoder->Command(kProcessorConfigure, MakeAudioFormat(0, none).Get(), nullptr),
              E_INVALIDARG);
    EXPECT_TRUE(FAILED(decoder->Reset(0)));

    const auto configured = StartAudioDecoder(1, 8000, {});
    EXPECT_EQ(configured->Write(kWriteData, MakeAudioPacket({1, 2}, unknown.Get()).Get()),
              kUnsupportedCodec);
    ComPtr<IUnknown> out;
    EXPECT_EQ(configured->Read(0, 0.0, out.Put()), kUnsupportedCodec);
    EXPECT_FALSE(out);
    // A payload without a format, before any format was seen.
    ComPtr<IMediaPacket> bare;
    ASSERT_EQ(CreateInstance(CLSID_AudioPacket, bare), S_OK);
    EXPECT_EQ(StartAudioDecoder(1, 8000, {})->Write(kWriteData, bare.Get()), E_INVALIDARG);
}

TEST(AudioDecoder, GarbageInputNeverCrashes) {
    std::mt19937 random(99);
    for (LONG codec : {kAudioCodecPcmLittleEndian16, kAudioCodecPcm8, kAudioCodecAdpcm,
                       kAudioCodecMp3, kAudioCodecAac, kAudioCodecNellymoser, kAudioCodecSpeex}) {
        SCOPED_TRACE(codec);
        // AudioSpecificConfig: AAC LC, 44100 Hz, stereo.
        const auto decoder = StartAudioDecoder(2, 44100, {0x12, 0x10});
        for (WORD channels : {1, 2}) {
            WAVEFORMATEX wave{};
            wave.nChannels = channels;
            wave.nSamplesPerSec = codec == kAudioCodecSpeex ? 16000 : 22050;
            wave.wBitsPerSample = 16;
            const auto input = MakeAudioFormat(codec, wave);
            for (int i = 0; i < 120; ++i) {
                std::vector<std::uint8_t> payload(random() % 900);
                for (auto& byte : payload) byte = static_cast<std::uint8_t>(random());
                // Some payloads start with an MPEG audio frame header.
                if (payload.size() > 4 && i % 4 == 0) {
                    payload[0] = 0xFF;
                    payload[1] = 0xFB;
                    payload[2] = 0x90;
                    payload[3] = 0x64;
                }
                EXPECT_TRUE(SUCCEEDED(
                    decoder->Write(kWriteData, MakeAudioPacket(payload, input.Get()).Get())));
                for (const auto& block : ReadAll(decoder.Get())) {
                    EXPECT_EQ(PacketData(block.Get()).size() % 4, 0u);
                }
                if (i == 60) decoder->Reset(0);
            }
        }
        EXPECT_EQ(decoder->Write(kWriteEndOfInput, nullptr), S_OK);
        ReadAll(decoder.Get());
    }
}

TEST(AudioDecoder, ReleasedInTheMiddleOfAStreamLeavesNothingBehind) {
    REQUIRE_FFMPEG();
    std::filesystem::path path;
    const auto file = LoadSample(kAacHalfRate, &path);
    ASSERT_TRUE(file);
    auto decoder = StartAudioDecoder(2, 44100, file->audioExtra);
    const auto input = MakeAudioFormat(HostAudioCodec(*file), HostWaveFormat(*file));
    for (std::size_t i = 0; i < file->audio.size() / 2; ++i) {
        ASSERT_EQ(decoder->Write(kWriteData, MakeAudioPacket(file->audio[i], input.Get()).Get()),
                  S_OK);
    }
    decoder = nullptr;  // decoder, resampler and held PCM: the leak checker at exit finds leftovers
}

}  // namespace
