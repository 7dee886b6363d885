// What VideoPacket and AudioPacket share: a data block, a format object, times and marks.
//
// A packet has one user at a time (it is filled, handed on, then read), so it keeps no lock:
// GetData hands out the block itself, which no lock could guard anyway. (A block made on first
// use is made by that one user too.)
//
// Packets are made for every frame and PCM block, so the block is reused when a new one fits in
// it, blocks come from and go back to the recycled ones of mediakit/PacketBlocks.h, and
// CreateWithBlock gives a block left for the caller to fill without clearing it first.
#pragma once

#include <cstring>
#include <memory>

#include "mediakit/ClassList.h"
#include "mediakit/MediaInterfaces.h"
#include "mediakit/PacketBlocks.h"
#include "mediakit/Reserved.h"

namespace mediakit {

// Interface is IMediaPacket or IAudioPacket (which begins with IMediaPacket's slots).
template <class Derived, class Interface>
class PacketBase : public ComObject<Derived>, public Interface {
  public:
    COM_DELEGATING_IUNKNOWN

    // A new packet whose block of `size` bytes the caller fills completely through `data`.
    static HRESULT CreateWithBlock(LONG size, ComPtr<Interface>& packet, BYTE** data) noexcept {
        if (size < 0 || data == nullptr) return E_INVALIDARG;
        ComPtr<Interface> created;
        HRESULT hr = CreateObject<Derived>(created);
        if (FAILED(hr)) return hr;
        auto* self = static_cast<Derived*>(created.Get());
        if (!self->Resize(static_cast<std::size_t>(size), false)) return E_OUTOFMEMORY;
        *data = self->block_.get();
        packet = std::move(created);
        return S_OK;
    }

    MEDIAKIT_RESERVED(3)
    MEDIAKIT_RESERVED(4)

    HRESULT STDMETHODCALLTYPE Duplicate(LONG /*flags*/, IUnknown** copy) override {
        if (copy == nullptr) return E_POINTER;
        *copy = nullptr;
        ComPtr<Interface> created;
        HRESULT hr = CreateObject<Derived>(created);
        if (FAILED(hr)) return hr;
        auto* target = static_cast<Derived*>(created.Get());
        if (Self().BlockUnmade()) {
            target->size_ = size_;  // the copy shares what its block is made from (CopyDetails)
        } else {
            if (!target->Resize(size_, false)) return E_OUTOFMEMORY;
            if (size_ > 0) std::memcpy(target->block_.get(), block_.get(), size_);
        }
        target->format_ = format_;
        target->time_ = time_;
        target->timestamp_ = timestamp_;
        target->duration_ = duration_;
        target->discontinuity_ = discontinuity_;
        target->keyFrame_ = keyFrame_;
        target->CopyDetails(static_cast<const Derived&>(*this));
        *copy = created.Detach();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Allocate(LONG size, LONG fill) override {
        if (size < 0 || (fill != 0 && fill != -1)) return E_INVALIDARG;
        if (!Self().MakeBlock()) return E_OUTOFMEMORY;
        const BYTE value = fill == -1 ? SilenceByte() : 0;
        if (!Resize(static_cast<std::size_t>(size), false)) return E_OUTOFMEMORY;
        if (size > 0) std::memset(block_.get(), value, size_);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE CopyIn(LONG offset, const BYTE* source, LONG count) override {
        if (!InBlock(offset, count) || (source == nullptr && count > 0)) return E_INVALIDARG;
        if (!Self().MakeBlock()) return E_OUTOFMEMORY;
        if (count > 0) std::memcpy(block_.get() + offset, source, static_cast<std::size_t>(count));
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE CopyOut(LONG offset, BYTE* target, LONG count) override {
        if (!InBlock(offset, count) || (target == nullptr && count > 0)) return E_INVALIDARG;
        if (!Self().MakeBlock()) return E_OUTOFMEMORY;
        if (count > 0) std::memcpy(target, block_.get() + offset, static_cast<std::size_t>(count));
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetData(BYTE** data) override {
        if (data == nullptr) return E_POINTER;
        if (!Self().MakeBlock()) return E_OUTOFMEMORY;
        *data = block_.get();
        return S_OK;
    }

    MEDIAKIT_RESERVED(10)
    MEDIAKIT_RESERVED(11)
    MEDIAKIT_RESERVED(12)
    MEDIAKIT_RESERVED(13)

    HRESULT STDMETHODCALLTYPE GetSize(LONG* bytes) override { return Get(size_, bytes); }

    HRESULT STDMETHODCALLTYPE SetSize(LONG bytes) override {
        if (bytes < 0) return E_INVALIDARG;
        if (!Self().MakeBlock()) return E_OUTOFMEMORY;
        const std::size_t old = size_;
        if (!Resize(static_cast<std::size_t>(bytes), true)) return E_OUTOFMEMORY;
        if (size_ > old) std::memset(block_.get() + old, 0, size_ - old);
        return S_OK;
    }

    MEDIAKIT_RESERVED(16)
    MEDIAKIT_RESERVED(17)
    MEDIAKIT_RESERVED(18)
    MEDIAKIT_RESERVED(19)
    MEDIAKIT_RESERVED(20)
    MEDIAKIT_RESERVED(21)
    MEDIAKIT_RESERVED(22)

    HRESULT STDMETHODCALLTYPE GetFormat(IUnknown** format) override {
        return format_.CopyTo(format);
    }
    HRESULT STDMETHODCALLTYPE SetFormat(IUnknown* format) override {
        format_ = ComPtr<IUnknown>(format);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDiscontinuity(VARIANT_BOOL* value) override {
        return Get(discontinuity_, value);
    }
    HRESULT STDMETHODCALLTYPE SetDiscontinuity(VARIANT_BOOL value) override {
        discontinuity_ = value != 0 ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetKeyFrame(VARIANT_BOOL* value) override {
        return Get(keyFrame_, value);
    }
    HRESULT STDMETHODCALLTYPE SetKeyFrame(VARIANT_BOOL value) override {
        keyFrame_ = value != 0 ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }

    MEDIAKIT_RESERVED(29)
    MEDIAKIT_RESERVED(30)

    HRESULT STDMETHODCALLTYPE GetTime(double* ms) override { return Get(time_, ms); }
    HRESULT STDMETHODCALLTYPE SetTime(double ms) override { return Put(time_, ms); }
    HRESULT STDMETHODCALLTYPE GetTimestamp(double* ms) override { return Get(timestamp_, ms); }
    HRESULT STDMETHODCALLTYPE SetTimestamp(double ms) override { return Put(timestamp_, ms); }

    MEDIAKIT_RESERVED(35)
    MEDIAKIT_RESERVED(36)

    HRESULT STDMETHODCALLTYPE GetDuration(double* ms) override { return Get(duration_, ms); }
    HRESULT STDMETHODCALLTYPE SetDuration(double ms) override { return Put(duration_, ms); }

    MEDIAKIT_RESERVED(39)
    MEDIAKIT_RESERVED(40)
    MEDIAKIT_RESERVED(41)
    MEDIAKIT_RESERVED(42)
    MEDIAKIT_RESERVED(43)

  protected:
    explicit PacketBase(ComObjectArgs args) : ComObject<Derived>(args) {}
    ~PacketBase() { ReturnPacketBlock(std::move(block_), capacity_); }

    // Copies what a derived packet adds to these fields; Duplicate calls it on the copy.
    void CopyDetails(const Derived&) {}
    // A derived packet may leave its block to be made when its bytes are first touched
    // (VideoPacket: a decoded picture packed on first use). BlockUnmade says whether it is still
    // to be made; MakeBlock makes it (false when it cannot be had), and runs before every method
    // that reads or writes the block.
    bool BlockUnmade() const noexcept { return false; }
    bool MakeBlock() noexcept { return true; }
    // The block made `size_` bytes long for a derived packet to fill; null when out of memory.
    BYTE* BlockToFill() noexcept { return Resize(size_, false) ? block_.get() : nullptr; }
    void SetUnmadeSize(std::size_t size) noexcept { size_ = size; }

    template <class T, class Out>
    static HRESULT Get(const T& field, Out* value) {
        if (value == nullptr) return E_POINTER;
        *value = static_cast<Out>(field);
        return S_OK;
    }
    template <class T>
    static HRESULT Put(T& field, T value) {
        field = value;
        return S_OK;
    }

  private:
    Derived& Self() noexcept { return static_cast<Derived&>(*this); }
    const Derived& Self() const noexcept { return static_cast<const Derived&>(*this); }

    // The fill byte of silence in this packet's format: 8-bit PCM is unsigned (0x80 is its zero
    // line); every other format's silence is zero bytes.
    BYTE SilenceByte() const {
        ComPtr<IAudioFormat> audio;
        LONG bits = 0;
        if (format_ && SUCCEEDED(format_.As(audio)) && SUCCEEDED(audio->GetBitsPerSample(&bits)) &&
            bits == 8) {
            return 0x80;
        }
        return 0;
    }

    bool InBlock(LONG offset, LONG count) const {
        return offset >= 0 && count >= 0 && static_cast<std::size_t>(offset) <= size_ &&
               static_cast<std::size_t>(count) <= size_ - static_cast<std::size_t>(offset);
    }

    // Makes the block `size` bytes long, reusing it when it is large enough. With `keep` the
    // bytes up to the old size are kept; new bytes are left uninitialised. False when out of
    // memory (the block is then as it was).
    bool Resize(std::size_t size, bool keep) noexcept {
        if (size > capacity_) {
            std::size_t capacity = 0;
            std::unique_ptr<BYTE[]> grown = TakePacketBlock(size, capacity);
            if (!grown) return false;
            if (keep && size_ > 0) std::memcpy(grown.get(), block_.get(), size_);
            ReturnPacketBlock(std::move(block_), capacity_);
            block_ = std::move(grown);
            capacity_ = capacity;
        }
        size_ = size;
        return true;
    }

    std::unique_ptr<BYTE[]> block_;
    std::size_t capacity_ = 0;
    std::size_t size_ = 0;  // at most LONG's maximum: sizes arrive as LONG
    ComPtr<IUnknown> format_;
    double time_ = 0.0;
    double timestamp_ = 0.0;
    double duration_ = 0.0;
    VARIANT_BOOL discontinuity_ = VARIANT_FALSE;
    VARIANT_BOOL keyFrame_ = VARIANT_FALSE;
};

}  // namespace mediakit
