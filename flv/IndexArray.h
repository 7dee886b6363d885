// IndexArray: one stream's index, IndexEntry records in file order, with the read side of a
// std::vector. Copies share the records: a stored index decoded once serves the source object and
// each of its stream objects without a copy per object. A change to an array whose records are
// shared first takes a copy of its own (copy on write), so an owner never sees another owner's
// changes; an array that is the only holder of its records changes them in place.
//
// Threads: arrays that share records may be read on different threads at once. Each array is
// changed only by its owner, under the owner's lock; sharing is only ever added by copying an
// array that already holds the records, so an owner that finds itself the only holder stays so
// while it changes them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

#include "flv/IndexEntry.h"
#include "flv/IndexMemory.h"

// The records of an index, in blocks of the index allocator (flv/IndexMemory.h).
using IndexStorage = std::vector<IndexEntry, IndexAllocator<IndexEntry>>;

class IndexArray {
  public:
    using value_type = IndexEntry;
    using size_type = std::size_t;
    using const_iterator = const IndexEntry*;
    using iterator = const_iterator;

    IndexArray() = default;
    // A copy of `entries`.
    explicit IndexArray(const std::vector<IndexEntry>& entries);

    // Read side, as std::vector's.
    std::size_t size() const noexcept { return entries_ ? entries_->size() : 0; }
    bool empty() const noexcept { return size() == 0; }
    std::size_t capacity() const noexcept { return entries_ ? entries_->capacity() : 0; }
    const IndexEntry* data() const noexcept { return entries_ ? entries_->data() : nullptr; }
    const IndexEntry& operator[](std::size_t index) const noexcept { return (*entries_)[index]; }
    const IndexEntry& front() const noexcept { return entries_->front(); }
    const IndexEntry& back() const noexcept { return entries_->back(); }
    const_iterator begin() const noexcept { return data(); }
    const_iterator end() const noexcept { return data() + size(); }
    const IndexStorage& Entries() const noexcept;
    // A copy of the records as a plain vector.
    std::vector<IndexEntry> ToVector() const { return {begin(), end()}; }

    // Write side: each makes the records this array's own first (the copy keeps room for at least
    // what the shared records had).
    void push_back(const IndexEntry& entry) {
        if (entries_ && entries_.use_count() == 1) {
            entries_->push_back(entry);
        } else {
            Own().push_back(entry);
        }
    }
    void reserve(std::size_t capacity);
    // Empty. Shared records are let go (nothing is copied); records of its own keep their room.
    void clear() noexcept;
    // The records, this array's own, to change in place.
    IndexStorage& Own();
    // Appends the records of `other`: shares them when this array is empty, else copies them.
    void Append(const IndexArray& other);

    // Whether the two arrays hold the same records (not only equal ones).
    bool SharesWith(const IndexArray& other) const noexcept {
        return entries_ != nullptr && entries_ == other.entries_;
    }

    friend bool operator==(const IndexArray& a, const IndexArray& b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end());
    }
    friend bool operator==(const IndexArray& a, const std::vector<IndexEntry>& b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end());
    }

  private:
    std::shared_ptr<IndexStorage> entries_;
};
