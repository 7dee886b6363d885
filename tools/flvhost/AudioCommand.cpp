// flvhost audio: the audio track decoded through ReadAudio into a 16-bit PCM WAV file.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <limits>

#include "tools/flvhost/Arguments.h"
#include "tools/flvhost/Commands.h"
#include "tools/flvhost/Output.h"

namespace flvhost {
namespace {
constexpr char kHelp[] =
    "usage: flvhost audio FILE -o OUT.wav [--chunk MS] [--hash H] [--no-cache]\n"
    "\n"
    "Decodes the audio track through IMediaSource::ReadAudio, MS milliseconds per call\n"
    "(default 100), into a 16-bit PCM WAV file with the track's sample rate and channels.\n"
    "\n"
    "  -o OUT       the WAV file; - writes the raw PCM (interleaved, signed 16-bit\n"
    "               little-endian) to standard output instead\n"
    "  --chunk MS   milliseconds per ReadAudio call, 1 to 60000\n"
    "A progress bar is shown on a terminal for long tracks.\n";

constexpr double kDefaultChunkMs = 100.0;
constexpr double kLongAudioMs = 20000.0;
constexpr std::size_t kWavHeaderSize = 44;
constexpr std::size_t kRiffSizeOffset = 4;
constexpr std::size_t kDataSizeOffset = 40;

void Put16(unsigned char* at, unsigned value) {
    at[0] = static_cast<unsigned char>(value);
    at[1] = static_cast<unsigned char>(value >> 8);
}
void Put32(unsigned char* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

// The canonical 44-byte header of a PCM WAV file with `dataBytes` of samples.
std::array<unsigned char, kWavHeaderSize> WavHeader(const WAVEFORMATEX& wave,
                                                    std::uint32_t dataBytes) {
    std::array<unsigned char, kWavHeaderSize> header{};
    std::memcpy(header.data(), "RIFF", 4);
    Put32(header.data() + kRiffSizeOffset,
          dataBytes + static_cast<std::uint32_t>(kWavHeaderSize - 8));
    std::memcpy(header.data() + 8, "WAVEfmt ", 8);
    Put32(header.data() + 16, 16);  // fmt chunk size
    Put16(header.data() + 20, WAVE_FORMAT_PCM);
    Put16(header.data() + 22, wave.nChannels);
    Put32(header.data() + 24, wave.nSamplesPerSec);
    Put32(header.data() + 28, wave.nAvgBytesPerSec);
    Put16(header.data() + 32, wave.nBlockAlign);
    Put16(header.data() + 34, wave.wBitsPerSample);
    std::memcpy(header.data() + 36, "data", 4);
    Put32(header.data() + kDataSizeOffset, dataBytes);
    return header;
}

// The PCM format of a packet (or of the track, before the first packet).
WAVEFORMATEX WaveOf(IUnknown* format) {
    WAVEFORMATEX wave{};
    ComPtr<IAudioFormat> audio;
    if (format != nullptr && SUCCEEDED(QueryTo(format, audio))) (void)audio->GetWaveFormat(&wave);
    return wave;
}

// What ReadAudio delivers: 16-bit PCM with the track's rate and channels.
WAVEFORMATEX PcmLike(WAVEFORMATEX wave) {
    constexpr WORD kBits = 16;
    wave.wFormatTag = WAVE_FORMAT_PCM;
    wave.wBitsPerSample = kBits;
    wave.nBlockAlign = static_cast<WORD>(wave.nChannels * kBits / 8);
    wave.nAvgBytesPerSec = wave.nSamplesPerSec * wave.nBlockAlign;
    return wave;
}
}  // namespace

int RunAudio(const CommandArguments& arguments) {
    const Arguments parsed(
        arguments,
        {kHashOption, kNoCacheOption, {"-o", true}, {"--output", true}, {"--chunk", true}});
    if (ShowHelp(parsed, kHelp)) return kExitOk;
    parsed.ExpectPositional(1, "flvhost audio FILE -o OUT.wav [--chunk MS]");
    const std::optional<std::string> target =
        parsed.Value("-o") ? parsed.Value("-o") : parsed.Value("--output");
    if (!target || target->empty()) throw HostError(kExitUsage, "audio needs -o OUT.wav (or -o -)");
    const double chunk = NumberOption(parsed, "--chunk", kDefaultChunkMs, 1.0, 60000.0);
    OpenOptions options = OpenOptionsFrom(parsed);
    options.onlyAudio = true;

    const OpenedFile opened = OpenFlv(options);
    if (opened.audioTracks == 0) throw HostError(kExitNoTrack, options.file + ": no audio track");
    IMediaSource* source = opened.source.Get();
    const double duration = AudioDuration(source);

    OutputFile out(*target);
    const bool wav = !out.IsStandardOutput();
    WAVEFORMATEX wave{};
    std::uint64_t dataBytes = 0;
    CatchInterrupt();
    ProgressBar progress("audio", duration, kLongAudioMs);
    double reached = 0.0;
    while (!Interrupted()) {
        const std::optional<Packet> pcm = ReadAudioPacket(source, chunk);
        if (!pcm) break;
        if (dataBytes == 0 && wav) {
            ComPtr<IUnknown> format;
            (void)pcm->packet->GetFormat(format.Put());
            wave = PcmLike(WaveOf(format.Get()));
            const auto header = WavHeader(wave, 0);
            out.Write(header.data(), header.size());
        }
        out.Write(pcm->data, pcm->size);
        dataBytes += pcm->size;
        reached = pcm->time + pcm->duration;
        progress.Update(reached);
    }
    if (wav && dataBytes == 0) {
        // No sample at all: still a valid, empty WAV file in the track's format.
        ComPtr<IUnknown> format;
        (void)source->get_audioFormat(0, format.Put());
        wave = PcmLike(WaveOf(format.Get()));
        const auto header = WavHeader(wave, 0);
        out.Write(header.data(), header.size());
    }
    if (wav) {
        // The sizes are known now; a WAV file holds at most 4 GiB of samples.
        const auto size = static_cast<std::uint32_t>(std::min<std::uint64_t>(
            dataBytes, std::numeric_limits<std::uint32_t>::max() - kWavHeaderSize));
        const auto header = WavHeader(wave, size);
        if (std::fseek(out.Get(), 0, SEEK_SET) != 0) {
            throw HostError(kExitFailed, *target + ": cannot write the WAV header");
        }
        out.Write(header.data(), header.size());
    }
    out.Close();
    if (Interrupted()) return kExitInterrupted;
    if (wav) {
        std::printf("%s: %llu bytes of PCM, %lu Hz, %u channel%s, 16 bits, %s ms\n",
                    target->c_str(), static_cast<unsigned long long>(dataBytes),
                    static_cast<unsigned long>(wave.nSamplesPerSec), wave.nChannels,
                    wave.nChannels == 1 ? "" : "s", FormatNumber(reached).c_str());
    }
    return kExitOk;
}

}  // namespace flvhost
