// COutputStream: a CStream that collects bytes in memory and goes to a file in one write.
//
// `position` is both the cursor and the number of bytes written so far; bytes 0 .. position-1
// of the buffer are the content. The buffer grows as the field writers append (they never
// write past `length`). If it cannot grow, the stream is marked failed: later appends are
// dropped and Flush writes nothing, so a partial content never reaches the file.
//
// An output stream has no file until OpenOutput attaches one; SeekOutput and Flush do nothing
// without it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "io/Stream.h"
#include "platform/Bstr.h"
#include "platform/File.h"

class COutputStream : public CStream {
  public:
    COutputStream() = default;
    // Starts with room for `capacity` bytes (it still grows beyond them).
    explicit COutputStream(std::size_t capacity);
    ~COutputStream() override { CloseOutput(); }

    // Creates (or truncates) the file at `path` and attaches it; the file pointer is at 0.
    [[nodiscard]] bool OpenOutput(std::wstring_view path);
    // Positions the file at `offset` bytes from its start; nothing without a file.
    void SeekOutput(std::uint64_t offset) noexcept;
    // Writes bytes 0 .. position-1 at the file pointer in one write and moves the pointer past
    // them. Returns the number of bytes written: 0 without a file, after a failed write, or
    // when the stream failed to grow. The content stays, so a second flush writes it again.
    std::uint64_t Flush();
    // Frees the file name and closes the file; the buffer stays until destruction.
    void CloseOutput() noexcept;

    // Appends `count` bytes at the cursor, growing the buffer as needed.
    void Append(const void* bytes, std::size_t count) noexcept;
    // True once the buffer failed to grow; the content is then incomplete.
    bool Failed() const noexcept { return failed; }
    // For a writer that could not allocate its own temporary: the content is incomplete.
    void MarkFailed() noexcept { failed = true; }
    bool HasFile() const noexcept { return file.IsOpen(); }

  private:
    // Makes room for `count` more bytes; false (and the stream failed) when it cannot.
    bool Reserve(std::size_t count) noexcept;

    File file;
    Bstr fileName;
    std::uint64_t filePointer = 0;
    bool failed = false;
};
