// IStream and the in-memory stream that CreateStreamOnHGlobal makes.
#pragma once

#include "platform/posix/Unknown.h"

union LARGE_INTEGER {
    LONGLONG QuadPart;
};
union ULARGE_INTEGER {
    ULONGLONG QuadPart;
};

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

struct STATSTG {
    LPOLESTR pwcsName;
    DWORD type;
    ULARGE_INTEGER cbSize;
    FILETIME mtime;
    FILETIME ctime;
    FILETIME atime;
    DWORD grfMode;
    DWORD grfLocksSupported;
    CLSID clsid;
    DWORD grfStateBits;
    DWORD reserved;
};

constexpr DWORD STREAM_SEEK_SET = 0;
constexpr DWORD STREAM_SEEK_CUR = 1;
constexpr DWORD STREAM_SEEK_END = 2;
constexpr DWORD STGTY_STREAM = 2;
constexpr DWORD STATFLAG_DEFAULT = 0;
constexpr DWORD STATFLAG_NONAME = 1;

using HGLOBAL = void*;

DECLARE_INTERFACE_ID(ISequentialStream, "0C733A30-2A1C-11CE-ADE5-00AA0044773D");
struct ISequentialStream : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG count, ULONG* read) = 0;
    virtual HRESULT STDMETHODCALLTYPE Write(const void* buffer, ULONG count, ULONG* written) = 0;
};

DECLARE_INTERFACE_ID(IStream, "0000000C-0000-0000-C000-000000000046");
struct IStream : ISequentialStream {
    virtual HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin,
                                           ULARGE_INTEGER* newPosition) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER newSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE CopyTo(IStream* target, ULARGE_INTEGER count,
                                             ULARGE_INTEGER* read, ULARGE_INTEGER* written) = 0;
    virtual HRESULT STDMETHODCALLTYPE Commit(DWORD flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE Revert() = 0;
    virtual HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count,
                                                 DWORD type) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count,
                                                   DWORD type) = 0;
    virtual HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IStream** copy) = 0;
};

extern "C" {
// A growable in-memory stream. Read past the end reads fewer bytes (S_OK); a seek before the
// start, one that overflows, or one with an unknown origin is STG_E_SEEKERROR and reports the
// unchanged position; a write or SetSize that cannot be had is E_OUTOFMEMORY. Clones share the
// bytes, each with its own position (a clone starts at its original's). LockRegion and
// UnlockRegion are STG_E_INVALIDFUNCTION; Commit and Revert do nothing.
// Differences from Windows: only a null `memory` is supported (a fresh block; anything else is
// E_INVALIDARG), and the block is freed with the last stream whatever `deleteOnRelease` says;
// positions are 64-bit where Windows keeps 32 bits and ignores the high part, while the size
// stays at most 4 GiB - 1 as an HGLOBAL's.
PLATFORM_API HRESULT CreateStreamOnHGlobal(HGLOBAL memory, BOOL deleteOnRelease, IStream** stream);
}
