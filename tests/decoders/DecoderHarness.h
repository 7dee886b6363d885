// Driving the decoders from tests as the stream objects do: payloads read from an FLV file and
// cut as the component's tag readers cut them (video after its header bytes: 5 for AVC, 2 for
// VP6, 1 for the others; audio after 2 bytes for AAC, 1 for the others), with the host codes and
// wave format the component derives; decoders, formats and packets made by class identifier.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "mediakit/MediaInterfaces.h"
#include "mediakit/MediaKit.h"
#include "platform/Bstr.h"
#include "tests/support/FfmpegTools.h"

using Bytes = std::vector<std::uint8_t>;
constexpr HRESULT kUnsupportedCodec = MakeHResult(0x80070032u);  // ERROR_NOT_SUPPORTED
using Packets = std::vector<ComPtr<IMediaPacket>>;

struct FlvFile {
    int videoCodecId = 0;  // FLV CodecID of the first video tag
    Bytes videoExtra;      // AVC sequence header, or the VP6 adjustment byte
    std::vector<Bytes> video;
    std::vector<bool> keyFrames;  // FrameType 1, for each video payload
    int audioFlags = -1;  // first byte of the first audio tag: SoundFormat, rate, size, type
    Bytes audioExtra;     // AAC AudioSpecificConfig
    std::vector<Bytes> audio;
};

inline FlvFile ReadFlvFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    const Bytes bytes{std::istreambuf_iterator<char>(in), {}};
    FlvFile file;
    // After the 9-byte header and PreviousTagSize0, each tag: type, 3-byte size, 4 bytes of time,
    // 3 of stream id, the body, PreviousTagSize.
    for (std::size_t at = 13; at <= bytes.size() && bytes.size() - at >= 11;) {
        const int type = bytes[at] & 0x1F;
        const std::size_t size = (bytes[at + 1] << 16) | (bytes[at + 2] << 8) | bytes[at + 3];
        const std::size_t body = at + 11;
        if (size > bytes.size() - body) break;
        at = body + size + 4;
        if (size == 0) continue;
        const std::uint8_t flags = bytes[body], second = size > 1 ? bytes[body + 1] : 0;
        const auto from = [&](std::size_t skip) {
            return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(body + skip),
                         bytes.begin() + static_cast<std::ptrdiff_t>(at - 4));
        };
        const int codec = type == 9 ? flags & 0x0F : flags >> 4;
        const bool vp6 = codec == 4 || codec == 5;
        if (type == 9 && (flags >> 4) != 5) {  // video, not a command frame
            if (file.videoCodecId == 0) file.videoCodecId = codec;
            const std::size_t skip = codec == 7 ? 5 : vp6 ? 2 : 1;
            if (size < skip) continue;
            if (vp6 && file.videoExtra.empty()) file.videoExtra = {second};
            if (codec == 7 && second == 0) {  // AVC sequence header
                if (file.videoExtra.empty()) file.videoExtra = from(5);
            } else {
                file.video.push_back(from(skip));
                file.keyFrames.push_back((flags >> 4) == 1);
            }
        } else if (type == 8) {
            if (file.audioFlags < 0) file.audioFlags = flags;
            if (codec == 10 && size >= 2 && second == 0) {  // AAC sequence header
                if (file.audioExtra.empty()) file.audioExtra = from(2);
            } else if (codec != 10 || size >= 2) {
                file.audio.push_back(from(codec == 10 ? 2 : 1));
            }
        }
    }
    return file;
}

// Host codes by FLV CodecID: 2 Sorenson, 3 and 6 screen video, 4 VP6, 5 VP6 alpha, 7 AVC.
inline LONG HostVideoCodec(const FlvFile& file) {
    static const LONG kCodes[] = {0, 0, 22, 89, 95, 110, 89, 28};
    return file.videoCodecId < 8 ? kCodes[file.videoCodecId] : 0;
}
// Host codes by SoundFormat: linear PCM (0 platform order, 3 little-endian) 16-bit, or 8-bit
// when SoundSize is 0; 1 ADPCM, 2 MP3, 4 to 6 Nellymoser, 10 AAC, 11 Speex.
inline LONG HostAudioCodec(const FlvFile& file) {
    const int format = file.audioFlags >> 4;
    if ((format == 0 || format == 3) && (file.audioFlags & 2) == 0) return kAudioCodecPcm8;
    static const LONG kCodes[] = {0x10001, 0x1100D, 0x15001, 0x10000, 0x15025, 0x15025,
                                  0x15025, 0,       0,       0,       0x15002, 0x15027};
    return format >= 0 && format < 12 ? kCodes[format] : 0;
}
// PCM of `channels` at `rate` with `bits` per sample.
inline WAVEFORMATEX Wave(int channels, int rate, int bits = 16) {
    const auto align = WORD(bits / 8 * channels);
    return WAVEFORMATEX{
        WAVE_FORMAT_PCM, WORD(channels), DWORD(rate), DWORD(align * rate), align, WORD(bits), 0};
}
// The header's rate, size and type; Nellymoser at 16 or 8 kHz and Speex state their rate by
// their format. Only linear PCM has the PCM format tag.
inline WAVEFORMATEX HostWaveFormat(const FlvFile& file) {
    static const int kRates[] = {5500, 11025, 22050, 44100};
    const int format = file.audioFlags >> 4;
    const int rate = format == 4 || format == 6 || format == 11 ? 16000
                     : format == 5                              ? 8000
                                   : kRates[(file.audioFlags >> 2) & 3];
    WAVEFORMATEX wave = Wave((file.audioFlags & 1) + 1, rate, file.audioFlags & 2 ? 16 : 8);
    wave.wFormatTag = format == 0 || format == 3 ? WAVE_FORMAT_PCM : 0;
    return wave;
}

// A sample the tests decode: generated by ffmpeg with `arguments`, or a shared real file when
// `arguments` is empty.
struct Sample {
    std::string name, arguments;
};
// Two seconds of a 440 Hz tone in `codec` at `rate` with `channels`.
inline Sample Tone(const char* name, const char* codec, int rate, int channels) {
    return {name, "-f lavfi -i sine=frequency=440:sample_rate=" + std::to_string(rate) +
                      " -t 2 -ac " + std::to_string(channels) + " -c:a " + codec};
}

// Declares `path` and `file` for `sample`; skips the test without ffmpeg or the shared file.
#define LOAD_SAMPLE(path, file, sample)                                                           \
    if (!FfmpegAvailable()) GTEST_SKIP() << "ffmpeg and ffprobe are needed";                      \
    const auto path = (sample).arguments.empty()                                                  \
                          ? SharedTestFile((sample).name)                                         \
                          : GeneratedSample((sample).name, (sample).arguments);                   \
    ASSERT_TRUE(path || (sample).arguments.empty()) << "ffmpeg could not make " << (sample).name; \
    if (!path) GTEST_SKIP() << "test file " << (sample).name << " is not present";                \
    const FlvFile file = ReadFlvFile(*path)

// The library's classes are registered in this process for the whole test program.
inline const HRESULT kMediaKitRegistered = MediaKitRegisterClasses();

// A packet holding `payload` (with `format` when given).
inline ComPtr<IMediaPacket> MakePacket(REFCLSID clsid, const Bytes& payload,
                                       IUnknown* format = nullptr) {
    ComPtr<IMediaPacket> packet;
    EXPECT_EQ(CreateInstance(clsid, packet), S_OK);
    const auto size = static_cast<LONG>(payload.size());
    EXPECT_EQ(packet->Allocate(size, 0), S_OK);
    EXPECT_EQ(packet->CopyIn(0, payload.data(), size), S_OK);
    EXPECT_EQ(format ? packet->SetFormat(format) : S_OK, S_OK);
    return packet;
}

// A video decoder configured for `hostCodec` with extra data and colour space, and started.
inline ComPtr<IVideoDecoder> StartVideoDecoder(LONG hostCodec, const Bytes& extra,
                                               LONG colorSpace = kColorSpaceYuv420) {
    ComPtr<IVideoDecoder> decoder;
    ComPtr<IVideoFormat> format;
    EXPECT_EQ(CreateInstance(CLSID_VideoDecoder, decoder), S_OK);
    EXPECT_EQ(CreateInstance(CLSID_VideoFormat, format), S_OK);
    EXPECT_EQ(format->SetCodec(hostCodec), S_OK);
    EXPECT_EQ(decoder->Command(kProcessorConfigure, format.Get(), nullptr), S_OK);
    VARIANT value{};
    value.vt = VT_I4;
    value.lVal = colorSpace;
    EXPECT_EQ(decoder->SetParam(Bstr(L"DecodeColorSpace").Get(), &value), S_OK);
    EXPECT_EQ(decoder->SetExtraData(extra.data(), static_cast<LONG>(extra.size())), S_OK);
    EXPECT_EQ(decoder->Command(kProcessorStart, nullptr, nullptr), S_OK);
    return decoder;
}

// An audio format of host codec `hostCodec` with `wave`.
inline ComPtr<IAudioFormat> AudioFormat(LONG hostCodec, WAVEFORMATEX wave) {
    ComPtr<IAudioFormat> format;
    EXPECT_EQ(CreateInstance(CLSID_AudioFormat, format), S_OK);
    EXPECT_EQ(format->SetWaveFormat(&wave), S_OK);
    EXPECT_EQ(format->SetCodec(hostCodec), S_OK);
    return format;
}
// An audio decoder whose output is 16-bit PCM of `channels` at `rate`, with extra data, reset.
inline ComPtr<IAudioDecoder> StartAudioDecoder(int channels, int rate, const Bytes& extra) {
    ComPtr<IAudioDecoder> decoder;
    EXPECT_EQ(CreateInstance(CLSID_AudioDecoder, decoder), S_OK);
    const auto output = AudioFormat(0, Wave(channels, rate));
    EXPECT_EQ(decoder->Command(kProcessorConfigure, output.Get(), nullptr), S_OK);
    EXPECT_EQ(decoder->SetExtraData(extra.data(), static_cast<LONG>(extra.size())), S_OK);
    EXPECT_EQ(decoder->Reset(0), S_OK);
    return decoder;
}

// The data block of a packet.
inline std::string PacketData(IMediaPacket* packet) {
    LONG size = 0;
    BYTE* data = nullptr;
    if (FAILED(packet->GetSize(&size)) || size <= 0 || FAILED(packet->GetData(&data))) return {};
    return std::string(reinterpret_cast<const char*>(data), static_cast<std::size_t>(size));
}

// Every packet a processor hands out now, until Read answers null.
inline Packets ReadAll(IMediaProcessor* processor) {
    Packets packets;
    for (ComPtr<IUnknown> out; SUCCEEDED(processor->Read(0, 0.0, out.Put())) && out;) {
        packets.push_back(out.As<IMediaPacket>());
    }
    return packets;
}

// How Decode goes on after each payload written: holding what comes out in the decoder,
// reading it, or reading it and at the end marking the end of input and draining.
enum class Then { kHold, kRead, kDrain };

// Writes each payload as a packet of `clsid` (with `format`), then as `then` says. Answers every
// packet read; `beforeEnd` receives how many came out before the end of input.
inline Packets Decode(IMediaProcessor* decoder, REFCLSID clsid, const std::vector<Bytes>& payloads,
                      IUnknown* format = nullptr, Then then = Then::kDrain,
                      std::size_t* beforeEnd = nullptr) {
    Packets out;
    for (std::size_t i = 0; i <= payloads.size(); ++i) {
        if (i < payloads.size()) {
            const auto packet = MakePacket(clsid, payloads[i], format);
            EXPECT_TRUE(SUCCEEDED(decoder->Write(kWriteData, packet.Get()))) << "payload " << i;
        } else if (then == Then::kDrain) {
            if (beforeEnd) *beforeEnd = out.size();
            EXPECT_EQ(decoder->Write(kWriteEndOfInput, nullptr), S_OK);
        }
        if (then == Then::kHold) continue;
        for (auto& packet : ReadAll(decoder)) out.push_back(std::move(packet));
    }
    return out;
}

// MD5 of every frame's data, and ffmpeg's frames of `path` in `pixelFormat` the same way.
inline std::vector<std::string> FrameHashes(const Packets& frames) {
    std::vector<std::string> hashes;
    for (const auto& frame : frames) {
        const std::string data = PacketData(frame.Get());
        hashes.push_back(Md5Hex(data.data(), data.size()));
    }
    return hashes;
}
inline std::vector<std::string> PeerHashes(const std::filesystem::path& path,
                                           const char* pixelFormat) {
    std::vector<std::string> hashes;
    for (const FrameHash& frame : VideoFrameHashes(path, pixelFormat)) hashes.push_back(frame.md5);
    return hashes;
}

// The PCM of `blocks`, one after the other.
inline std::string Pcm(const Packets& blocks) {
    std::string pcm;
    for (const auto& block : blocks) pcm += PacketData(block.Get());
    return pcm;
}
// All audio of `file` decoded to the header's channels and rate.
inline std::string DecodeAudio(const FlvFile& file, Then then = Then::kDrain) {
    const WAVEFORMATEX wave = HostWaveFormat(file);
    const auto decoder = StartAudioDecoder(wave.nChannels, wave.nSamplesPerSec, file.audioExtra);
    const auto input = AudioFormat(HostAudioCodec(file), wave);
    return Pcm(Decode(decoder.Get(), CLSID_AudioPacket, file.audio, input.Get(), then));
}

// `count` payloads of random bytes, shorter than `maxSize`; every third starts with `start`, so
// that decoders go past their headers.
inline std::vector<Bytes> Garbage(std::mt19937& random, std::size_t count, std::size_t maxSize,
                                  const Bytes& start) {
    std::vector<Bytes> payloads(count);
    for (std::size_t i = 0; i < count; ++i) {
        payloads[i].resize(random() % maxSize);
        for (auto& byte : payloads[i]) byte = static_cast<std::uint8_t>(random());
        if (payloads[i].size() > start.size() && i % 3 == 0) {
            std::copy(start.begin(), start.end(), payloads[i].begin());
        }
    }
    return payloads;
}
