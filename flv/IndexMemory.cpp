#include "flv/IndexMemory.h"

#include "platform/LargePages.h"

void ReserveIndex(std::vector<IndexEntry>& index, std::size_t capacity) {
    if (capacity <= index.capacity()) return;
    index.reserve(capacity);
    AdviseLargePages(index.data(), index.capacity() * sizeof(IndexEntry));
}
