// The last part of an audio or video tag body, shared by both body classes: a sequence header
// is copied into the body's codec extra data (by Read and Scan alike), any other payload goes
// into a new packet on Read and is stepped over on Scan.
#pragma once

#include <cstdint>

#include "flv/ExtraData.h"
#include "flv/TagLayout.h"
#include "platform/ComPtr.h"

template <class Packet>
[[nodiscard]] bool TakeFlvBodyPayload(CInputStream& input, std::uint32_t count, bool sequenceHeader,
                                      bool keepPayload, CExtraData& extra, ComPtr<Packet>& packet) {
    if (sequenceHeader) return extra.Load(input, count);
    if (keepPayload) return input.ReadPayload(packet, count);
    return FlvStepOver(input, count);
}
