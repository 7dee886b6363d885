#include "flv/AudioData.h"

#include "flv/BodyPayload.h"
#include "io/FieldWriters.h"

namespace {
constexpr std::uint32_t kAacFixedBytes = 2;  // header byte, AACPacketType
constexpr std::uint32_t kPlainFixedBytes = 1;
constexpr std::uint8_t kAacSequenceHeader = 0;
}  // namespace

std::unique_ptr<CFlashObject> CFLV_AudioData::Clone() const {
    return std::unique_ptr<CFlashObject>(new CFLV_AudioData(*this));
}

void CFLV_AudioData::Write(COutputStream& output) {
    const auto byte =
        static_cast<std::uint8_t>(((soundFormat & 0x0F) << 4) | ((soundRate & 3) << 2) |
                                  ((soundSize & 1) << 1) | (soundType & 1));
    WriteValue(output, byte, FieldType::UI8);
}

bool CFLV_AudioData::Read(CInputStream& input) {
    return Parse(input, true);
}

bool CFLV_AudioData::Scan(CInputStream& input) {
    return Parse(input, false);
}

void CFLV_AudioData::Reset() noexcept {
    DataSize = 0;
    soundFormat = kMp3;
    soundRate = 3;
    soundSize = 1;
    soundType = 1;
    payloadSize = 0;
    sequenceHeader = false;
    if (!codecExtra.Empty()) codecExtra.Assign(nullptr, 0);  // keeps the block's memory
    payload.Reset();
}

void CFLV_AudioData::SetSoundFields(std::uint32_t format, std::uint32_t rate, std::uint32_t size,
                                    std::uint32_t type) noexcept {
    soundFormat = format;
    soundRate = rate;
    soundSize = size;
    soundType = type;
}

bool CFLV_AudioData::Parse(CInputStream& input, bool keepPayload) {
    try {
        if (DataSize < kPlainFixedBytes) return false;
        std::uint8_t header = 0;
        if (!input.ReadValue(header, FieldType::UI8)) return false;
        SetSoundFields(header >> 4, (header >> 2) & 3, (header >> 1) & 1, header & 1);

        std::uint32_t payloadBytes = DataSize - kPlainFixedBytes;
        sequenceHeader = false;
        if (soundFormat == kAac) {
            if (DataSize < kAacFixedBytes) return false;
            std::uint8_t packetType = 0;
            if (!input.ReadValue(packetType, FieldType::UI8)) return false;
            payloadBytes = DataSize - kAacFixedBytes;
            sequenceHeader = packetType == kAacSequenceHeader;
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
