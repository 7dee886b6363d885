// CFLV_Header: the 9-byte FLV file header.
//
//   offset 0  3 bytes  Signature "FLV" (46 4C 56)
//   offset 3  UI8      Version (1 in a new header)
//   offset 4  UI8      TypeFlags: 0x04 audio tags present, 0x01 video tags present
//   offset 5  UI32     DataOffset (9 in a new header; readers take the first tag at 13)
//
// The 4-byte PreviousTagSize0 that follows is not part of the element. Read checks no value:
// the openers test the signature (HasFlvSignature) and nothing else.
#pragma once

#include <cstdint>
#include <memory>

#include "flv/FlashObject.h"
#include "platform/Types.h"

class CFLV_Header final : public CFlashObject {
  public:
    static constexpr std::size_t kSignatureSize = 3;
    static constexpr BYTE kSignature[kSignatureSize] = {0x46, 0x4C, 0x56};  // "FLV"
    static constexpr BYTE kAudioFlag = 0x04;
    static constexpr BYTE kVideoFlag = 0x01;
    static constexpr BYTE kVersion = 1;
    static constexpr std::uint32_t kDataOffset = 9;
    // Header and PreviousTagSize0: the offset of the first tag.
    static constexpr std::uint64_t kFirstTagOffset = 13;

    CFLV_Header() = default;

    const wchar_t* GetName() const override { return L"FLV Header"; }
    std::unique_ptr<CFlashObject> Clone() const override;
    // The header is never the body of a tag.
    std::uint32_t GetDataSize() override { return 0; }
    // Signature, version, the type flags rebuilt from the two presence bits (and stored),
    // data offset: 9 bytes.
    void Write(COutputStream& output) override;
    // Signature bytes, version and type flags as UI8, then the data offset as UI32. Stops at
    // the first field that is not there; fields not read keep their values.
    [[nodiscard]] bool Read(CInputStream& input) override;
    [[nodiscard]] bool Scan(CInputStream& input) override { return Read(input); }

    // True when the signature bytes are exactly "FLV". A fresh header has them, so a file of
    // 0 bytes, or of 1 or 2 bytes that match the signature's start, passes.
    bool HasFlvSignature() const noexcept;

    const BYTE* Signature() const noexcept { return signature; }
    BYTE Version() const noexcept { return version; }
    BYTE TypeFlags() const noexcept { return typeFlags; }
    std::uint32_t DataOffset() const noexcept { return dataOffset; }
    // 0 or kVideoFlag (1) as read.
    std::uint32_t VideoPresent() const noexcept { return videoPresent; }
    // 0 or kAudioFlag (4) as read; any nonzero value means present.
    std::uint32_t AudioPresent() const noexcept { return audioPresent; }
    void SetVideoPresent(bool present) noexcept { videoPresent = present ? kVideoFlag : 0; }
    void SetAudioPresent(bool present) noexcept { audioPresent = present ? kAudioFlag : 0; }

  private:
    BYTE signature[kSignatureSize] = {kSignature[0], kSignature[1], kSignature[2]};
    BYTE version = kVersion;
    BYTE typeFlags = 0;
    std::uint32_t dataOffset = kDataOffset;
    std::uint32_t videoPresent = 0;
    std::uint32_t audioPresent = 0;
};
