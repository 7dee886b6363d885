#include "flv/AudioSound.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::uint32_t kLinearPcm = 0;
constexpr std::uint32_t kAdpcm = 1;
constexpr std::uint32_t kMp3 = 2;
constexpr std::uint32_t kLinearPcmLittleEndian = 3;
constexpr std::uint32_t kNellymoser16kMono = 4;
constexpr std::uint32_t kNellymoser8kMono = 5;
constexpr std::uint32_t kNellymoser = 6;
constexpr std::uint32_t kG711ALaw = 7;
constexpr std::uint32_t kG711MuLaw = 8;
constexpr std::uint32_t kAac = 10;
constexpr std::uint32_t kSpeex = 11;

// The rates of the SoundRate field, as the file scan reads them.
constexpr std::array<double, 4> kSoundRates = {5500, 11025, 22050, 44100};
constexpr double kG711Rate = 8000;
constexpr double kSpeexRate = 16000;
constexpr double kSpeexFrameSamples = 320;  // a wideband frame
constexpr double kNellymoserBlockSamples = 256;
constexpr std::uint64_t kNellymoserBlockBytes = 64;
constexpr std::uint64_t kAdpcmBlockSamples = 4096;

double Ms(double samples, double rate) {
    return samples * 1000.0 / rate;
}

// Big-endian bits of a byte block. Reads past the end give zero bits, as a decoder's bit reader
// does; Left() then turns negative.
class BitReader {
  public:
    explicit BitReader(std::span<const BYTE> bytes) : bytes_(bytes) {}
    std::int64_t Left() const { return static_cast<std::int64_t>(bytes_.size() * 8) - at_; }
    std::int64_t Position() const { return at_; }
    std::uint32_t Read(int count) {
        std::uint32_t value = 0;
        for (int i = 0; i < count; ++i) value = (value << 1) | Bit(at_++);
        return value;
    }
    std::uint32_t Peek(int count) const {
        std::uint32_t value = 0;
        for (int i = 0; i < count; ++i) value = (value << 1) | Bit(at_ + i);
        return value;
    }
    void Skip(std::int64_t count) { at_ += count; }

  private:
    std::uint32_t Bit(std::int64_t at) const {
        if (at < 0 || at >= static_cast<std::int64_t>(bytes_.size() * 8)) return 0;
        return (bytes_[static_cast<std::size_t>(at / 8)] >> (7 - at % 8)) & 1;
    }
    std::span<const BYTE> bytes_;
    std::int64_t at_ = 0;
};

// Samples of an ADPCM payload: a 2-bit code size (2 to 5 bits a sample), then blocks of 4096
// samples, each with a 22-bit header (16-bit first sample, 6-bit step index) per channel.
std::optional<double> AdpcmSamples(std::uint64_t payloadSize, std::span<const BYTE> start,
                                   std::uint64_t channels) {
    if (payloadSize == 0 || start.empty()) return std::nullopt;
    const std::uint64_t bits = payloadSize * 8 - 2;
    const std::uint64_t codeBits = (start[0] >> 6) + 2;
    const std::uint64_t blockHeader = 22 * channels;
    const std::uint64_t blockBits = blockHeader + codeBits * channels * (kAdpcmBlockSamples - 1);
    const std::uint64_t blocks = bits / blockBits;
    const std::uint64_t rest = bits - blocks * blockBits;
    std::uint64_t samples = blocks * kAdpcmBlockSamples;
    if (rest >= blockHeader) samples += 1 + (rest - blockHeader) / (codeBits * channels);
    return static_cast<double>(samples);
}

// The frames of an MP3 payload, header after header; a partial last frame is not counted.
std::optional<double> Mp3Ms(std::span<const BYTE> payload) {
    // kbit/s by [MPEG-2 or 2.5][layer I, II, III][index]
    static constexpr std::uint16_t kBitRates[2][3][15] = {
        {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
         {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
         {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
        {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
    static constexpr std::uint32_t kRates[3] = {44100, 48000, 32000};
    double ms = 0.0;
    bool any = false;
    std::size_t at = 0;
    while (payload.size() - at >= 4) {
        const std::uint32_t header = (std::uint32_t{payload[at]} << 24) |
                                     (std::uint32_t{payload[at + 1]} << 16) |
                                     (std::uint32_t{payload[at + 2]} << 8) | payload[at + 3];
        const std::uint32_t version = (header >> 19) & 3;    // 0 MPEG-2.5, 2 MPEG-2, 3 MPEG-1
        const std::uint32_t layerBits = (header >> 17) & 3;  // 3 layer I, 2 II, 1 III
        const std::uint32_t bitRateIndex = (header >> 12) & 15;
        const std::uint32_t rateIndex = (header >> 10) & 3;
        if ((header >> 21) != 0x7FF || version == 1 || layerBits == 0 || bitRateIndex == 0 ||
            bitRateIndex == 15 || rateIndex == 3) {
            break;  // not a frame header (a free-format frame tells no size either)
        }
        const int layer = 4 - static_cast<int>(layerBits);
        const bool lowRate = version != 3;
        const std::uint32_t rate = kRates[rateIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
        const std::uint32_t kbps = kBitRates[lowRate ? 1 : 0][layer - 1][bitRateIndex];
        const std::uint32_t padding = (header >> 9) & 1;
        std::size_t size = 0;
        double samples = 0;
        if (layer == 1) {
            size = (12000 * kbps / rate + padding) * 4;
            samples = 384;
        } else if (layer == 2 || !lowRate) {
            size = 144000 * kbps / rate + padding;
            samples = 1152;
        } else {
            size = 72000 * kbps / rate + padding;
            samples = 576;
        }
        if (size > payload.size() - at) break;
        ms += Ms(samples, rate);
        any = true;
        at += size;
    }
    return any ? std::optional(ms) : std::nullopt;
}

// One AAC frame: 1024 samples (960 with the short frame flag, 512 or 480 for the low-delay
// types) at the core rate of the AudioSpecificConfig.
std::optional<double> AacMs(std::span<const BYTE> config) {
    static constexpr std::uint32_t kRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                                 22050, 16000, 12000, 11025, 8000,  7350};
    if (config.size() < 2) return std::nullopt;
    BitReader bits(config);
    auto objectType = [&] {
        const std::uint32_t type = bits.Read(5);
        return type == 31 ? 32 + bits.Read(6) : type;
    };
    auto rate = [&]() -> std::uint32_t {
        const std::uint32_t index = bits.Read(4);
        if (index == 15) return bits.Read(24);
        return index < 13 ? kRates[index] : 0;
    };
    std::uint32_t type = objectType();
    const std::uint32_t coreRate = rate();
    bits.Skip(4);                   // channel configuration
    if (type == 5 || type == 29) {  // SBR or PS: the extension rate, then the core's type
        (void)rate();
        type = objectType();
    }
    double samples = 1024;
    const bool shortFrame = bits.Read(1) == 1;  // GASpecificConfig's frameLengthFlag
    if (type == 23 || type == 39) {
        samples = shortFrame ? 480 : 512;
    } else if (type <= 7 || (type >= 17 && type <= 22)) {
        samples = shortFrame ? 960 : 1024;
    }
    // A rate below any that AAC codes (an explicit one of a few hertz from a damaged
    // configuration) would make one frame last minutes.
    constexpr std::uint32_t kLowestRate = 7350;
    if (coreRate < kLowestRate || bits.Left() < 0) return std::nullopt;
    return Ms(samples, coreRate);
}

// Speex frames as the decoder takes them from a payload: a decoding call reads up to 64 frames
// and stops when fewer than 5 bits are left or a terminator (mode 15) follows; a further call
// takes the rest of the payload from the next whole byte. A frame is a narrowband frame (after
// any in-band requests and skipped wideband blocks) and, when the next bit is set, a wideband
// layer. A call that meets a damaged frame gives nothing, and ends the payload.
std::optional<double> SpeexFrames(std::span<const BYTE> payload) {
    // Bits of a narrowband frame by mode, with its 5 header bits; of a wideband layer by
    // sub-mode, with its 4 header bits (-1: no such sub-mode); of an in-band request by code.
    static constexpr int kNarrowBits[9] = {5, 43, 119, 160, 220, 300, 364, 492, 79};
    static constexpr int kWideBits[8] = {4, 36, 112, 192, 352, -1, -1, -1};
    static constexpr int kInBandBits[16] = {1, 1, 4, 4, 4, 4, 4, 4, 8, 8, 16, 16, 32, 32, 64, 64};
    constexpr int kFramesPerCall = 64;
    constexpr std::uint32_t kTerminator = 15;

    auto skipWideband = [](BitReader& bits) {
        const int advance = kWideBits[bits.Read(3)] - 4;
        if (advance < 0) return false;
        bits.Skip(advance);
        return true;
    };
    // One frame; false when the decoder would refuse it.
    auto frame = [&](BitReader& bits) {
        std::uint32_t mode = 0;
        do {
            if (bits.Left() < 5) return false;
            if (bits.Read(1) == 1) {
                if (!skipWideband(bits) || bits.Left() < 5) return false;
                if (bits.Read(1) == 1) {
                    if (!skipWideband(bits) || bits.Read(1) == 1) return false;
                }
            }
            if (bits.Left() < 4) return false;
            mode = bits.Read(4);
            if (mode == kTerminator) return false;
            if (mode == 14) {
                bits.Skip(kInBandBits[bits.Read(4)]);
            } else if (mode == 13) {
                bits.Skip(5 + 8 * static_cast<std::int64_t>(bits.Read(4)));
            } else if (mode > 8) {
                return false;
            }
        } while (mode > 8);
        bits.Skip(kNarrowBits[mode] - 5);
        if (bits.Left() > 0 && bits.Peek(1) == 1) {
            bits.Skip(1);
            const int layer = kWideBits[bits.Read(3)];
            if (layer < 0) return false;
            bits.Skip(layer - 4);
        }
        return true;
    };

    std::uint64_t frames = 0;
    std::size_t offset = 0;
    while (offset < payload.size()) {
        BitReader bits(payload.subspan(offset));
        std::uint64_t inCall = 0;
        for (int i = 0; i < kFramesPerCall; ++i) {
            if (!frame(bits)) return static_cast<double>(frames);
            ++inCall;
            if (bits.Left() < 5 || bits.Peek(5) == kTerminator) break;
        }
        frames += inCall;
        const auto used = static_cast<std::size_t>((bits.Position() + 7) / 8);
        if (used == 0 || used >= payload.size() - offset) break;
        offset += used;
    }
    return static_cast<double>(frames);
}

}  // namespace

std::uint64_t AudioSoundBytesNeeded(const AudioTagFields& fields, std::uint64_t payloadSize) {
    switch (fields.soundFormat) {
        case kMp3:
        case kSpeex:
            return payloadSize;
        case kAdpcm:
            return payloadSize > 0 ? 1 : 0;
        default:
            return 0;
    }
}

std::optional<double> AudioTagSoundMs(const AudioTagFields& fields, std::uint64_t payloadSize,
                                      std::span<const BYTE> payloadStart,
                                      std::span<const BYTE> aacConfig) {
    const std::uint64_t channels = fields.soundType + 1;
    const double rate = kSoundRates[fields.soundRate & 3];
    switch (fields.soundFormat) {
        case kLinearPcm:
        case kLinearPcmLittleEndian: {
            const std::uint64_t frameBytes = channels * (fields.soundSize == 1 ? 2 : 1);
            return Ms(static_cast<double>(payloadSize / frameBytes), rate);
        }
        case kAdpcm: {
            const auto samples = AdpcmSamples(payloadSize, payloadStart, channels);
            return samples ? std::optional(Ms(*samples, rate)) : std::nullopt;
        }
        case kMp3:
            return Mp3Ms(
                payloadStart.first(std::min<std::size_t>(payloadStart.size(), payloadSize)));
        case kNellymoser16kMono:
        case kNellymoser8kMono:
        case kNellymoser: {
            const double blockRate = fields.soundFormat == kNellymoser16kMono  ? 16000
                                     : fields.soundFormat == kNellymoser8kMono ? 8000
                                                                               : rate;
            const auto blocks = static_cast<double>(payloadSize / kNellymoserBlockBytes);
            return Ms(blocks * kNellymoserBlockSamples, blockRate);
        }
        case kG711ALaw:
        case kG711MuLaw:
            return Ms(static_cast<double>(payloadSize / channels), kG711Rate);
        case kAac:
            if (payloadSize == 0) return 0.0;
            return AacMs(aacConfig);
        case kSpeex: {
            const auto frames = SpeexFrames(
                payloadStart.first(std::min<std::size_t>(payloadStart.size(), payloadSize)));
            return frames ? std::optional(Ms(*frames * kSpeexFrameSamples, kSpeexRate))
                          : std::nullopt;
        }
        default:
            return std::nullopt;
    }
}
