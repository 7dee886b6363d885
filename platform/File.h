// Files: a small portable wrapper with the operations the component needs (open shared for
// reading and writing, size, positioned read and write): posix/File.cpp on the stand-in,
// windows/File.cpp on Win32 (CreateFileW, ReadFile and WriteFile at an offset).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Platform.h"
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

    // Opens `path`. Only regular files open, and the open never waits (a FIFO is refused at
    // once, not opened when a peer comes). Failures leave LastError() as Windows would:
    // ERROR_FILE_NOT_FOUND (no such file), ERROR_PATH_NOT_FOUND (no such folder, or an empty
    // path), ERROR_ACCESS_DENIED (a directory, a FIFO, a device, no permission),
    // ERROR_INVALID_NAME (an embedded NUL), ERROR_FILENAME_EXCED_RANGE (too long).
    // CreateForWrite truncates only a regular file.
    [[nodiscard]] bool Open(std::wstring_view path, Mode mode);
    void Close() noexcept;
#ifdef _WIN32
    bool IsOpen() const noexcept {
        return handle_ != nullptr;
    }
#else
    bool IsOpen() const noexcept {
        return descriptor_ >= 0;
    }
#endif

    // Current size of the open file (it may grow while open).
    [[nodiscard]] bool Size(std::uint64_t& size) const;
    // Reads up to `count` bytes at `offset` into `buffer`; `got` receives the number read, which
    // is less than `count` only at the end of the file (0 at or past it, with true). False on an
    // I/O error, an offset beyond 2^63 - 1 (ERROR_INVALID_PARAMETER) or a handle opened for
    // writing (ERROR_ACCESS_DENIED).
    [[nodiscard]] bool ReadAt(std::uint64_t offset, void* buffer, std::size_t count,
                              std::size_t& got) const;
    // Writes all `count` bytes at `offset`; false unless every byte was written (ERROR_DISK_FULL,
    // or ERROR_ACCESS_DENIED on a handle opened for reading).
    [[nodiscard]] bool WriteAt(std::uint64_t offset, const void* buffer, std::size_t count);
    // Flushes written data to the disk.
    [[nodiscard]] bool Sync();

    DWORD LastError() const noexcept {
        return lastError_;
    }

    // Size of the regular file at `path` without opening it (a directory search on Windows);
    // false for anything else.
    [[nodiscard]] static bool SizeOfPath(std::wstring_view path, std::uint64_t& size);
    // Bytes read through every File of this process so far (tests use it to prove that an
    // operation did not read a whole file).
    static std::uint64_t TotalBytesRead() noexcept;

  private:
    // One system transfer of at most 1 GiB at `position` (File.cpp loops over them; the
    // system's own file carries them out). ReadOnce: `got` 0 at or past the end of the file;
    // WriteOnce: `written` at least 1 on success. False with lastError_ set on an error.
    bool ReadOnce(std::uint64_t position, void* target, std::size_t count, std::size_t& got) const;
    bool WriteOnce(std::uint64_t position, const void* source, std::size_t count,
                   std::size_t& written);

#ifdef _WIN32
    void* handle_ = nullptr;  // the file's HANDLE; null when closed
#else
    int descriptor_ = -1;
#endif
    mutable DWORD lastError_ = ERROR_SUCCESS;
};

// Replaces the file at `path` with `size` bytes atomically: writes a temporary file beside it,
// flushes it and renames it over the old one, so a reader sees the old or the new file whole and
// a failure (or a crash) leaves the old one. False on failure, with the temporary removed.
[[nodiscard]] PLATFORM_API bool ReplaceFileAtomically(std::wstring_view path, const void* data,
                                                      std::size_t size);
// Reads a whole file into `content` (at most `limit` bytes; a larger file fails). Throws
// std::bad_alloc only.
[[nodiscard]] PLATFORM_API bool ReadWholeFile(std::wstring_view path, std::string& content,
                                              std::uint64_t limit);
