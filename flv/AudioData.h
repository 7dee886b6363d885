// CFLV_AudioData: the body of an FLV audio tag (TagType 8).
//
//   offset 0  1 byte  bits 4-7 SoundFormat, bits 2-3 SoundRate, bit 1 SoundSize, bit 0 SoundType
//   offset 1  UI8     AACPacketType: 0 sequence header, else raw data   (SoundFormat 10)
//   then              payload to the end of the body: the AudioSpecificConfig when
//                     AACPacketType is 0, otherwise the coded audio
//
// Every SoundFormat is accepted and stored as read. An AAC sequence header is copied into the
// element's codec extra data (and recognised afterwards by it being present); other payloads
// go into an AudioPacket of the host framework on Read, and are stepped over by Scan.
#pragma once

#include <cstdint>
#include <memory>

#include "flv/ExtraData.h"
#include "flv/FlashObject.h"
#include "mediakit/MediaInterfaces.h"
#include "platform/ComPtr.h"

class CFLV_AudioData final : public CFlashObject {
  public:
    static constexpr std::uint32_t kLinearPcm = 0;
    static constexpr std::uint32_t kAdpcm = 1;
    static constexpr std::uint32_t kMp3 = 2;
    static constexpr std::uint32_t kLinearPcmLittleEndian = 3;
    static constexpr std::uint32_t kNellymoser16kMono = 4;
    static constexpr std::uint32_t kNellymoser8kMono = 5;
    static constexpr std::uint32_t kNellymoser = 6;
    static constexpr std::uint32_t kG711ALaw = 7;
    static constexpr std::uint32_t kG711MuLaw = 8;
    static constexpr std::uint32_t kAac = 10;
    static constexpr std::uint32_t kSpeex = 11;

    CFLV_AudioData() = default;

    const wchar_t* GetName() const override { return L"Audio Data"; }
    // Copies every field and the extra data; the copy holds its own reference on the payload.
    std::unique_ptr<CFlashObject> Clone() const override;
    // 1 + payload size.
    std::uint32_t GetDataSize() override { return 1 + payloadSize; }
    // The single header byte; the payload is not written.
    void Write(COutputStream& output) override;
    // The body of DataSize bytes, the coded audio into a new payload packet. A body shorter than
    // its fixed fields (below 2 bytes for AAC, 1 otherwise) fails before any payload is read.
    [[nodiscard]] bool Read(CInputStream& input) override;
    // As Read, but the payload is only checked to be in the file and stepped over; an AAC
    // sequence header is still copied.
    [[nodiscard]] bool Scan(CInputStream& input) override;

    // Back to the values of a new element (the extra data keeps its memory).
    void Reset() noexcept;

    std::uint32_t SoundFormat() const noexcept { return soundFormat; }
    // 0 to 3: 5.5, 11, 22, 44 kHz.
    std::uint32_t SoundRate() const noexcept { return soundRate; }
    // 0: 8-bit samples, 1: 16-bit.
    std::uint32_t SoundSize() const noexcept { return soundSize; }
    // 0: mono, 1: stereo.
    std::uint32_t SoundType() const noexcept { return soundType; }
    std::uint32_t PayloadSize() const noexcept { return payloadSize; }
    // True for an AAC sequence header (AACPacketType 0): the body is configuration, no audio.
    bool IsSequenceHeader() const noexcept { return sequenceHeader; }
    // The AAC sequence header; empty otherwise.
    const CExtraData& ExtraData() const noexcept { return codecExtra; }
    // The coded audio after Read; null after Scan, for a sequence header, or once taken.
    IAudioPacket* Payload() const noexcept { return payload.Get(); }
    ComPtr<IAudioPacket> TakePayload() noexcept { return std::move(payload); }

    void SetSoundFields(std::uint32_t format, std::uint32_t rate, std::uint32_t size,
                        std::uint32_t type) noexcept;

  private:
    CFLV_AudioData(const CFLV_AudioData&) = default;
    bool Parse(CInputStream& input, bool keepPayload);

    std::uint32_t soundFormat = kMp3;
    std::uint32_t soundRate = 3;
    std::uint32_t soundSize = 1;
    std::uint32_t soundType = 1;
    std::uint32_t payloadSize = 0;
    bool sequenceHeader = false;
    CExtraData codecExtra;
    ComPtr<IAudioPacket> payload;
};
