#include "flv/StoredIndexStream.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

#include "flv/StoredIndex.h"
#include "platform/ComObject.h"
#include "platform/ReadOnlyStream.h"

// How this component's objects recognise a stream made here and reach its content. Private to
// the component: only its own objects in one process ask for it, and it is never marshalled (its
// method hands over C++ objects).
DECLARE_INTERFACE_ID(IStoredIndexContent, "A221D30A-A567-4536-BE9F-1BCF6E1DD847");
struct IStoredIndexContent : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE
    GetContent(std::shared_ptr<const StoredIndexContent>& out) = 0;
};

namespace {

void PutLittle32(char* target, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) target[i] = static_cast<char>(value >> (8 * i));
}

class CStoredIndexStream final : public ComObject<CStoredIndexStream>,
                                 public ReadOnlyStream,
                                 public IStoredIndexContent {
  public:
    COM_DELEGATING_IUNKNOWN
    explicit CStoredIndexStream(ComObjectArgs args) : ComObject(args) {}
    HRESULT InternalQueryInterface(REFIID riid, void** ppv) {
        return QueryInterfaceTable<IStream, ISequentialStream, IStoredIndexContent>(this, riid,
                                                                                    ppv);
    }

    // The bytes before the records are made once; the records as they are read.
    void Init(std::shared_ptr<const StoredIndexContent> content, std::string head,
              std::uint64_t position, ComModule* module) {
        module_ = module;
        content_ = std::move(content);
        head_ = std::move(head);
        size_ = head_.size() + content_->entries.size() * kStoredRecordSize;
        position_.store(position, std::memory_order_relaxed);
    }
    static HRESULT Make(std::shared_ptr<const StoredIndexContent> content, std::string head,
                        std::uint64_t position, ComModule* module, ComPtr<IStream>& stream) {
        ComPtr<IStream> created;
        const HRESULT hr = ComObject<CStoredIndexStream>::Create(module, created);
        if (FAILED(hr)) return hr;
        static_cast<CStoredIndexStream*>(created.Get())
            ->Init(std::move(content), std::move(head), position, module);
        stream = std::move(created);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetContent(std::shared_ptr<const StoredIndexContent>& out) override {
        out = content_;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG count, ULONG* read) override {
        if (read) *read = 0;
        if (buffer == nullptr && count > 0) return STG_E_INVALIDPOINTER;
        std::uint64_t position = position_.load(std::memory_order_relaxed);
        auto* target = static_cast<char*>(buffer);
        std::uint64_t left =
            position < size_ ? std::min<std::uint64_t>(count, size_ - position) : 0;
        const std::uint64_t total = left;
        // The head.
        if (left > 0 && position < head_.size()) {
            const auto piece =
                static_cast<std::size_t>(std::min<std::uint64_t>(left, head_.size() - position));
            std::memcpy(target, head_.data() + position, piece);
            target += piece;
            position += piece;
            left -= piece;
        }
        // The records: whole ones written in place, a cut one through a record buffer.
        const IndexArray& entries = content_->entries;
        while (left > 0) {
            const std::uint64_t offset = position - head_.size();
            const std::uint64_t record = offset / kStoredRecordSize;
            const std::uint64_t within = offset % kStoredRecordSize;
            if (within == 0 && left >= kStoredRecordSize) {
                const std::uint64_t whole = left / kStoredRecordSize;
                for (std::uint64_t i = 0; i < whole; ++i) {
                    EncodeStoredRecord(reinterpret_cast<BYTE*>(target), entries[record + i],
                                       content_->kind);
                    target += kStoredRecordSize;
                }
                position += whole * kStoredRecordSize;
                left -= whole * kStoredRecordSize;
                continue;
            }
            BYTE bytes[kStoredRecordSize];
            EncodeStoredRecord(bytes, entries[record], content_->kind);
            const auto piece = static_cast<std::size_t>(std::min(left, kStoredRecordSize - within));
            std::memcpy(target, bytes + within, piece);
            target += piece;
            position += piece;
            left -= piece;
        }
        position_.store(position, std::memory_order_relaxed);
        if (read) *read = static_cast<ULONG>(total);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Clone(IStream** copy) override {
        if (copy == nullptr) return STG_E_INVALIDPOINTER;
        *copy = nullptr;
        ComPtr<IStream> clone;
        const HRESULT hr =
            Make(content_, head_, position_.load(std::memory_order_relaxed), module_, clone);
        if (FAILED(hr)) return hr;
        *copy = clone.Detach();
        return S_OK;
    }

  private:
    ComModule* module_ = nullptr;
    std::shared_ptr<const StoredIndexContent> content_;
    std::string head_;  // V, A, the extra data and N
};

}  // namespace

HRESULT CreateStoredIndexStream(std::shared_ptr<const StoredIndexContent> content,
                                ComModule* module, ComPtr<IStream>& stream) noexcept {
    if (!content) return E_POINTER;
    constexpr std::uint64_t kField = std::numeric_limits<std::int32_t>::max();
    if (content->videoExtra.Length() > kField || content->audioExtra.Length() > kField ||
        content->entries.size() > kField) {
        return E_INVALIDARG;
    }
    try {
        const auto videoBytes = static_cast<std::size_t>(content->videoExtra.Length());
        const auto audioBytes = static_cast<std::size_t>(content->audioExtra.Length());
        std::string head(4 + 4 + videoBytes + audioBytes + 4, '\0');
        PutLittle32(head.data(), static_cast<std::uint32_t>(videoBytes));
        PutLittle32(head.data() + 4, static_cast<std::uint32_t>(audioBytes));
        if (videoBytes > 0) std::memcpy(head.data() + 8, content->videoExtra.Data(), videoBytes);
        if (audioBytes > 0) {
            std::memcpy(head.data() + 8 + videoBytes, content->audioExtra.Data(), audioBytes);
        }
        PutLittle32(head.data() + 8 + videoBytes + audioBytes,
                    static_cast<std::uint32_t>(content->entries.size()));
        return CStoredIndexStream::Make(std::move(content), std::move(head), 0, module, stream);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

std::shared_ptr<const StoredIndexContent> StoredIndexContentOf(IStream* stream) noexcept {
    ComPtr<IStoredIndexContent> own;
    if (stream == nullptr || FAILED(QueryTo(stream, own)) || !own) return nullptr;
    std::shared_ptr<const StoredIndexContent> content;
    return SUCCEEDED(own->GetContent(content)) ? content : nullptr;
}
