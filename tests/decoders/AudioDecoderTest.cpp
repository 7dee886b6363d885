// The audio decoder against ffmpeg on the same files: the PCM, byte for byte where no rate or
// channel conversion is needed.
#include "tests/decoders/DecoderHarness.h"

namespace {

const Sample kPcm16 = Tone("dec_pcm_s16le.flv", "pcm_s16le", 22050, 1);
// AAC at 22050 Hz mono: the FLV header claims 44100 Hz stereo, as it always does for AAC.
const Sample kAacHalfRate = Tone("dec_aac_22k_mono.flv", "aac", 22050, 1);

// Two seconds of a tone in each codec family, at a rate the FLV header can state, and a real
// Speex file (with a zero-length tag).
TEST(AudioDecoder, EveryCodecMatchesFfmpegBitForBit) {
    const Sample samples[] = {kPcm16,
                              Tone("dec_pcm_u8.flv", "pcm_u8", 11025, 2),
                              Tone("dec_adpcm.flv", "adpcm_swf", 22050, 2),
                              Tone("dec_mp3.flv", "libmp3lame", 44100, 2),
                              Tone("dec_aac.flv", "aac", 44100, 2),
                              Tone("dec_nellymoser.flv", "nellymoser", 8000, 1),
                              {"h264_speex_zero_length_tag.flv", ""}};
    for (const Sample& sample : samples) {
        SCOPED_TRACE(sample.name);
        LOAD_SAMPLE(path, file, sample);
        const std::string expected = DecodedPcm(*path);
        ASSERT_FALSE(expected.empty());
        EXPECT_TRUE(DecodeAudio(file) == expected);
        // The audio stream never ends the decoder's input: with nothing to convert, each
        // payload's audio comes out before the next payload goes in.
        EXPECT_TRUE(DecodeAudio(file, Then::kRead) == expected);
    }
}

// Converted to exactly the configured output: twice the stream's own frames at 44100 Hz, the
// samples ffmpeg gives converting the same way. Then a decoder released in the middle of the
// stream (codec, resampler and held PCM) leaves nothing for the leak checker at exit.
TEST(AudioDecoder, AacAtAnotherRateThanTheHeaderIsResampledToTheConfiguredFormat) {
    LOAD_SAMPLE(path, file, kAacHalfRate);
    const auto input = AudioFormat(HostAudioCodec(file), HostWaveFormat(file));
    const auto blocks = Decode(StartAudioDecoder(2, 44100, file.audioExtra).Get(),
                               CLSID_AudioPacket, file.audio, input.Get());
    ComPtr<IUnknown> format;
    WAVEFORMATEX wave{};
    ASSERT_TRUE(!blocks.empty() && SUCCEEDED(blocks.back()->GetFormat(format.Put())));
    ASSERT_EQ(format.As<IAudioFormat>()->GetWaveFormat(&wave), S_OK);
    EXPECT_TRUE(wave.nChannels == 2 && wave.nSamplesPerSec == 44100) << wave.nSamplesPerSec;
    const std::string pcm = Pcm(blocks), expected = DecodedPcm(*path, 44100, 2);
    EXPECT_NEAR(double(pcm.size()), double(DecodedPcm(*path).size() * 4), 16.0);
    EXPECT_NEAR(double(pcm.size()), double(expected.size()), 16.0);
    const std::size_t common = std::min(pcm.size(), expected.size());
    EXPECT_TRUE(pcm.compare(0, common, expected, 0, common) == 0);

    const std::vector<Bytes> half(file.audio.begin(), file.audio.begin() + 20);
    Decode(StartAudioDecoder(2, 44100, file.audioExtra).Get(), CLSID_AudioPacket, half, input.Get(),
           Then::kHold);
}

TEST(AudioDecoder, ResetDropsHeldAudioAndDecodingGoesOn) {
    LOAD_SAMPLE(path, file, kPcm16);  // 16-bit PCM: every payload stands alone
    const auto decoder = StartAudioDecoder(1, 22050, {});
    const auto input = AudioFormat(HostAudioCodec(file), HostWaveFormat(file));
    const auto half = file.audio.begin() + static_cast<std::ptrdiff_t>(file.audio.size() / 2);
    const std::vector<Bytes> before(file.audio.begin(), half), after(half, file.audio.end());
    Decode(decoder.Get(), CLSID_AudioPacket, before, input.Get(), Then::kHold);
    ASSERT_EQ(decoder->Reset(0), S_OK);
    EXPECT_TRUE(ReadAll(decoder.Get()).empty());
    const std::string pcm = Pcm(Decode(decoder.Get(), CLSID_AudioPacket, after, input.Get()));
    std::size_t skipped = 0;  // 16-bit PCM payloads are the PCM
    for (const Bytes& payload : before) skipped += payload.size();
    EXPECT_TRUE(pcm == DecodedPcm(*path).substr(skipped));
}

TEST(AudioDecoder, UnsupportedOrUnconfiguredInputFailsCleanly) {
    const auto unknown = AudioFormat(0x15099, Wave(1, 8000));
    const auto packet = MakePacket(CLSID_AudioPacket, {1, 2}, unknown.Get());
    ComPtr<IAudioDecoder> decoder;
    ComPtr<IUnknown> out;
    ASSERT_EQ(CreateInstance(CLSID_AudioDecoder, decoder), S_OK);
    // Not configured, or configured with a format without channels: nothing is accepted.
    EXPECT_TRUE(FAILED(decoder->Write(kWriteData, packet.Get())));
    EXPECT_EQ(decoder->Command(kProcessorConfigure, AudioFormat(0, {}).Get(), nullptr),
              E_INVALIDARG);
    EXPECT_TRUE(FAILED(decoder->Reset(0)));
    // Configured, with an input codec it cannot decode.
    decoder = StartAudioDecoder(1, 8000, {});
    EXPECT_EQ(decoder->Write(kWriteData, packet.Get()), kUnsupportedCodec);
    EXPECT_EQ(decoder->Read(0, 0.0, out.Put()), kUnsupportedCodec);
    EXPECT_FALSE(out);
}

// Random payloads for every codec in mono then stereo, some starting with an MPEG audio frame
// header, with a reset on the way: no crash, only whole stereo sample frames.
TEST(AudioDecoder, GarbageInputNeverCrashes) {
    std::mt19937 random(99);
    for (LONG codec : {kAudioCodecPcmLittleEndian16, kAudioCodecPcm8, kAudioCodecAdpcm,
                       kAudioCodecMp3, kAudioCodecAac, kAudioCodecNellymoser, kAudioCodecSpeex}) {
        SCOPED_TRACE(codec);
        const auto decoder = StartAudioDecoder(2, 44100, {0x12, 0x10});  // AAC LC 44100 stereo
        for (int channels : {1, 2}) {
            const auto input =
                AudioFormat(codec, Wave(channels, codec == kAudioCodecSpeex ? 16000 : 22050));
            const auto payloads = Garbage(random, 100, 900, {0xFF, 0xFB, 0x90, 0x64});
            for (const auto& block : Decode(decoder.Get(), CLSID_AudioPacket, payloads, input.Get(),
                                            channels == 2 ? Then::kDrain : Then::kRead)) {
                EXPECT_EQ(PacketData(block.Get()).size() % 4, 0u);
            }
            ASSERT_EQ(decoder->Reset(0), S_OK);
        }
    }
}

}  // namespace
