// fuzz_walk: CFLV_Manager's walk over an arbitrary file, and the walk that extends the index when
// the file grows.
//
// The input is the whole file. The file first holds only a prefix of it, whose length the last
// two bytes choose (little-endian, modulo the bytes after the first tag's offset), so that the
// cut falls anywhere in a tag; BuildIndex walks the prefix, the rest is appended and
// RefreshIndex walks on, and a second RefreshIndex with nothing appended must change nothing.
// Both indexes and the codec extra data must then equal those of one walk over the whole file.
#include <optional>

#include "fuzz/FuzzSupport.h"

namespace {
constexpr std::size_t kFirstTag = CFLV_Header::kFirstTagOffset;

// Opens the file with the cursor on the first tag, as the openers leave it, also when the file
// ends there.
void OpenAtFirstTag(const MemoryFile& file, CInputStream& input) {
    file.Open(input);
    if (!input.SeekTo(kFirstTag)) {
        (void)input.SeekTo(0);
        (void)input.SkipBytes(kFirstTag);
    }
}

std::optional<std::string> Extra(const std::unique_ptr<CExtraData>& extra) {
    if (!extra) return std::nullopt;
    if (extra->Length() == 0) return std::string();
    return std::string(reinterpret_cast<const char*>(extra->Data()), extra->Length());
}
}  // namespace

int FuzzWalk(const std::uint8_t* data, std::size_t size) {
    static MemoryFile file;
    std::size_t cut = size;
    if (size >= kFirstTag + 2) {
        const std::size_t chooser = data[size - 2] | (std::size_t{data[size - 1]} << 8);
        cut = kFirstTag + chooser % (size - kFirstTag + 1);
    }
    file.Assign(data, cut);
    CInputStream growing;
    OpenAtFirstTag(file, growing);
    CFLV_Manager grown;
    grown.BuildIndex(nullptr, growing);

    file.Append(data + cut, size - cut);
    FUZZ_CHECK(growing.RefreshSize());
    grown.RefreshIndex(nullptr, growing);
    const std::vector<IndexEntry> video = grown.videoIndex.ToVector();
    const std::vector<IndexEntry> audio = grown.audioIndex.ToVector();
    grown.RefreshIndex(nullptr, growing);
    FUZZ_CHECK(grown.videoIndex == video && grown.audioIndex == audio);

    CInputStream whole;
    OpenAtFirstTag(file, whole);
    CFLV_Manager walked;
    walked.BuildIndex(nullptr, whole);
    FUZZ_CHECK(grown.videoIndex == walked.videoIndex && grown.audioIndex == walked.audioIndex);
    FUZZ_CHECK(Extra(grown.videoExtra) == Extra(walked.videoExtra));
    FUZZ_CHECK(Extra(grown.audioExtra) == Extra(walked.audioExtra));
    FUZZ_CHECK(walked.facts.videoFrameCount == walked.videoIndex.size());
    return 0;
}
