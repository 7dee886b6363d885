#include "flv/IndexArray.h"

#include <algorithm>
#include <utility>

IndexArray::IndexArray(const std::vector<IndexEntry>& entries)
    : entries_(std::make_shared<IndexStorage>(entries.begin(), entries.end())) {}

const IndexStorage& IndexArray::Entries() const noexcept {
    static const IndexStorage kNone;
    return entries_ ? *entries_ : kNone;
}

IndexStorage& IndexArray::Own() {
    if (!entries_) {
        entries_ = std::make_shared<IndexStorage>();
    } else if (entries_.use_count() > 1) {
        auto copy = std::make_shared<IndexStorage>();
        copy->reserve(entries_->capacity());
        copy->assign(entries_->begin(), entries_->end());
        entries_ = std::move(copy);
    }
    return *entries_;
}

void IndexArray::reserve(std::size_t capacity) {
    if (capacity <= this->capacity() && entries_ && entries_.use_count() == 1) return;
    if (entries_ && entries_.use_count() > 1) {
        // One block of the size asked for, instead of a copy and then a larger block.
        auto copy = std::make_shared<IndexStorage>();
        copy->reserve(std::max(capacity, entries_->size()));
        copy->assign(entries_->begin(), entries_->end());
        entries_ = std::move(copy);
        return;
    }
    Own().reserve(capacity);
}

void IndexArray::clear() noexcept {
    if (entries_ && entries_.use_count() == 1) {
        entries_->clear();
    } else {
        entries_.reset();
    }
}

void IndexArray::Append(const IndexArray& other) {
    if (other.empty()) return;
    if (empty()) {
        entries_ = other.entries_;
        return;
    }
    // Records appended to themselves are copied out first: the block may move as it grows.
    const IndexArray source = other;
    IndexStorage& own = Own();
    own.insert(own.end(), source.begin(), source.end());
}
