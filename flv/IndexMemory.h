// Room for index entries. The index of a long file runs to megabytes, and the first touch of
// each fresh memory page is the largest cost of building it; where the system offers large
// pages, a large index block asks for them, and takes one fault where it took hundreds. Large
// blocks are therefore placed on large-page boundaries, so that all of them but a tail shorter
// than one large page can be served so.
#pragma once

#include <cstddef>
#include <new>

class IndexArray;

// The allocator of index blocks: blocks from kLargeIndexBlock bytes on start on a large-page
// boundary and ask for large pages (platform/LargePages.h); smaller ones are plain.
constexpr std::size_t kLargeIndexBlock = std::size_t{2} << 20;
void* AllocateIndexBlock(std::size_t bytes);
void FreeIndexBlock(void* block, std::size_t bytes) noexcept;

template <class T>
struct IndexAllocator {
    using value_type = T;
    IndexAllocator() = default;
    template <class U>
    IndexAllocator(const IndexAllocator<U>&) noexcept {}
    T* allocate(std::size_t count) {
        if (count > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
        return static_cast<T*>(AllocateIndexBlock(count * sizeof(T)));
    }
    void deallocate(T* block, std::size_t count) noexcept {
        FreeIndexBlock(block, count * sizeof(T));
    }
    template <class U>
    friend bool operator==(const IndexAllocator&, const IndexAllocator<U>&) noexcept {
        return true;
    }
};

// IndexArray::reserve(capacity). May throw std::bad_alloc.
void ReserveIndex(IndexArray& index, std::size_t capacity);
