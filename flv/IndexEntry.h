// IndexEntry: one indexed tag of a stream, as the manager's walk or a stored index gives it.
#pragma once

#include <cstdint>

struct IndexEntry {
    // File offset of the tag's first byte (its TagType).
    std::uint64_t position = 0;
    // Milliseconds. Video: tag time + composition time, never below 0. Audio: tag time.
    std::uint64_t time = 0;
    // Video: FrameType as read (1 key, 2 inter, 3 disposable inter). Audio: always 2.
    std::uint32_t frameType = 0;

    friend bool operator==(const IndexEntry&, const IndexEntry&) = default;
};
