#include "mediakit/FileRangeStream.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <utility>

#include "mediakit/ClassList.h"
#include "mediakit/Crc32.h"
#include "mediakit/ParamsFile.h"
#include "platform/ComObject.h"
#include "platform/ReadOnlyStream.h"

namespace mediakit {
namespace {

// The check of one range, shared by a stream and its clones.
class RangeCheck {
  public:
    explicit RangeCheck(std::uint32_t expected) : expected_(expected) {}

    // Before a read of the range at `position`: S_OK when the read may go on; the whole range is
    // checked first when the read is not the next one in order and the check is not done.
    HRESULT Before(const File& file, std::uint64_t offset, std::uint64_t size,
                   std::uint64_t position) {
        std::lock_guard guard(lock_);
        if (done_ || position == next_) return Result();
        // Out of order: the whole range, once.
        constexpr std::size_t kChunk = std::size_t{1} << 16;
        const std::unique_ptr<char[]> chunk(new char[kChunk]);
        std::uint32_t state = kCrc32Start;
        for (std::uint64_t at = 0; at < size;) {
            const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, size - at));
            std::size_t got = 0;
            if (!file.ReadAt(offset + at, chunk.get(), want, got)) return STG_E_READFAULT;
            if (got == 0) break;  // cut short: the check fails
            state = Crc32Update(state, chunk.get(), got);
            at += got;
        }
        Finish(state);
        return Result();
    }

    // After a read of `bytes` at `position` (in a range of `size` bytes): the check goes on
    // when they were the next ones, and ends at the end of the range.
    HRESULT After(const void* bytes, std::size_t count, std::uint64_t position,
                  std::uint64_t size) {
        std::lock_guard guard(lock_);
        if (!done_ && position == next_) {
            state_ = Crc32Update(state_, bytes, count);
            next_ += count;
            if (next_ == size || count == 0) Finish(state_);
        }
        return Result();
    }

  private:
    void Finish(std::uint32_t state) {
        done_ = true;
        good_ = Crc32Final(state) == expected_;
    }
    HRESULT Result() const { return done_ && !good_ ? kParamsFileDamaged : S_OK; }

    std::mutex lock_;
    std::uint32_t expected_;
    std::uint32_t state_ = kCrc32Start;
    std::uint64_t next_ = 0;  // the bytes before it were checked in order
    bool done_ = false;
    bool good_ = false;
};

class FileRangeStream final : public ComObject<FileRangeStream>, public ReadOnlyStream {
  public:
    COM_DELEGATING_IUNKNOWN
    explicit FileRangeStream(ComObjectArgs args) : ComObject(args) {}
    HRESULT InternalQueryInterface(REFIID riid, void** ppv) {
        return QueryInterfaceTable<IStream, ISequentialStream>(this, riid, ppv);
    }

    void Init(std::shared_ptr<const File> file, std::uint64_t offset, std::uint64_t size,
              std::shared_ptr<RangeCheck> check, std::uint64_t position) {
        file_ = std::move(file);
        check_ = std::move(check);
        offset_ = offset;
        size_ = size;
        position_.store(position, std::memory_order_relaxed);
    }

    HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG count, ULONG* read) override {
        if (read) *read = 0;
        if (buffer == nullptr && count > 0) return STG_E_INVALIDPOINTER;
        const std::uint64_t position = position_.load(std::memory_order_relaxed);
        const std::uint64_t available = position < size_ ? size_ - position : 0;
        const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(available, count));
        if (check_ && wanted > 0) {
            const HRESULT hr = check_->Before(*file_, offset_, size_, position);
            if (FAILED(hr)) return hr;
        }
        std::size_t got = 0;
        if (wanted > 0 && !file_->ReadAt(offset_ + position, buffer, wanted, got)) {
            return STG_E_READFAULT;
        }
        if (check_ && wanted > 0) {
            const HRESULT hr = check_->After(buffer, got, position, size_);
            if (FAILED(hr)) return hr;
        }
        position_.store(position + got, std::memory_order_relaxed);
        if (read) *read = static_cast<ULONG>(got);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Clone(IStream** copy) override {
        if (copy == nullptr) return STG_E_INVALIDPOINTER;
        *copy = nullptr;
        ComPtr<IStream> clone;
        const HRESULT hr = CreateObject<FileRangeStream>(clone);
        if (FAILED(hr)) return hr;
        static_cast<FileRangeStream*>(clone.Get())
            ->Init(file_, offset_, size_, check_, position_.load(std::memory_order_relaxed));
        *copy = clone.Detach();
        return S_OK;
    }

  private:
    std::shared_ptr<const File> file_;
    std::shared_ptr<RangeCheck> check_;  // none when the range was checked before
    std::uint64_t offset_ = 0;
};

}  // namespace

HRESULT CreateFileRangeStream(std::shared_ptr<const File> file, std::uint64_t offset,
                              std::uint64_t size, std::optional<std::uint32_t> checksum,
                              ComPtr<IStream>& stream) {
    if (!file) return E_POINTER;
    ComPtr<IStream> created;
    const HRESULT hr = CreateObject<FileRangeStream>(created);
    if (FAILED(hr)) return hr;
    auto check = checksum ? std::make_shared<RangeCheck>(*checksum) : nullptr;
    static_cast<FileRangeStream*>(created.Get())
        ->Init(std::move(file), offset, size, std::move(check), 0);
    stream = std::move(created);
    return S_OK;
}

}  // namespace mediakit
