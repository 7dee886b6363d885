// ConfigChange: a codec configuration met later in a stream (an AVC or AAC sequence header that
// differs from the one in effect before it, as when an encoder restarts inside a recording).
// Sequence headers are not index entries; a stream object applies the latest change that lies
// before the record it feeds (LatestConfigChangeBefore), reading its bytes from the file.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

struct ConfigChange {
    // File offset of the sequence header tag's first byte (its TagType).
    std::uint64_t position = 0;
    // FNV-1a hash of the configuration bytes: tells a later sequence header from this one
    // without keeping or reading the bytes again.
    std::uint64_t hash = 0;

    friend bool operator==(const ConfigChange&, const ConfigChange&) = default;
};

// The last change of `changes` (in file order) that lies before the tag at `position`; -1 when
// none does (the stream's first configuration is in effect).
inline std::ptrdiff_t LatestConfigChangeBefore(const std::vector<ConfigChange>& changes,
                                               std::uint64_t position) noexcept {
    const auto after = std::lower_bound(
        changes.begin(), changes.end(), position,
        [](const ConfigChange& change, std::uint64_t at) { return change.position < at; });
    return (after - changes.begin()) - 1;
}
