// Byte streams as values: reading a stream's whole content and making memory streams.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/ComPtr.h"
#include "platform/MemoryStream.h"

namespace mediakit {

// Appends the whole content of `stream`, from offset 0 to its end, to `out`. The stream's own seek
// position is left as it was: a clone is read when the stream can clone itself, otherwise the
// position is put back afterwards. Fails (out unchanged) when the stream cannot be read, or with
// E_OUTOFMEMORY when it holds more than `limit` bytes.
HRESULT AppendStreamContent(IStream* stream, std::string& out, std::uint64_t limit);

// A new memory stream holding `bytes`, positioned at its start.
HRESULT CreateMemoryStream(std::string_view bytes, ComPtr<IStream>& stream);

// A new memory stream with a copy of the whole content of `source`.
HRESULT CopyStream(IStream* source, ComPtr<IStream>& copy);

// The largest stream content that copies and saved files take (1 GiB).
constexpr std::uint64_t kMaxStreamBytes = std::uint64_t{1} << 30;

}  // namespace mediakit
