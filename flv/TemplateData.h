// CFLV_TemplateData: one FLV tag, the 11-byte tag header (see flv/TagLayout.h) and the element
// that holds its body: CFLV_AudioData for tag type 8, CFLV_VideoData for 9, CFLV_ScriptData for
// 18. The PreviousTagSize after each tag is its callers' business: Read and Scan leave the
// cursor on it, Write does not write it.
//
// The template owns its body and deletes it with itself.
#pragma once

#include <cstdint>
#include <memory>

#include "flv/FlashObject.h"
#include "flv/TagLayout.h"

class CFLV_AudioData;
class CFLV_ScriptData;
class CFLV_VideoData;

class CFLV_TemplateData final : public CFlashObject {
  public:
    CFLV_TemplateData() = default;
    ~CFLV_TemplateData() override;

    const wchar_t* GetName() const override { return L"Template Data"; }
    // The same header fields, and a body of its own (the body's Clone).
    std::unique_ptr<CFlashObject> Clone() const override;
    // The tag's DataSize: TagDataSize() when nonzero, else the body's GetDataSize (stored).
    std::uint32_t GetDataSize() override;
    // Tag type, the body's GetDataSize, the time (24 + 8 bits), StreamID 0, then the body.
    void Write(COutputStream& output) override;
    // The header and the body completely. Tag types 8, 9 and 18 get a new body, which must be
    // non-empty and wholly in the file; any other tag type keeps the current body and its
    // DataSize bytes are skipped (the read succeeds).
    [[nodiscard]] bool Read(CInputStream& input) override;
    // The header and the body's Scan, with a new body. Fails for tag types other than 8, 9 and
    // 18, and when the body is not wholly in the file; an empty body is passed on (the body
    // decides).
    [[nodiscard]] bool Scan(CInputStream& input) override;

    std::uint32_t GetTagType() const noexcept { return tagType; }
    // The body, still owned by the template; null before the first Read, Scan or SetBody.
    CFlashObject* GetBody() const noexcept { return body.get(); }
    // The body as its class when it is one (null otherwise).
    CFLV_VideoData* VideoBody() const noexcept;
    CFLV_AudioData* AudioBody() const noexcept;
    CFLV_ScriptData* ScriptBody() const noexcept;
    // Attaches `newBody` (owned from now on). The tag type becomes `type`, unless the body's
    // name, compared without regard to case, is "Script Data" (18), "Audio Data" (8) or
    // "Video Data" (9).
    void SetBody(std::unique_ptr<CFlashObject> newBody, std::uint32_t type);

    // Tag time in ms: bits 0-23 from Timestamp, 24-31 from TimestampExtended.
    std::uint32_t Timestamp() const noexcept { return timestamp; }
    void SetTimestamp(std::uint32_t value) noexcept { timestamp = value; }
    // The header's DataSize as read (or as GetDataSize stored it).
    std::uint32_t TagDataSize() const noexcept { return tagDataSize; }

    // A new, empty body element for tag type 8, 9 or 18; null for any other type.
    static std::unique_ptr<CFlashObject> NewBody(std::uint32_t type);

  private:
    // Takes the fields of a header that was read.
    void TakeHeader(const FlvTagHeader& header);

    std::uint32_t tagType = kFlvScriptTag;
    std::unique_ptr<CFlashObject> body;
    std::uint32_t timestamp = 0;
    std::uint32_t tagDataSize = 0;
};
