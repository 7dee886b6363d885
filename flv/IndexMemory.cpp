#include "flv/IndexMemory.h"

#include "flv/IndexArray.h"
#include "platform/LargePages.h"

void* AllocateIndexBlock(std::size_t bytes) {
    if (bytes < kLargeIndexBlock) return ::operator new(bytes);
    void* block = ::operator new (bytes, std::align_val_t{kLargeIndexBlock});
    AdviseLargePages(block, bytes);
    return block;
}

void FreeIndexBlock(void* block, std::size_t bytes) noexcept {
    if (bytes < kLargeIndexBlock) {
        ::operator delete(block);
    } else {
        ::operator delete (block, std::align_val_t{kLargeIndexBlock});
    }
}

void ReserveIndex(IndexArray& index, std::size_t capacity) {
    if (capacity <= index.capacity()) return;
    index.reserve(capacity);
}
