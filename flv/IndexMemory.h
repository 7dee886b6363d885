// Room for index entries. The index of a long file runs to megabytes, and the first touch of
// each fresh memory page is the largest cost of building it; where the system offers large
// pages, a large index block asks for them, and takes one fault where it took hundreds.
#pragma once

#include <cstddef>
#include <vector>

#include "flv/IndexEntry.h"

// std::vector::reserve(capacity), then the advice for the new block. May throw std::bad_alloc.
void ReserveIndex(std::vector<IndexEntry>& index, std::size_t capacity);
