// A read-only stream over a range of an open file: how a loaded parameter container keeps a
// large stream element of its file without holding the bytes in memory. Reads go to the file
// (positioned reads, so clones and other threads do not disturb each other); clones share the
// file, each with its own position. The file stays open as long as any of them lives.
//
// Given the CRC-32 of the range, the stream checks its bytes as they are read: read in order from
// the start, the bytes are checked on the way, and once the end is reached; a read anywhere else
// first checks the whole range (one extra pass, once). A range found damaged fails every read
// from then on, the one that found it included, with HRESULT_FROM_WIN32(ERROR_INVALID_DATA); so
// a reader that takes the bytes in order and reads to the end learns of damage before it uses
// what it read. Clones share what was learnt.
//
// Read past the end reads fewer bytes (S_OK), as does a read after the file was cut short under
// the stream (then the range cannot be found whole: its check fails); an I/O error is
// STG_E_READFAULT. Write, SetSize and CopyTo's writes into this stream are STG_E_ACCESSDENIED;
// seeks behave as the memory stream's (platform/MemoryStream.h).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "platform/ComPtr.h"
#include "platform/File.h"
#include "platform/MemoryStream.h"

namespace mediakit {

HRESULT CreateFileRangeStream(std::shared_ptr<const File> file, std::uint64_t offset,
                              std::uint64_t size, std::optional<std::uint32_t> checksum,
                              ComPtr<IStream>& stream);

}  // namespace mediakit
