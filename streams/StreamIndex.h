// The index a stream object's open works from, shared by the video and audio stream objects.
#pragma once

#include "flv/Manager.h"
#include "io/InputStream.h"
#include "mediakit/MediaInterfaces.h"

enum class StreamKind { kVideo, kAudio };

// Builds `manager`'s indexes for an open with `params` (the host's container; not null), with
// `input` standing at the first tag:
//  - from the stored index under "FLVSettings" when the container holds one;
//  - else from the cache entry of "FileHash" for `kind`, when the hash is a plain file name and
//    the entry loads;
//  - else by walking the file, and then, when the hash is usable and the file has a stream of
//    `kind`, the index is saved as that cache entry (replacing a damaged one).
// A stored index whose stream is found damaged as it is read (CFLV_Manager::StoredIndexUnusable)
// counts as none: `manager` starts over and walks the file.
// May throw std::bad_alloc.
void BuildStreamIndex(IMediaParams* params, CInputStream& input, CFLV_Manager& manager,
                      StreamKind kind);
