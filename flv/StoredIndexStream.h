// A read-only stream whose bytes are the stored index stream (flv/StoredIndex.h) of an index
// held in memory, made as they are read rather than kept. It takes the place, in a parameter
// container, of the stream that an index was read from or written to, so that the index, once
// decoded, is neither held twice nor decoded again: this component's objects that find one in a
// container take its records as they are (StoredIndexContentOf), sharing them, and anything else
// (a host that reads the container, a save of it to a file) reads the very bytes of the stream it
// replaced.
//
// Reads past the end read fewer bytes (S_OK); Write and SetSize are STG_E_ACCESSDENIED; seeks
// behave as the memory stream's (platform/MemoryStream.h); clones share the content, each with
// its own position.
#pragma once

#include <cstdint>
#include <memory>

#include "flv/ExtraData.h"
#include "flv/IndexArray.h"
#include "platform/ComObject.h"
#include "platform/ComPtr.h"
#include "platform/MemoryStream.h"

// What a stored index stream holds, decoded: the stream is WriteStoredIndex(videoExtra,
// audioExtra, entries, kind).
struct StoredIndexContent {
    CExtraData videoExtra;   // the V bytes
    CExtraData audioExtra;   // the A bytes
    IndexArray entries;      // the records, in order, all of one kind
    std::uint32_t kind = 0;  // kStoredVideoKind or kStoredAudioKind
};

// A stream over `content`, locking `module` (the module whose code it runs) while it lives: a
// container may keep it after every other object of the module is gone. E_INVALIDARG when the
// content cannot be written as a stored index (extra data or a record count beyond their 32-bit
// fields).
HRESULT CreateStoredIndexStream(std::shared_ptr<const StoredIndexContent> content,
                                ComModule* module, ComPtr<IStream>& stream) noexcept;

// The content of a stream that CreateStoredIndexStream made; null for any other stream.
std::shared_ptr<const StoredIndexContent> StoredIndexContentOf(IStream* stream) noexcept;
