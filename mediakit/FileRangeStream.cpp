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

class FileRangeStream final : public ComObject<FileRangeStream>, public IStream {
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

    HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG* written) override {
        if (written) *written = 0;
        return STG_E_ACCESSDENIED;
    }

    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin,
                                   ULARGE_INTEGER* newPosition) override {
        HRESULT hr = S_OK;
        LONGLONG base = 0;
        LONGLONG target = 0;
        switch (origin) {
            case STREAM_SEEK_SET:
                break;
            case STREAM_SEEK_CUR:
                base = static_cast<LONGLONG>(position_.load(std::memory_order_relaxed));
                break;
            case STREAM_SEEK_END:
                base = static_cast<LONGLONG>(size_);
                break;
            default:
                hr = STG_E_SEEKERROR;
                break;
        }
        if (SUCCEEDED(hr) && (__builtin_add_overflow(base, move.QuadPart, &target) || target < 0)) {
            hr = STG_E_SEEKERROR;
        }
        if (SUCCEEDED(hr)) position_.store(static_cast<std::uint64_t>(target));
        // A failed seek reports the position it left unchanged.
        if (newPosition) newPosition->QuadPart = position_.load(std::memory_order_relaxed);
        return hr;
    }

    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return STG_E_ACCESSDENIED; }

    HRESULT STDMETHODCALLTYPE CopyTo(IStream* target, ULARGE_INTEGER count, ULARGE_INTEGER* read,
                                     ULARGE_INTEGER* written) override {
        if (read) read->QuadPart = 0;
        if (written) written->QuadPart = 0;
        if (target == nullptr) return STG_E_INVALIDPOINTER;
        BYTE chunk[65536];
        ULONGLONG left = count.QuadPart;
        while (left > 0) {
            ULONG got = 0;
            const ULONG want = static_cast<ULONG>(std::min<ULONGLONG>(left, sizeof chunk));
            HRESULT hr = Read(chunk, want, &got);
            if (FAILED(hr)) return hr;
            if (got == 0) break;
            if (read) read->QuadPart += got;
            ULONG put = 0;
            hr = target->Write(chunk, got, &put);
            if (written) written->QuadPart += put;
            if (FAILED(hr)) return hr;
            left -= got;
        }
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }

    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD) override {
        if (stat == nullptr) return STG_E_INVALIDPOINTER;
        std::memset(stat, 0, sizeof *stat);
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = size_;
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
    std::uint64_t size_ = 0;
    // One stream object may be used from several threads; the position is its only state.
    std::atomic<std::uint64_t> position_{0};
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
