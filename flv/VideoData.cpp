#include "flv/VideoData.h"

#include "flv/BodyPayload.h"
#include "io/FieldWriters.h"

namespace {
constexpr std::uint32_t kAvcFixedBytes = 5;  // header byte, AVCPacketType, CompositionTime
constexpr std::uint32_t kVp6FixedBytes = 2;  // header byte, adjustment byte
constexpr std::uint32_t kPlainFixedBytes = 1;
constexpr std::uint8_t kAvcSequenceHeader = 0;

bool IsKeptFrameType(std::uint32_t value) {
    return value >= CFLV_VideoData::kKeyFrame && value <= CFLV_VideoData::kDisposableFrame;
}

bool IsKeptCodec(std::uint32_t value) {
    return value >= CFLV_VideoData::kSorensonH263 && value <= CFLV_VideoData::kAvc;
}

bool IsVp6(std::uint32_t codec) {
    return codec == CFLV_VideoData::kVp6 || codec == CFLV_VideoData::kVp6Alpha;
}

std::uint32_t FixedBytes(std::uint32_t codec) {
    if (codec == CFLV_VideoData::kAvc) return kAvcFixedBytes;
    return IsVp6(codec) ? kVp6FixedBytes : kPlainFixedBytes;
}

// The SI24 field as a signed value.
std::int32_t SignExtend24(std::uint32_t raw) {
    return static_cast<std::int32_t>((raw & 0xFFFFFF) ^ 0x800000) - 0x800000;
}
}  // namespace

std::unique_ptr<CFlashObject> CFLV_VideoData::Clone() const {
    return std::unique_ptr<CFlashObject>(new CFLV_VideoData(*this));
}

void CFLV_VideoData::Write(COutputStream& output) {
    const auto byte = static_cast<std::uint8_t>(((frameType & 0x0F) << 4) | (codecId & 0x0F));
    WriteValue(output, byte, FieldType::UI8);
}

bool CFLV_VideoData::Read(CInputStream& input) {
    return Parse(input, true);
}

bool CFLV_VideoData::Scan(CInputStream& input) {
    return Parse(input, false);
}

void CFLV_VideoData::Reset() noexcept {
    DataSize = 0;
    frameType = kKeyFrame;
    codecId = kDefaultCodec;
    compositionTime = 0;
    payloadSize = 0;
    sequenceHeader = false;
    if (!codecExtra.Empty()) codecExtra.Assign(nullptr, 0);  // keeps the block's memory
    payload.Reset();
}

bool CFLV_VideoData::Parse(CInputStream& input, bool keepPayload) {
    try {
        // Not even the header byte belongs to an empty body.
        if (DataSize < kPlainFixedBytes) return false;
        std::uint8_t header = 0;
        if (!input.ReadValue(header, FieldType::UI8)) return false;
        const std::uint32_t frame = header >> 4;
        const std::uint32_t codec = header & 0x0F;
        if (IsKeptFrameType(frame)) frameType = frame;
        const std::uint32_t layout = IsKeptCodec(codec) ? codec : codecId;
        if (DataSize < FixedBytes(layout)) return false;

        if (IsVp6(codec)) {
            if (!codecExtra.Load(input, 1)) return false;
        }
        codecId = layout;
        if (IsVp6(codecId)) DataSize -= 1;

        std::uint32_t payloadBytes = DataSize - kPlainFixedBytes;
        sequenceHeader = false;
        if (codecId == kAvc) {
            std::uint8_t packetType = 0;
            std::uint32_t rawTime = 0;
            if (!input.ReadValue(packetType, FieldType::UI8)) return false;
            if (!input.ReadValue(rawTime, FieldType::SI24)) return false;
            compositionTime = SignExtend24(rawTime);
            payloadBytes = DataSize - kAvcFixedBytes;
            sequenceHeader = packetType == kAvcSequenceHeader;
        }
        if (!TakeFlvBodyPayload(input, payloadBytes, sequenceHeader, keepPayload, codecExtra,
                                payload)) {
            return false;
        }
        payloadSize = payloadBytes;
        return true;
    } catch (...) {
        return false;
    }
}
