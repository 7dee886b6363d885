#include "mediakit/DecoderBitstream.h"

#include <array>

namespace mediakit {
namespace {

// Reads big-endian bit fields; a read past the end sets `failed` and answers 0.
class BitReader {
  public:
    explicit BitReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::uint32_t Read(int count) {
        std::uint32_t value = 0;
        for (int i = 0; i < count; ++i) {
            if (position_ >= bytes_.size() * 8) {
                failed_ = true;
                return 0;
            }
            const std::uint8_t byte = bytes_[position_ / 8];
            value = (value << 1) | ((byte >> (7 - position_ % 8)) & 1u);
            ++position_;
        }
        return value;
    }
    // Unsigned Exp-Golomb code of H.264 headers.
    std::uint32_t ReadExpGolomb() {
        int leadingZeros = 0;
        while (Read(1) == 0) {
            if (failed_ || ++leadingZeros > 31) {
                failed_ = true;
                return 0;
            }
        }
        if (leadingZeros == 0) return 0;
        return (1u << leadingZeros) - 1 + Read(leadingZeros);
    }
    bool Failed() const { return failed_; }

  private:
    std::span<const std::uint8_t> bytes_;
    std::size_t position_ = 0;
    bool failed_ = false;
};

constexpr std::size_t kScreenHeaderSize = 4;
constexpr std::uint8_t kScreenV2ReservedBlockFlags = 0xE0;
constexpr std::uint8_t kScreenV2DiffBlock = 0x04;
constexpr std::uint8_t kScreenV2PrimeCurrent = 0x02;
constexpr std::uint8_t kScreenV2PrimePrevious = 0x01;
constexpr std::size_t kScreenV2RangeSize = 2;

// The 2-byte zlib stream header: deflate method, window of at most 32 KiB, no preset
// dictionary, check bits making the pair a multiple of 31.
bool IsZlibHeader(std::uint8_t method, std::uint8_t flags) {
    return (method & 0x0F) == 8 && (method >> 4) <= 7 && (flags & 0x20) == 0 &&
           ((method << 8) | flags) % 31 == 0;
}

}  // namespace

ScreenVideoLayout ParseScreenVideo(std::span<const std::uint8_t> frame,
                                   ScreenVideoVersion version) {
    ScreenVideoLayout layout;
    if (version == ScreenVideoVersion::kUnknown || frame.size() < kScreenHeaderSize) return layout;
    const int blockWidth = 16 * ((frame[0] >> 4) + 1);
    const int imageWidth = ((frame[0] & 0x0F) << 8) | frame[1];
    const int blockHeight = 16 * ((frame[2] >> 4) + 1);
    const int imageHeight = ((frame[2] & 0x0F) << 8) | frame[3];
    if (imageWidth == 0 || imageHeight == 0) return layout;
    const bool version2 = version == ScreenVideoVersion::kVersion2;

    std::size_t position = kScreenHeaderSize;
    if (version2) {
        if (position >= frame.size()) return layout;
        // An I-frame image or a palette changes the layout that follows in ways libavcodec
        // does not read either: such a frame is not walked.
        if (frame[position++] != 0) return layout;
    }
    const int columns = (imageWidth + blockWidth - 1) / blockWidth;
    const int rows = (imageHeight + blockHeight - 1) / blockHeight;
    bool allCoded = true;
    bool refersToKeyFrame = false;
    for (int block = 0; block < columns * rows; ++block) {
        if (frame.size() - position < 2) return layout;
        const std::size_t blockSize = (std::size_t{frame[position]} << 8) | frame[position + 1];
        position += 2;
        if (blockSize > frame.size() - position) return layout;
        if (blockSize == 0) {
            allCoded = false;
            continue;
        }
        const auto data = frame.subspan(position, blockSize);
        position += blockSize;
        std::size_t zlibStart = 0;
        bool primed = false;
        if (version2) {
            const std::uint8_t flags = data[0];
            const int colourDepth = (flags >> 3) & 3;
            if ((flags & kScreenV2ReservedBlockFlags) != 0 ||
                (colourDepth != 0 && colourDepth != 2)) {
                return layout;
            }
            zlibStart = 1;
            if (flags & kScreenV2DiffBlock) {
                zlibStart += kScreenV2RangeSize;
                refersToKeyFrame = true;
            }
            if (flags & kScreenV2PrimeCurrent) zlibStart += kScreenV2RangeSize;
            if (flags & kScreenV2PrimePrevious) {
                primed = true;
                refersToKeyFrame = true;
            }
            if (zlibStart > data.size()) return layout;
        }
        // A primed block continues a stream whose header went with the priming data.
        if (!primed) {
            if (data.size() - zlibStart < 2) return layout;
            if (!IsZlibHeader(data[zlibStart], data[zlibStart + 1])) return layout;
        }
    }
    if (position != frame.size()) return layout;
    layout.valid = true;
    layout.keyFrame = allCoded && !refersToKeyFrame;
    return layout;
}

ScreenVideoVersion ClassifyScreenVideo(std::span<const std::uint8_t> frame) {
    const bool version1 = ParseScreenVideo(frame, ScreenVideoVersion::kVersion1).valid;
    const bool version2 = ParseScreenVideo(frame, ScreenVideoVersion::kVersion2).valid;
    if (version1) return ScreenVideoVersion::kVersion1;
    if (version2) return ScreenVideoVersion::kVersion2;
    return ScreenVideoVersion::kUnknown;
}

bool IsSorensonKeyFrame(std::span<const std::uint8_t> frame) {
    // Picture header: UB[17] start code 1, UB[5] version (0 or 1), UB[8] picture number,
    // UB[3] size code (0: UB[8] width and height follow, 1: UB[16] each, 2 to 6 fixed sizes,
    // 7 invalid), UB[2] picture type (0 intra, 1 inter, 2 disposable inter).
    BitReader reader(frame);
    if (reader.Read(17) != 1) return false;
    if (reader.Read(5) > 1) return false;
    reader.Read(8);
    switch (reader.Read(3)) {
        case 0:
            reader.Read(16);
            break;
        case 1:
            reader.Read(32);
            break;
        case 7:
            return false;
        default:
            break;
    }
    const std::uint32_t pictureType = reader.Read(2);
    return !reader.Failed() && pictureType == 0;
}

bool IsVp6KeyFrame(std::span<const std::uint8_t> frame, bool withAlpha) {
    constexpr std::size_t kAlphaOffsetSize = 3;
    const std::size_t start = withAlpha ? kAlphaOffsetSize : 0;
    if (frame.size() <= start) return false;
    return (frame[start] & 0x80) == 0;
}

bool IsH264KeyFrame(std::span<const std::uint8_t> frame, int nalLengthSize) {
    constexpr int kSliceNonIdr = 1;
    constexpr int kSliceIdr = 5;
    if (nalLengthSize < 1 || nalLengthSize > 4) return false;
    const auto lengthSize = static_cast<std::size_t>(nalLengthSize);
    std::size_t position = 0;
    while (frame.size() - position >= lengthSize) {
        std::size_t length = 0;
        for (std::size_t i = 0; i < lengthSize; ++i) length = (length << 8) | frame[position + i];
        position += lengthSize;
        if (length > frame.size() - position) return false;
        const auto unit = frame.subspan(position, length);
        position += length;
        if (unit.empty()) continue;
        const int type = unit[0] & 0x1F;
        if (type == kSliceIdr) return true;
        if (type != kSliceNonIdr) continue;
        // The slice header's first fields, with emulation prevention bytes (00 00 03) removed:
        // ue(v) first_mb_in_slice, ue(v) slice_type.
        std::array<std::uint8_t, 16> header{};
        std::size_t used = 0;
        int zeros = 0;
        for (std::size_t i = 1; i < unit.size() && used < header.size(); ++i) {
            if (zeros >= 2 && unit[i] == 3) {
                zeros = 0;
                continue;
            }
            zeros = unit[i] == 0 ? zeros + 1 : 0;
            header[used++] = unit[i];
        }
        BitReader reader(std::span<const std::uint8_t>(header.data(), used));
        reader.ReadExpGolomb();
        const std::uint32_t sliceType = reader.ReadExpGolomb() % 5;
        constexpr std::uint32_t kSliceI = 2;
        constexpr std::uint32_t kSliceSi = 4;
        return !reader.Failed() && (sliceType == kSliceI || sliceType == kSliceSi);
    }
    return false;
}

int AvcNalLengthSize(std::span<const std::uint8_t> configuration) {
    // configurationVersion, profile, compatibility, level, 6 reserved bits and
    // lengthSizeMinusOne.
    constexpr std::size_t kLengthField = 4;
    if (configuration.size() <= kLengthField || configuration[0] != 1) return 4;
    return (configuration[kLengthField] & 3) + 1;
}

}  // namespace mediakit
