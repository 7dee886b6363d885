// CExtraData: the holder of one owned byte block (codec configuration bytes such as an AVC or
// AAC sequence header). Copies are deep, so either copy can be destroyed first.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/Types.h"

class CInputStream;

class CExtraData {
  public:
    CExtraData() = default;

    const BYTE* Data() const noexcept { return bytes.empty() ? nullptr : bytes.data(); }
    std::uint64_t Length() const noexcept { return bytes.size(); }
    bool Empty() const noexcept { return bytes.empty(); }

    // Replaces the block with a copy of `count` bytes (none when `source` is null).
    void Assign(const BYTE* source, std::uint64_t count);
    // Frees the block; the length becomes 0.
    void Clear() noexcept;
    // Replaces the block with the `count` bytes at the input's cursor. Nothing is allocated
    // and the block is unchanged unless all the bytes are there.
    [[nodiscard]] bool Load(CInputStream& input, std::uint64_t count);

  private:
    std::vector<BYTE> bytes;
};
