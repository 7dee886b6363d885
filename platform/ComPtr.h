// ComPtr<T>: the owner of one interface reference. Every interface pointer held by our own code
// lives in one; raw AddRef/Release appear only at the ABI edge.
#pragma once

#include <utility>

#include "platform/Unknown.h"

template <class T>
class ComPtr {
  public:
    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    // Takes a new reference on `p`.
    explicit ComPtr(T* p) noexcept : ptr_(p) {
        if (ptr_) ptr_->AddRef();
    }
    ComPtr(const ComPtr& other) noexcept : ComPtr(other.ptr_) {}
    ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    ~ComPtr() { Reset(); }

    ComPtr& operator=(const ComPtr& other) noexcept {
        ComPtr(other).Swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& other) noexcept {
        ComPtr(std::move(other)).Swap(*this);
        return *this;
    }
    ComPtr& operator=(std::nullptr_t) noexcept {
        Reset();
        return *this;
    }

    T* Get() const noexcept { return ptr_; }
    T* operator->() const noexcept { return ptr_; }
    explicit operator bool() const noexcept { return ptr_ != nullptr; }

    // Releases what is held and returns the slot for an out parameter (`Create(..., p.Put())`).
    T** Put() noexcept {
        Reset();
        return &ptr_;
    }
    void** PutVoid() noexcept { return reinterpret_cast<void**>(Put()); }

    void Reset() noexcept {
        if (T* p = std::exchange(ptr_, nullptr)) p->Release();
    }
    // Adopts a reference the caller already owns.
    void Attach(T* p) noexcept {
        Reset();
        ptr_ = p;
    }
    // Hands the reference to the caller (into an out parameter).
    [[nodiscard]] T* Detach() noexcept { return std::exchange(ptr_, nullptr); }
    // Copies into an out parameter with a new reference; a null `out` is E_POINTER.
    HRESULT CopyTo(T** out) const noexcept {
        if (!out) return E_POINTER;
        if (ptr_) ptr_->AddRef();
        *out = ptr_;
        return S_OK;
    }
    void Swap(ComPtr& other) noexcept { std::swap(ptr_, other.ptr_); }

    // QueryInterface into another ComPtr.
    template <class U>
    HRESULT As(ComPtr<U>& out) const noexcept {
        if (!ptr_) {
            out.Reset();
            return E_POINTER;
        }
        return ptr_->QueryInterface(IID_OF(U), out.PutVoid());
    }
    template <class U>
    ComPtr<U> As() const noexcept {
        ComPtr<U> out;
        (void)As(out);
        return out;
    }

    friend bool operator==(const ComPtr& a, const ComPtr& b) noexcept { return a.ptr_ == b.ptr_; }
    friend bool operator==(const ComPtr& a, std::nullptr_t) noexcept { return a.ptr_ == nullptr; }

  private:
    T* ptr_ = nullptr;
};

// QueryInterface of a raw (borrowed) pointer into a ComPtr; null in gives E_POINTER.
template <class U, class T>
HRESULT QueryTo(T* source, ComPtr<U>& out) noexcept {
    if (!source) {
        out.Reset();
        return E_POINTER;
    }
    return source->QueryInterface(IID_OF(U), out.PutVoid());
}
