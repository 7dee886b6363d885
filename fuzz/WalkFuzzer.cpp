// fuzz_walk: CFLV_Manager's walk over an arbitrary file, and the walk that extends the index when
// the file grows.
//
// The input is the whole file. The file first holds only a prefix of it, whose length the last
// two bytes choose (little-endian, modulo the bytes after the first tag's offset), so that the
// cut falls anywhere in a tag; BuildIndex walks the prefix, the rest is appended and
// RefreshIndex walks on, and a second RefreshIndex with nothing appended must change nothing.
// Both indexes and the codec extra data must then equal those of one walk over the whole file,
// except where damage makes the two walks differ by design (flv/TagSearch.h):
//  - the walk of the prefix took in the tag whose PreviousTagSize the cut split; in the whole
//    file that value is wrong and no tag header follows, so the whole walk takes nothing from
//    the tag. Its entry (and codec extra data) may stay in the grown index;
//  - a confirmed tag start lies inside the body of a tag that the whole walk may take or stop at:
//    the prefix walk, for which that tag ran past the end of the file, may have stepped over to
//    the inner start. Only junk made to hold tags inside tags does this.
#include <algorithm>
#include <optional>
#include <vector>

#include "flv/TagSearch.h"
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

std::uint32_t BigEndian(const std::uint8_t* bytes, unsigned count) {
    std::uint32_t value = 0;
    for (unsigned i = 0; i < count; ++i) value = (value << 8) | bytes[i];
    return value;
}

// The second exception above: a confirmed tag start inside the body or PreviousTagSize of a tag
// X that the walk of the whole file may take or stop at: TagType 8, 9 or 18 and the body in the
// file, unless its PreviousTagSize is wrong and bytes that are no tag header follow it.
bool HasNestedTagStart(const std::uint8_t* data, std::size_t size, CInputStream& input) {
    CFLV_TagSearch search(input);
    std::vector<std::uint64_t> confirmed;
    for (std::uint64_t at = kFirstTag; at < size; ++at) {
        if (search.ConfirmedAt(at)) confirmed.push_back(at);
    }
    for (std::uint64_t at = kFirstTag; at + 11 <= size; ++at) {
        if (!IsFlvBodyTag(data[at])) continue;
        const std::uint64_t bodyEnd = at + 11 + BigEndian(data + at + 1, 3);
        if (bodyEnd > size) continue;
        const std::uint64_t next = bodyEnd + 4;
        if (next <= size && BigEndian(data + bodyEnd, 4) != bodyEnd - at &&
            search.HeaderAt(next) == CFLV_TagSearch::Verdict::kNotTag) {
            continue;
        }
        const auto inner = std::upper_bound(confirmed.begin(), confirmed.end(), at);
        if (inner != confirmed.end() && *inner < next) return true;
    }
    return false;
}

// Removes from `index` the entry at `position` unless `reference` holds one there too.
void DropUnlessIn(std::vector<IndexEntry>& index, const IndexArray& reference,
                  std::uint64_t position) {
    const auto at = [position](const IndexEntry& entry) { return entry.position == position; };
    if (std::none_of(reference.begin(), reference.end(), at)) {
        index.erase(std::remove_if(index.begin(), index.end(), at), index.end());
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
    // Where the prefix walk ended, and whether the cut split that tag's PreviousTagSize.
    const std::uint64_t cutTag = grown.resumeOffset;
    bool cutInPreviousTagSize = false;
    if (cutTag + 11 <= cut && IsFlvBodyTag(data[cutTag])) {
        const std::uint64_t bodyEnd = cutTag + 11 + BigEndian(data + cutTag + 1, 3);
        cutInPreviousTagSize = bodyEnd <= cut && cut < bodyEnd + 4;
    }

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
    FUZZ_CHECK(walked.facts.videoFrameCount == walked.videoIndex.size());
    std::vector<IndexEntry> grownVideo = grown.videoIndex.ToVector();
    std::vector<IndexEntry> grownAudio = grown.audioIndex.ToVector();
    if (cutInPreviousTagSize) {
        DropUnlessIn(grownVideo, walked.videoIndex, cutTag);
        DropUnlessIn(grownAudio, walked.audioIndex, cutTag);
    }
    const bool same = grownVideo == walked.videoIndex && grownAudio == walked.audioIndex;
    const bool sameExtra = Extra(grown.videoExtra) == Extra(walked.videoExtra) &&
                           Extra(grown.audioExtra) == Extra(walked.audioExtra);
    FUZZ_CHECK((same && (sameExtra || cutInPreviousTagSize)) ||
               HasNestedTagStart(data, size, whole));
    return 0;
}
