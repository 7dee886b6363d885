// Files: a small portable wrapper with the operations the component needs (open shared for
// reading and writing, size, positioned read and write). POSIX implementation.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Types.h"

class PLATFORM_API File {
public:
    enum class Mode {
        // Reading; other handles (and processes) may keep writing the file.
        ReadShared,
        // Writing; creates the file, or truncates an existing one.
        CreateForWrite,
    };

    File() = default;
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;

    // Opens `path`. Only regular files open: a directory, a missing file or one without
    // permission fails, and LastError() tells why (ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ...).
    [[nodiscard]] bool Open(std::wstring_view path, Mode mode);
    void Close() noexcept;
    bool IsOpen() const noexcept { return descriptor_ >= 0; }

    // Current size of the open file (it may grow while open).
    [[nodiscard]] bool Size(std::uint64_t& size) const;
    // Reads up to `count` bytes at `offset` into `buffer`; `got` receives the number read, which
    // is less than `count` only at the end of the file. False on an I/O error.
    [[nodiscard]] bool ReadAt(std::uint64_t offset, void* buffer, std::size_t count, std::size_t& got) const;
    // Writes all `count` bytes at `offset`; false unless every byte was written.
    [[nodiscard]] bool WriteAt(std::uint64_t offset, const void* buffer, std::size_t count);
    // Flushes written data to the disk.
    [[nodiscard]] bool Sync();

    DWORD LastError() const noexcept { return lastError_; }

    // Size of the file at `path` without opening it for reading (a directory search on Windows).
    [[nodiscard]] static bool SizeOfPath(std::wstring_view path, std::uint64_t& size);
    // Bytes read through every File of this process so far (tests use it to prove that an
    // operation did not read a whole file).
    static std::uint64_t TotalBytesRead() noexcept;

private:
    int descriptor_ = -1;
    mutable DWORD lastError_ = ERROR_SUCCESS;
};

// Replaces the file at `path` with `size` bytes atomically: writes a temporary file beside it,
// flushes it and renames it over the old one, so a reader sees the old or the new file whole.
[[nodiscard]] PLATFORM_API bool ReplaceFileAtomically(std::wstring_view path, const void* data, std::size_t size);
// Reads a whole file into `content` (at most `limit` bytes; a larger file fails).
[[nodiscard]] PLATFORM_API bool ReadWholeFile(std::wstring_view path, std::string& content, std::uint64_t limit);
