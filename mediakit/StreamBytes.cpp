#include "mediakit/StreamBytes.h"

#include <algorithm>

namespace mediakit {
namespace {

constexpr ULONG kReadChunk = 1u << 16;

LARGE_INTEGER Offset(LONGLONG value) {
    LARGE_INTEGER offset;
    offset.QuadPart = value;
    return offset;
}

// Reads from the stream's position to its end. Throws std::bad_alloc only.
HRESULT ReadToEnd(IStream* stream, std::string& out, std::uint64_t limit) {
    const std::size_t start = out.size();
    STATSTG stat{};
    // Room for the content and for the one read past its end that finds nothing more, so that
    // the block is never grown (and the content copied) while it is read.
    if (SUCCEEDED(stream->Stat(&stat, STATFLAG_NONAME)) && stat.cbSize.QuadPart <= limit) {
        out.reserve(start + static_cast<std::size_t>(stat.cbSize.QuadPart) + kReadChunk);
    }
    for (;;) {
        const std::size_t used = out.size();
        out.resize(used + kReadChunk);
        ULONG got = 0;
        const HRESULT hr = stream->Read(out.data() + used, kReadChunk, &got);
        out.resize(used + std::min(got, kReadChunk));
        if (FAILED(hr) || got > kReadChunk) {
            out.resize(start);
            return FAILED(hr) ? hr : E_UNEXPECTED;
        }
        if (out.size() - start > limit) {
            out.resize(start);
            return E_OUTOFMEMORY;
        }
        if (got == 0) return S_OK;
    }
}

}  // namespace

HRESULT AppendStreamContent(IStream* stream, std::string& out, std::uint64_t limit) {
    if (stream == nullptr) return E_POINTER;
    // A clone has its own position: reading it leaves the original's untouched.
    ComPtr<IStream> clone;
    if (SUCCEEDED(stream->Clone(clone.Put())) && clone) {
        const HRESULT hr = clone->Seek(Offset(0), STREAM_SEEK_SET, nullptr);
        if (FAILED(hr)) return hr;
        return ReadToEnd(clone.Get(), out, limit);
    }
    ULARGE_INTEGER position{};
    HRESULT hr = stream->Seek(Offset(0), STREAM_SEEK_CUR, &position);
    if (SUCCEEDED(hr)) hr = stream->Seek(Offset(0), STREAM_SEEK_SET, nullptr);
    if (FAILED(hr)) return hr;
    hr = ReadToEnd(stream, out, limit);
    // Putting the position back is a courtesy; the content read stands either way.
    (void)stream->Seek(Offset(static_cast<LONGLONG>(position.QuadPart)), STREAM_SEEK_SET, nullptr);
    return hr;
}

HRESULT CreateMemoryStream(std::string_view bytes, ComPtr<IStream>& stream) {
    ComPtr<IStream> created;
    HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, created.Put());
    if (FAILED(hr)) return hr;
    while (!bytes.empty()) {
        const ULONG count = static_cast<ULONG>(std::min<std::size_t>(bytes.size(), 1u << 30));
        ULONG written = 0;
        hr = created->Write(bytes.data(), count, &written);
        if (FAILED(hr)) return hr;
        if (written != count) return STG_E_MEDIUMFULL;
        bytes.remove_prefix(count);
    }
    hr = created->Seek(Offset(0), STREAM_SEEK_SET, nullptr);
    if (FAILED(hr)) return hr;
    stream = std::move(created);
    return S_OK;
}

HRESULT CopyStream(IStream* source, ComPtr<IStream>& copy) {
    std::string bytes;
    const HRESULT hr = AppendStreamContent(source, bytes, kMaxStreamBytes);
    if (FAILED(hr)) return hr;
    return CreateMemoryStream(bytes, copy);
}

}  // namespace mediakit
