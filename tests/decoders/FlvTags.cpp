#include "tests/decoders/FlvTags.h"

#include <fstream>
#include <iterator>

namespace {

constexpr std::size_t kFileHeaderSize = 9;
constexpr std::size_t kPreviousTagSize = 4;
constexpr std::size_t kTagHeaderSize = 11;
constexpr int kTagAudio = 8;
constexpr int kTagVideo = 9;
constexpr int kCodecVp6 = 4;
constexpr int kCodecVp6Alpha = 5;
constexpr int kCodecAvc = 7;
constexpr int kSoundAac = 10;

std::uint32_t BigEndian(const std::vector<std::uint8_t>& bytes, std::size_t at, int count) {
    std::uint32_t value = 0;
    for (int i = 0; i < count; ++i) value = (value << 8) | bytes[at + i];
    return value;
}

}  // namespace

std::optional<FlvFile> ReadFlvFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    if (bytes.size() < kFileHeaderSize + kPreviousTagSize || bytes[0] != 'F' || bytes[1] != 'L' ||
        bytes[2] != 'V') {
        return std::nullopt;
    }
    FlvFile file;
    std::size_t position = BigEndian(bytes, 5, 4) + kPreviousTagSize;
    while (position <= bytes.size() && bytes.size() - position >= kTagHeaderSize) {
        const int type = bytes[position] & 0x1F;
        const std::size_t size = BigEndian(bytes, position + 1, 3);
        const std::uint32_t time =
            BigEndian(bytes, position + 4, 3) | (std::uint32_t{bytes[position + 7]} << 24);
        const std::size_t body = position + kTagHeaderSize;
        if (size > bytes.size() - body) break;
        position = body + size + kPreviousTagSize;
        if (size == 0) continue;
        auto from = [&](std::size_t skip) {
            return std::vector<std::uint8_t>(bytes.begin() + body + skip,
                                             bytes.begin() + body + size);
        };
        if (type == kTagVideo) {
            const int codec = bytes[body] & 0x0F;
            if ((bytes[body] >> 4) == 5) continue;  // command frame
            if (file.videoCodecId == 0) file.videoCodecId = codec;
            FlvVideoTag tag;
            tag.keyFrame = (bytes[body] >> 4) == 1;
            tag.time = time;
            if (codec == kCodecVp6 || codec == kCodecVp6Alpha) {
                if (size < 2) continue;
                if (file.videoExtra.empty()) file.videoExtra.push_back(bytes[body + 1]);
                tag.payload = from(2);
            } else if (codec == kCodecAvc) {
                if (size < 5) continue;
                if (bytes[body + 1] == 0) {
                    if (file.videoExtra.empty()) file.videoExtra = from(5);
                    continue;
                }
                tag.payload = from(5);
            } else {
                tag.payload = from(1);
            }
            file.video.push_back(std::move(tag));
        } else if (type == kTagAudio) {
            const int format = bytes[body] >> 4;
            if (file.soundFormat < 0) {
                file.soundFormat = format;
                file.soundRate = (bytes[body] >> 2) & 3;
                file.soundSize = (bytes[body] >> 1) & 1;
                file.soundType = bytes[body] & 1;
            }
            if (format == kSoundAac) {
                if (size < 2) continue;
                if (bytes[body + 1] == 0) {
                    if (file.audioExtra.empty()) file.audioExtra = from(2);
                    continue;
                }
                file.audio.push_back(from(2));
            } else {
                file.audio.push_back(from(1));
            }
        }
    }
    return file;
}

LONG HostVideoCodec(const FlvFile& file) {
    switch (file.videoCodecId) {
        case 2:
            return 22;
        case 3:
        case 6:
            return 89;
        case 4:
            return 95;
        case 5:
            return 110;
        case 7:
            return 28;
        default:
            return 0;
    }
}

LONG HostAudioCodec(const FlvFile& file) {
    switch (file.soundFormat) {
        case 0:
            return file.soundSize == 1 ? 0x10001 : 0x10004;
        case 1:
            return 0x1100D;
        case 2:
            return 0x15001;
        case 3:
            return file.soundSize == 1 ? 0x10000 : 0x10004;
        case 4:
        case 5:
        case 6:
            return 0x15025;
        case 10:
            return 0x15002;
        case 11:
            return 0x15027;
        default:
            return 0;
    }
}

WAVEFORMATEX HostWaveFormat(const FlvFile& file) {
    static const DWORD kRates[] = {5500, 11025, 22050, 44100};
    WAVEFORMATEX wave{};
    wave.wFormatTag = file.soundFormat == 0 || file.soundFormat == 3 ? 1 : 0;
    wave.wBitsPerSample = file.soundSize == 1 ? 16 : 8;
    wave.nChannels = static_cast<WORD>(file.soundType + 1);
    wave.nSamplesPerSec = kRates[file.soundRate & 3];
    if (file.soundFormat == 4 || file.soundFormat == 6 || file.soundFormat == 11) {
        wave.nSamplesPerSec = 16000;
    }
    if (file.soundFormat == 5) wave.nSamplesPerSec = 8000;
    wave.nBlockAlign = static_cast<WORD>(wave.wBitsPerSample / 8 * wave.nChannels);
    wave.nAvgBytesPerSec = wave.nBlockAlign * wave.nSamplesPerSec;
    return wave;
}
