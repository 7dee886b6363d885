#pragma once
// The IStream methods of a read-only stream of a fixed size whose only changing state is its seek
// position: everything but Read and Clone (and IUnknown, which the object's ComObject supplies).
// The position is atomic because one stream object may be read from several threads; a read and a
// seek from two threads at once leave it at one of the two, as with any stream.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>

#include "platform/Com.h"

// IStream::CopyTo by reading `source` and writing what was read to `target`, in pieces.
inline HRESULT CopyByReading(ISequentialStream& source, IStream* target, ULARGE_INTEGER count,
                             ULARGE_INTEGER* read, ULARGE_INTEGER* written) {
    if (read) read->QuadPart = 0;
    if (written) written->QuadPart = 0;
    if (target == nullptr) return STG_E_INVALIDPOINTER;
    BYTE chunk[65536];
    ULONGLONG left = count.QuadPart;
    while (left > 0) {
        ULONG got = 0;
        const auto want = static_cast<ULONG>(std::min<ULONGLONG>(left, sizeof chunk));
        HRESULT hr = source.Read(chunk, want, &got);
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

class ReadOnlyStream : public IStream {
  public:
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

    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD) override {
        if (stat == nullptr) return STG_E_INVALIDPOINTER;
        std::memset(stat, 0, sizeof *stat);
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = size_;
        return S_OK;
    }

  protected:
    ReadOnlyStream() = default;
    ~ReadOnlyStream() = default;

    std::uint64_t size_ = 0;  // set once, before the stream is handed out
    std::atomic<std::uint64_t> position_{0};
};
