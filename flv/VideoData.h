// CFLV_VideoData: the body of an FLV video tag (TagType 9).
//
//   offset 0  1 byte  bits 4-7 FrameType, bits 0-3 CodecID
//   offset 1  1 byte  VP6 adjustment byte                        (CodecID 4 and 5)
//   offset 1  UI8     AVCPacketType: 0 sequence header, else data (CodecID 7)
//   offset 2  SI24    CompositionTime in ms                       (CodecID 7)
//   then              payload to the end of the body: the AVCDecoderConfigurationRecord when
//                     AVCPacketType is 0, otherwise the coded frame
//
// Only the known FrameType values (1 key, 2 inter, 3 disposable) and CodecID values (2, 3, 4,
// 5, 6, 7) are stored; any other value leaves the field as it was (1 in a new element). The
// codec id that decides the layout is the stored one, so a body with an unknown CodecID is
// laid out like the codec the element already had.
//
// The codec extra data (the AVC sequence header, or the VP6 adjustment byte) is copied into
// the element. The coded frame goes into a VideoPacket of the host framework on Read; Scan
// steps over it and leaves no packet.
#pragma once

#include <cstdint>
#include <memory>

#include "flv/ExtraData.h"
#include "flv/FlashObject.h"
#include "mediakit/MediaInterfaces.h"
#include "platform/ComPtr.h"

class CFLV_VideoData final : public CFlashObject {
  public:
    static constexpr std::uint32_t kKeyFrame = 1;
    static constexpr std::uint32_t kInterFrame = 2;
    static constexpr std::uint32_t kDisposableFrame = 3;

    static constexpr std::uint32_t kDefaultCodec = 1;
    static constexpr std::uint32_t kSorensonH263 = 2;
    static constexpr std::uint32_t kScreenVideo = 3;
    static constexpr std::uint32_t kVp6 = 4;
    static constexpr std::uint32_t kVp6Alpha = 5;
    static constexpr std::uint32_t kScreenVideo2 = 6;
    static constexpr std::uint32_t kAvc = 7;

    CFLV_VideoData() = default;

    const wchar_t* GetName() const override { return L"Video Data"; }
    // Copies every field and the extra data; the copy shares the payload packet.
    std::unique_ptr<CFlashObject> Clone() const override;
    // 1 + payload size.
    std::uint32_t GetDataSize() override { return 1 + payloadSize; }
    // The single header byte (frame type, codec id); the payload is not written.
    void Write(COutputStream& output) override;
    // The body of DataSize bytes, the coded frame into a new payload packet. A body shorter
    // than its fixed fields (below 5 bytes for AVC, 2 for VP6, 1 otherwise) fails before any
    // payload is read. VP6 lowers DataSize by the adjustment byte.
    [[nodiscard]] bool Read(CInputStream& input) override;
    // As Read, but the payload is only checked to be in the file and stepped over.
    [[nodiscard]] bool Scan(CInputStream& input) override;

    // Back to the values of a new element (the extra data keeps its memory), for a reader that
    // reuses one element for many tags.
    void Reset() noexcept;

    std::uint32_t FrameType() const noexcept { return frameType; }
    std::uint32_t CodecId() const noexcept { return codecId; }
    // The CompositionTime field, sign-extended from 24 bits.
    std::int32_t CompositionTime() const noexcept { return compositionTime; }
    std::uint32_t PayloadSize() const noexcept { return payloadSize; }
    // True for an AVC sequence header (AVCPacketType 0): the body is configuration, no frame.
    bool IsSequenceHeader() const noexcept { return sequenceHeader; }
    // The AVC sequence header or the VP6 adjustment byte; empty otherwise.
    const CExtraData& ExtraData() const noexcept { return codecExtra; }
    // The coded frame after Read; null after Scan, for a sequence header, or once taken.
    IMediaPacket* Payload() const noexcept { return payload.Get(); }
    // Hands the payload packet to the reader of the tag; the element keeps none.
    ComPtr<IMediaPacket> TakePayload() noexcept { return std::move(payload); }

    void SetFrameType(std::uint32_t value) noexcept { frameType = value; }
    void SetCodecId(std::uint32_t value) noexcept { codecId = value; }

  private:
    CFLV_VideoData(const CFLV_VideoData&) = default;
    bool Parse(CInputStream& input, bool keepPayload);

    std::uint32_t frameType = kKeyFrame;
    std::uint32_t codecId = kDefaultCodec;
    std::int32_t compositionTime = 0;
    std::uint32_t payloadSize = 0;
    bool sequenceHeader = false;
    CExtraData codecExtra;
    ComPtr<IMediaPacket> payload;
};
