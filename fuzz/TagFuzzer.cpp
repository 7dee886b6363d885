// fuzz_tag: CFLV_TemplateData reading tags completely (payload into packets), as the stream
// objects do.
//
// The input is a whole file. After a walk, the tag at every indexed position (at most
// kMaxIndexed of each kind) must read completely, be of its index's kind and carry the indexed
// time; a copy made by Clone must write the same bytes as the tag. Then tags are read one after
// the other with Read, and with Scan, from offset 13 (the first tag) and from offset 0 (the file
// header taken as a tag), each followed by its PreviousTagSize.
#include <algorithm>

#include "flv/AudioData.h"
#include "flv/TemplateData.h"
#include "flv/VideoData.h"
#include "fuzz/FuzzSupport.h"
#include "io/OutputStream.h"

namespace {
constexpr std::size_t kMaxIndexed = 256;
constexpr std::size_t kMaxSequential = 1024;

std::string Written(CFlashObject& element) {
    COutputStream output;
    element.Write(output);
    return std::string(reinterpret_cast<const char*>(output.Data()), output.Position());
}

void ReadIndexed(CInputStream& input, const IndexArray& index, bool video) {
    for (std::size_t i = 0; i < index.size() && i < kMaxIndexed; ++i) {
        const IndexEntry& entry = index[i];
        FUZZ_CHECK(input.SeekTo(entry.position));
        CFLV_TemplateData tag;
        FUZZ_CHECK(tag.Read(input));
        if (video) {
            const CFLV_VideoData* body = tag.VideoBody();
            FUZZ_CHECK(body != nullptr);
            const std::int64_t time = std::int64_t{tag.Timestamp()} + body->CompositionTime();
            FUZZ_CHECK(entry.time == static_cast<std::uint64_t>(std::max<std::int64_t>(time, 0)));
            FUZZ_CHECK(entry.frameType == body->FrameType());
            FUZZ_CHECK(body->Payload() != nullptr || body->PayloadSize() == 0);
        } else {
            FUZZ_CHECK(tag.AudioBody() != nullptr);
            FUZZ_CHECK(entry.time == tag.Timestamp());
        }
        FUZZ_CHECK(Written(*tag.Clone()) == Written(tag));
    }
}

void ReadSequentially(CInputStream& input, std::uint64_t start, bool scan) {
    if (!input.SeekTo(start)) return;
    for (std::size_t i = 0; i < kMaxSequential; ++i) {
        const std::uint64_t before = input.Tell();
        CFLV_TemplateData tag;
        if (!(scan ? tag.Scan(input) : tag.Read(input))) break;
        // A tag that was taken has all its bytes in the file, header and body.
        FUZZ_CHECK(input.Tell() == before + 11 + tag.TagDataSize());
        std::uint32_t previousTagSize = 0;
        if (!input.ReadValue(previousTagSize, FieldType::UI32)) break;
    }
}
}  // namespace

int FuzzTag(const std::uint8_t* data, std::size_t size) {
    static MemoryFile file;
    RegisterMediaKit();
    file.Assign(data, size);
    CInputStream input;
    file.Open(input);

    if (input.SeekTo(CFLV_Header::kFirstTagOffset)) {
        CFLV_Manager manager;
        manager.BuildIndex(nullptr, input);
        ReadIndexed(input, manager.videoIndex, true);
        ReadIndexed(input, manager.audioIndex, false);
    }
    for (const bool scan : {false, true}) {
        ReadSequentially(input, CFLV_Header::kFirstTagOffset, scan);
        ReadSequentially(input, 0, scan);
    }
    return 0;
}
