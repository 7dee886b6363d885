#include "mediakit/PacketBlocks.h"

#include <mutex>
#include <new>
#include <vector>

namespace mediakit {
namespace {

// Below this the heap recycles blocks well by itself.
constexpr std::size_t kSmallestKept = 16 * 1024;
// Enough for the frames that a decoder, a stream object and a host hold at once.
constexpr std::size_t kMostBlocksKept = 16;
constexpr std::size_t kMostBytesKept = std::size_t{96} << 20;
// A kept block serves a request of at least this fraction of its capacity, so that a large
// frame's block is not spent on a small payload.
constexpr std::size_t kLargestWaste = 2;

struct KeptBlock {
    std::unique_ptr<BYTE[]> bytes;
    std::size_t capacity = 0;
};

class BlockShelf {
  public:
    BlockShelf() { blocks_.reserve(kMostBlocksKept); }

    std::unique_ptr<BYTE[]> Take(std::size_t size, std::size_t& capacity) {
        std::lock_guard<std::mutex> guard(lock_);
        std::size_t best = blocks_.size();
        for (std::size_t i = 0; i < blocks_.size(); ++i) {
            const std::size_t kept = blocks_[i].capacity;
            if (kept >= size && kept / kLargestWaste <= size &&
                (best == blocks_.size() || kept < blocks_[best].capacity)) {
                best = i;
            }
        }
        if (best == blocks_.size()) return nullptr;
        capacity = blocks_[best].capacity;
        std::unique_ptr<BYTE[]> block = std::move(blocks_[best].bytes);
        keptBytes_ -= capacity;
        blocks_[best] = std::move(blocks_.back());
        blocks_.pop_back();
        return block;
    }

    // False when the block is not kept (the caller frees it).
    bool Put(std::unique_ptr<BYTE[]>& block, std::size_t capacity) {
        std::lock_guard<std::mutex> guard(lock_);
        if (blocks_.size() >= kMostBlocksKept || capacity > kMostBytesKept - keptBytes_) {
            return false;
        }
        blocks_.push_back({std::move(block), capacity});
        keptBytes_ += capacity;
        return true;
    }

  private:
    std::mutex lock_;
    std::vector<KeptBlock> blocks_;
    std::size_t keptBytes_ = 0;
};

// Never destroyed: packets may be released while the process exits.
BlockShelf& Shelf() noexcept {
    static BlockShelf* const shelf = new BlockShelf();
    return *shelf;
}

}  // namespace

std::unique_ptr<BYTE[]> TakePacketBlock(std::size_t size, std::size_t& capacity) noexcept {
    if (size >= kSmallestKept) {
        if (std::unique_ptr<BYTE[]> kept = Shelf().Take(size, capacity)) return kept;
    }
    std::unique_ptr<BYTE[]> fresh(new (std::nothrow) BYTE[size]);
    if (fresh) capacity = size;
    return fresh;
}

void ReturnPacketBlock(std::unique_ptr<BYTE[]> block, std::size_t capacity) noexcept {
    if (!block || capacity < kSmallestKept) return;
    (void)Shelf().Put(block, capacity);
}

}  // namespace mediakit
