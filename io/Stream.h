// CStream: an in-memory byte buffer with a cursor, the common base of the input stream (where
// the buffer is a window over a file) and the output stream (where it collects the bytes to
// be written).
#pragma once

#include <cstdint>
#include <memory>

class CStream {
  public:
    CStream() = default;
    virtual ~CStream() = default;
    CStream(const CStream&) = delete;
    CStream& operator=(const CStream&) = delete;

    // The buffer; null until one is allocated.
    const unsigned char* Data() const noexcept { return data.get(); }
    // Input: bytes valid in the window. Output: size of the buffer.
    std::uint64_t Length() const noexcept { return length; }
    // Index in the buffer of the next byte to read (input) or to write (output).
    std::uint64_t Position() const noexcept { return position; }

  protected:
    std::unique_ptr<unsigned char[]> data;
    std::uint64_t length = 0;
    std::uint64_t position = 0;
    // Bit-level reading: nothing in this code base consumes bits, so bitOffset stays 0. The
    // typed reads still honour it: with bitMode off and a partly consumed byte, they start at
    // the next whole byte.
    bool bitMode = false;
    std::uint64_t bitOffset = 0;
};
