// fuzz_walk: CFLV_Manager's walk over an arbitrary file, and the walk that extends the index when
// the file grows.
//
// The input is the whole file. The file first holds only a prefix of it, whose length the last
// two bytes choose (little-endian, modulo the bytes after the first tag's offset), so that the
// cut falls anywhere in a tag; BuildIndex walks the prefix, the rest is appended and
// RefreshIndex walks on, and a second RefreshIndex with nothing appended must change nothing.
// Both indexes and the codec extra data must then equal those of one walk over the whole file.
#include <cstdint>
#include <vector>

#include "flv/Header.h"
#include "flv/Manager.h"
#include "fuzz/FuzzSupport.h"
#include "fuzz/FuzzTargets.h"

namespace {
// Puts the cursor on the first tag, as the openers leave it, also when the file ends there.
void StartAtFirstTag(CInputStream& input) {
    if (!input.SeekTo(CFLV_Header::kFirstTagOffset)) {
        (void)input.SeekTo(0);
        (void)input.SkipBytes(CFLV_Header::kFirstTagOffset);
    }
}

bool SameExtra(const std::unique_ptr<CExtraData>& left, const std::unique_ptr<CExtraData>& right) {
    if (!left || !right) return !left && !right;
    return left->Length() == right->Length() &&
           (left->Length() == 0 ||
            std::equal(left->Data(), left->Data() + left->Length(), right->Data()));
}

std::size_t CutPoint(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kFirstTag = CFLV_Header::kFirstTagOffset;
    if (size < kFirstTag + 2) return size;
    const std::size_t chooser = data[size - 2] | (std::size_t{data[size - 1]} << 8);
    return kFirstTag + chooser % (size - kFirstTag + 1);
}
}  // namespace

int FuzzWalk(const std::uint8_t* data, std::size_t size) {
    static MemoryFile file;
    const std::size_t cut = CutPoint(data, size);

    file.Assign(data, cut);
    CInputStream growing;
    growing.Open(file.Path());
    FUZZ_CHECK(growing.IsOpen());
    StartAtFirstTag(growing);
    CFLV_Manager grown;
    grown.BuildIndex(nullptr, growing);

    file.Append(data + cut, size - cut);
    FUZZ_CHECK(growing.RefreshSize());
    grown.RefreshIndex(nullptr, growing);
    const std::vector<IndexEntry> videoAfterRefresh = grown.videoIndex;
    const std::vector<IndexEntry> audioAfterRefresh = grown.audioIndex;
    grown.RefreshIndex(nullptr, growing);
    FUZZ_CHECK(grown.videoIndex == videoAfterRefresh && grown.audioIndex == audioAfterRefresh);

    CInputStream whole;
    whole.Open(file.Path());
    StartAtFirstTag(whole);
    CFLV_Manager walked;
    walked.BuildIndex(nullptr, whole);

    FUZZ_CHECK(grown.videoIndex == walked.videoIndex);
    FUZZ_CHECK(grown.audioIndex == walked.audioIndex);
    FUZZ_CHECK(SameExtra(grown.videoExtra, walked.videoExtra));
    FUZZ_CHECK(SameExtra(grown.audioExtra, walked.audioExtra));
    FUZZ_CHECK(walked.facts.videoFrameCount == walked.videoIndex.size());
    return 0;
}
