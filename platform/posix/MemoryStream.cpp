#include "platform/MemoryStream.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "platform/ComObject.h"
#include "platform/LargePages.h"
#include "platform/ReadOnlyStream.h"

namespace {
// The largest stream, as an HGLOBAL block can hold.
constexpr ULONGLONG kMaxSize = 0xFFFFFFFFu;
// Streams from this size on ask for large pages (platform/LargePages.h).
constexpr std::size_t kLargeBlock = std::size_t{4} << 20;

// The bytes of a memory stream; clones share them, each with its own seek position.
struct SharedBlock {
    std::mutex lock;
    std::vector<BYTE> bytes;
};

class MemoryStream final : public ComObject<MemoryStream>, public IStream {
  public:
    COM_DELEGATING_IUNKNOWN
    explicit MemoryStream(ComObjectArgs args) : ComObject(args) {}

    HRESULT FinalConstruct() {
        if (!block_) block_ = std::make_shared<SharedBlock>();
        return S_OK;
    }
    HRESULT InternalQueryInterface(REFIID riid, void** ppv) {
        return QueryInterfaceTable<IStream, ISequentialStream>(this, riid, ppv);
    }
    void ShareWith(const MemoryStream& other, ULONGLONG position) {
        block_ = other.block_;
        position_ = position;
    }

    HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG count, ULONG* read) override {
        if (read) *read = 0;
        if (buffer == nullptr && count > 0) return STG_E_INVALIDPOINTER;
        std::lock_guard guard(block_->lock);
        const ULONGLONG size = block_->bytes.size();
        const ULONGLONG available = position_ < size ? size - position_ : 0;
        const ULONG n = static_cast<ULONG>(available < count ? available : count);
        if (n > 0) std::memcpy(buffer, block_->bytes.data() + position_, n);
        position_ += n;
        if (read) *read = n;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Write(const void* buffer, ULONG count, ULONG* written) override {
        if (written) *written = 0;
        if (buffer == nullptr && count > 0) return STG_E_INVALIDPOINTER;
        std::lock_guard guard(block_->lock);
        if (position_ > kMaxSize || count > kMaxSize - position_) return E_OUTOFMEMORY;
        const ULONGLONG end = position_ + count;
        if (end > block_->bytes.size() && !Resize(end)) return E_OUTOFMEMORY;
        if (count > 0) std::memcpy(block_->bytes.data() + position_, buffer, count);
        position_ = end;
        if (written) *written = count;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin,
                                   ULARGE_INTEGER* newPosition) override {
        std::lock_guard guard(block_->lock);
        HRESULT hr = S_OK;
        LONGLONG base = 0;
        LONGLONG target = 0;
        switch (origin) {
            case STREAM_SEEK_SET:
                base = 0;
                break;
            case STREAM_SEEK_CUR:
                base = static_cast<LONGLONG>(position_);
                break;
            case STREAM_SEEK_END:
                base = static_cast<LONGLONG>(block_->bytes.size());
                break;
            default:
                hr = STG_E_SEEKERROR;
                break;
        }
        if (SUCCEEDED(hr) && (__builtin_add_overflow(base, move.QuadPart, &target) || target < 0)) {
            hr = STG_E_SEEKERROR;
        }
        if (SUCCEEDED(hr)) position_ = static_cast<ULONGLONG>(target);
        // A failed seek reports the position it left unchanged.
        if (newPosition) newPosition->QuadPart = position_;
        return hr;
    }

    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER newSize) override {
        std::lock_guard guard(block_->lock);
        return Resize(newSize.QuadPart) ? S_OK : E_OUTOFMEMORY;
    }

    HRESULT STDMETHODCALLTYPE CopyTo(IStream* target, ULARGE_INTEGER count, ULARGE_INTEGER* read,
                                     ULARGE_INTEGER* written) override {
        return CopyByReading(*this, target, count, read, written);
    }

    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }

    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD /*flags*/) override {
        if (stat == nullptr) return STG_E_INVALIDPOINTER;
        std::memset(stat, 0, sizeof *stat);
        stat->type = STGTY_STREAM;
        std::lock_guard guard(block_->lock);
        stat->cbSize.QuadPart = block_->bytes.size();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Clone(IStream** copy) override {
        if (copy == nullptr) return STG_E_INVALIDPOINTER;
        *copy = nullptr;
        ComPtr<IStream> clone;
        HRESULT hr = ComObject<MemoryStream>::Create(nullptr, clone);
        if (FAILED(hr)) return hr;
        static_cast<MemoryStream*>(clone.Get())->ShareWith(*this, position_);
        *copy = clone.Detach();
        return S_OK;
    }

  private:
    // Sets the size of the shared bytes (new bytes are zero); false beyond kMaxSize or when the
    // memory cannot be had. The caller holds the block's lock.
    bool Resize(ULONGLONG size) {
        if (size > kMaxSize) return false;
        try {
            std::vector<BYTE>& bytes = block_->bytes;
            const auto wanted = static_cast<std::size_t>(size);
            if (wanted > bytes.capacity() && wanted >= kLargeBlock) {
                // Grown as resize grows it, with the new block advised before it is touched.
                bytes.reserve(std::max(wanted, 2 * bytes.capacity()));
                AdviseLargePages(bytes.data(), bytes.capacity());
            }
            bytes.resize(wanted);
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }

    std::shared_ptr<SharedBlock> block_;
    ULONGLONG position_ = 0;
};
}  // namespace

HRESULT CreateStreamOnHGlobal(HGLOBAL memory, BOOL /*deleteOnRelease*/, IStream** stream) {
    if (stream == nullptr) return E_INVALIDARG;
    *stream = nullptr;
    if (memory != nullptr) return E_INVALIDARG;  // only fresh blocks are supported here
    return ComObject<MemoryStream>::CreateInstance(nullptr, nullptr, IID_OF(IStream),
                                                   reinterpret_cast<void**>(stream));
}
