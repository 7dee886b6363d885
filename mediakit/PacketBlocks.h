// Recycled packet blocks. Decoded frames and PCM blocks are made for every frame and released
// by their user soon after; the next packet of a similar size takes a released block instead of
// fresh pages from the system, whose first touch costs far more than filling them. Small
// blocks are left to the heap, and what is kept is bounded in count and bytes.
//
// Thread-safe: packets are released on whatever thread their last user runs.
#pragma once

#include <cstddef>
#include <memory>

#include "platform/Types.h"

namespace mediakit {

// A block of at least `size` bytes whose contents are unspecified, and its capacity: a kept
// block when one fits, else a new one. Null when out of memory.
std::unique_ptr<BYTE[]> TakePacketBlock(std::size_t size, std::size_t& capacity) noexcept;
// Hands a block of `capacity` bytes back for a later TakePacketBlock, or frees it.
void ReturnPacketBlock(std::unique_ptr<BYTE[]> block, std::size_t capacity) noexcept;

}  // namespace mediakit
