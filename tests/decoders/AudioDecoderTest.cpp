// The audio decoder against ffmpeg on the same files: the PCM, byte for byte where no rate or
// channel conversion is needed.
#include "tests/decoders/DecoderHarness.h"

namespace {

// All audio of `file` decoded to the header's channels and rate.
std::string DecodeAudio(const FlvFile& file, Then then) {
    const WAVEFORMATEX wave = HostWaveFormat(file);
    const auto decoder = StartAudioDecoder(wave.nChannels, wave.nSamplesPerSec, file.audioExtra);
    const auto input = AudioFormat(HostAudioCodec(file), wave);
    return Pcm(Decode(decoder.Get(), CLSID_AudioPacket, file.audio, input.Get(), then));
}

// Two seconds of a tone in each codec family, at a rate the FLV header can state, and a real
// Speex file (with a zero-length tag).
TEST(AudioDecoder, EveryCodecMatchesFfmpegBitForBit) {
    const Clip clips[] = {Tone("dec_pcm_s16le.flv", "pcm_s16le", 22050, 1),
                          Tone("dec_pcm_u8.flv", "pcm_u8", 11025, 2),
                          Tone("dec_adpcm.flv", "adpcm_swf", 22050, 2),
                          Tone("dec_mp3.flv", "libmp3lame", 44100, 2),
                          Tone("dec_aac.flv", "aac", 44100, 2),
                          Tone("dec_nellymoser.flv", "nellymoser", 8000, 1),
                          {"h264_speex_zero_length_tag.flv", ""}};
    for (const Clip& clip : clips) {
        SCOPED_TRACE(clip.name);
        LOAD_CLIP(path, file, clip);
        const std::string expected = DecodedPcm(*path);
        ASSERT_FALSE(expected.empty());
        EXPECT_TRUE(DecodeAudio(file, Then::kDrain) == expected);
        // The audio stream never ends the decoder's input: with nothing to convert, each
        // payload's audio comes out before the next payload goes in.
        EXPECT_TRUE(DecodeAudio(file, Then::kRead) == expected);
    }
}

// AAC at 22050 Hz mono (the FLV header claims 44100 Hz stereo, as it always does for AAC) is
// converted to exactly the configured output: twice the stream's own frames at 44100 Hz, the
// samples ffmpeg gives converting the same way. Then Reset drops the audio held, and a decoder
// released in the middle of the stream (codec, resampler and held PCM) leaves nothing for the
// leak checker at exit.
TEST(AudioDecoder, AacAtAnotherRateThanTheHeaderIsResampledToTheConfiguredFormat) {
    LOAD_CLIP(path, file, Tone("dec_aac_22k_mono.flv", "aac", 22050, 1));
    const auto input = AudioFormat(HostAudioCodec(file), HostWaveFormat(file));
    const std::string pcm = Pcm(Decode(StartAudioDecoder(2, 44100, file.audioExtra).Get(),
                                       CLSID_AudioPacket, file.audio, input.Get()));
    const std::string expected = DecodedPcm(*path, 44100, 2);
    EXPECT_NEAR(double(pcm.size()), double(expected.size()), 16.0);
    EXPECT_TRUE(pcm.substr(0, expected.size()) == expected.substr(0, pcm.size()));
    const std::vector<Bytes> part(file.audio.begin(), file.audio.begin() + 20);
    const auto reset = StartAudioDecoder(2, 44100, file.audioExtra);
    Decode(reset.Get(), CLSID_AudioPacket, part, input.Get(), Then::kHold);
    EXPECT_TRUE(reset->Reset(0) == S_OK && ReadAll(reset.Get()).empty());
    Decode(StartAudioDecoder(2, 44100, file.audioExtra).Get(), CLSID_AudioPacket, part, input.Get(),
           Then::kHold);
}

}  // namespace
