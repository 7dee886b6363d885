// CInputStream: a read-only file with a sliding in-memory window over it and typed big-endian
// readers for the fields of FLV and AMF0.
//
// The window holds the `length` bytes of the file that begin at `windowStart`; the cursor is
// `position` inside it, so the file offset of the next byte is Tell() = windowStart + position.
// Fields are served from memory. The file is read only when a request runs past the window's
// end (the window is then reloaded starting at the cursor) or when SeekTo lands outside it
// (reloaded at the target); each reload is one positioned read of up to `windowCapacity`
// bytes. A single request larger than the capacity raises the capacity for good.
//
// Every read reports success as a bool; nothing sets error information. The only exception
// that leaves an operation is std::bad_alloc when a window or block cannot be allocated.
//
// An instance belongs to one owner and has no lock.
#pragma once

#include <bit>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "io/FieldType.h"
#include "io/Stream.h"
#include "platform/Bstr.h"
#include "platform/ComPtr.h"
#include "platform/File.h"

struct IMediaPacket;
struct IAudioPacket;

class CInputStream : public CStream {
  public:
    // Default window: 256 KiB. A file smaller than that is read whole by Open.
    static constexpr std::uint64_t kDefaultWindowCapacity = 0x40000;
    // The largest single request; EnsureAvailable fails at once above it.
    static constexpr std::uint64_t kMaxRequest = 0x7FFFFFFF;

    CInputStream() = default;
    ~CInputStream() override { Close(); }

    // Opens `path` for reading (other handles may keep writing it), measures it and loads the
    // first window. A path that cannot be opened (missing, a directory, no permission) leaves a
    // stream on which every read fails: no file, fileSize 0, no window. IsOpen() tells which.
    void Open(std::wstring_view path);
    bool IsOpen() const noexcept { return file.IsOpen(); }
    // Frees the name and the window, closes the file and sets fileSize to 0. The cursor
    // (windowStart, position) is kept. May be called on a closed stream.
    void Close() noexcept;
    // Re-measures fileSize from the open file (it may have grown) and lets go of the window, so
    // that the next read takes the bytes from the file as they are now: a writer may also have
    // filled bytes in place (a recorder that pre-allocates its file with zeros and writes the
    // tags into them), and a window kept over them would go on showing the zeros. The cursor
    // (Tell) stays. False, with nothing changed, without an open file.
    [[nodiscard]] bool RefreshSize();

    // Moves the cursor to the file offset `offset`. Inside the window nothing is read;
    // otherwise the window is reloaded at `offset` (the capacity does not grow). Fails, with
    // nothing changed, when `offset` >= fileSize; a failed reload leaves an empty window at
    // `offset`.
    [[nodiscard]] bool SeekTo(std::uint64_t offset);
    // Makes the `count` bytes at the cursor readable in the window, reloading it at the cursor
    // when needed. Fails with nothing changed when the bytes lie beyond fileSize or `count`
    // exceeds kMaxRequest; a reload that cannot read them all leaves only what was read.
    [[nodiscard]] bool EnsureAvailable(std::uint64_t count);
    std::uint64_t Tell() const noexcept { return windowStart + position; }
    // Copies the `count` bytes at file offset `offset` into `buffer` without moving the cursor
    // or the window: from the window when they lie in it, else with one read of the file. For
    // a look far ahead that must not cost a window reload. False when the bytes are not all in
    // the file (or cannot be read).
    [[nodiscard]] bool PeekAt(std::uint64_t offset, void* buffer, std::size_t count) const;

    // Typed reads. A field of a known code is taken at the cursor and the cursor moves past
    // it. A code above DOUBLE is rejected: false, nothing stored, cursor unchanged. An 8-, 16-
    // or 24-bit field that is not there stores 0 and leaves the cursor. Wider fields are taken
    // in 2-byte pieces (32-bit: two, DOUBLE: four): a piece that is not there contributes zero
    // bits and leaves the cursor, and the result is that of the last piece, so a 32-bit read
    // with 2 or 3 bytes left takes the first two bytes, stores the high half and fails.
    // `littleEndian` affects 16- and 32-bit fields only; every FLV and AMF0 field is
    // big-endian. DOUBLE is read into a double only (the integer overloads reject it).
    [[nodiscard]] bool ReadValue(std::uint8_t& value, FieldType type, bool littleEndian = false);
    [[nodiscard]] bool ReadValue(std::uint32_t& value, FieldType type, bool littleEndian = false);
    [[nodiscard]] bool ReadValue(std::uint64_t& value, FieldType type, bool littleEndian = false);
    // Integer codes give the integer converted to double.
    [[nodiscard]] bool ReadValue(double& value, FieldType type, bool littleEndian = false);
    // True when the field is nonzero.
    [[nodiscard]] bool ReadValue(bool& value, FieldType type, bool littleEndian = false);
    // Reads like ReadValue, then puts the cursor back: Tell() is the same before and after.
    [[nodiscard]] bool PeekValue(std::uint32_t& value, FieldType type, bool littleEndian = false);
    // Advances past one field, also when its bytes are not there (then every further read
    // fails until the next SeekTo). The result is whether the bytes were there.
    [[nodiscard]] bool SkipValue(FieldType type);
    // Advances past `count` bytes when they are all there; otherwise fails and stays.
    [[nodiscard]] bool SkipBytes(std::uint64_t count);

    // Copies `count` bytes at the cursor into a new block. Nothing is allocated unless the
    // bytes are there; on failure `block` is untouched. `readLength` (optional) receives count.
    [[nodiscard]] bool ReadBytes(std::unique_ptr<BYTE[]>& block, std::uint64_t count,
                                 std::uint64_t* readLength = nullptr);
    [[nodiscard]] bool ReadBytes(std::vector<BYTE>& block, std::uint64_t count);
    // Decodes `count` bytes of text in the ANSI code page into `buffer`, which has room for
    // count + 1 characters, and ends the text with a zero right after the characters decoded
    // (fewer than count for multi-byte text). `characters` (optional) receives their number.
    [[nodiscard]] bool ReadText(wchar_t* buffer, std::uint64_t count,
                                std::uint64_t* characters = nullptr);
    [[nodiscard]] bool ReadText(std::wstring& text, std::uint64_t count);
    // Copies `count` bytes at the cursor into a new packet of the host framework, created by
    // class identifier: a VideoPacket held as IMediaPacket, or an AudioPacket held as
    // IAudioPacket. When the bytes are not there, `packet` is untouched; when the packet
    // cannot be created or refuses the bytes, `packet` is null. Either way the read fails
    // and the cursor stays.
    [[nodiscard]] bool ReadPayload(ComPtr<IMediaPacket>& packet, std::uint64_t count);
    [[nodiscard]] bool ReadPayload(ComPtr<IAudioPacket>& packet, std::uint64_t count);

    std::uint64_t FileSize() const noexcept { return fileSize; }
    std::uint64_t WindowStart() const noexcept { return windowStart; }
    std::uint64_t WindowCapacity() const noexcept { return windowCapacity; }
    // The path given to Open; empty before and after.
    std::wstring_view FileName() const noexcept { return fileName.View(); }

  private:
    // True when the whole field lies in the window and can be taken straight from memory.
    bool FieldInWindow(unsigned width) const noexcept {
        return bitOffset == 0 && position <= length && width <= length - position;
    }
    // Reads one field of a known code; `raw` holds its bits (a DOUBLE's IEEE-754 pattern).
    bool ReadField(FieldType type, bool littleEndian, std::uint64_t& raw);
    // The integer and boolean readings of a field of an integer code.
    template <class Integer>
    bool ReadInteger(Integer& value, FieldType type, bool littleEndian);
    // The piece-by-piece read used when the field is not wholly inside the window.
    bool ReadFieldInPieces(FieldType type, bool littleEndian, std::uint64_t& raw);
    bool PeekInPieces(std::uint32_t& value, FieldType type, bool littleEndian);
    // EnsureAvailable when the bytes are not in the window: reload at the cursor.
    bool Refill(std::uint64_t count);
    // Loads the window at `offset`: min(windowCapacity, fileSize - offset) bytes, reusing the
    // block when it is large enough. True when at least `needed` bytes were read.
    bool LoadWindow(std::uint64_t offset, std::uint64_t needed);
    template <class Packet>
    bool ReadPacket(const GUID& classId, ComPtr<Packet>& packet, std::uint64_t count);

    File file;
    Bstr fileName;
    std::uint64_t fileSize = 0;
    std::uint64_t windowStart = 0;
    std::uint64_t windowCapacity = kDefaultWindowCapacity;
    // Bytes allocated for `data`; a reload reuses the block when it is large enough.
    std::uint64_t blockSize = 0;
};

namespace input_stream_detail {
// Decodes a field of `width` bytes at `bytes` (big-endian unless `littleEndian` is set for a
// 16- or 32-bit field).
inline std::uint64_t Decode(const unsigned char* bytes, unsigned width, bool littleEndian) {
    switch (width) {
        case 1:
            return bytes[0];
        case 2:
            return littleEndian ? (std::uint64_t{bytes[1]} << 8) | bytes[0]
                                : (std::uint64_t{bytes[0]} << 8) | bytes[1];
        case 3:
            return (std::uint64_t{bytes[0]} << 16) | (std::uint64_t{bytes[1]} << 8) | bytes[2];
        case 4:
            if (littleEndian) {
                return (std::uint64_t{bytes[3]} << 24) | (std::uint64_t{bytes[2]} << 16) |
                       (std::uint64_t{bytes[1]} << 8) | bytes[0];
            }
            return (std::uint64_t{bytes[0]} << 24) | (std::uint64_t{bytes[1]} << 16) |
                   (std::uint64_t{bytes[2]} << 8) | bytes[3];
        default: {
            std::uint64_t value = 0;
            for (unsigned i = 0; i < 8; ++i) value = (value << 8) | bytes[i];
            return value;
        }
    }
}
}  // namespace input_stream_detail

inline bool CInputStream::EnsureAvailable(std::uint64_t count) {
    if (position <= length && count <= length - position) return true;
    return Refill(count);
}

inline bool CInputStream::SeekTo(std::uint64_t offset) {
    if (offset >= fileSize) return false;
    if (offset >= windowStart && offset - windowStart < length) {
        position = offset - windowStart;
        return true;
    }
    return LoadWindow(offset, 1);
}

inline bool CInputStream::ReadField(FieldType type, bool littleEndian, std::uint64_t& raw) {
    const unsigned width = FieldWidth(type);
    if (FieldInWindow(width)) {
        raw = input_stream_detail::Decode(data.get() + position, width, littleEndian);
        position += width;
        return true;
    }
    return ReadFieldInPieces(type, littleEndian, raw);
}

template <class Integer>
inline bool CInputStream::ReadInteger(Integer& value, FieldType type, bool littleEndian) {
    if (!IsKnownField(type) || type == FieldType::DOUBLE) return false;
    std::uint64_t raw = 0;
    const bool ok = ReadField(type, littleEndian, raw);
    value = static_cast<Integer>(raw);  // bytes keep the low 8 bits; bool is "nonzero"
    return ok;
}

inline bool CInputStream::ReadValue(std::uint8_t& value, FieldType type, bool littleEndian) {
    return ReadInteger(value, type, littleEndian);
}

inline bool CInputStream::ReadValue(std::uint32_t& value, FieldType type, bool littleEndian) {
    return ReadInteger(value, type, littleEndian);
}

inline bool CInputStream::ReadValue(std::uint64_t& value, FieldType type, bool littleEndian) {
    return ReadInteger(value, type, littleEndian);
}

inline bool CInputStream::ReadValue(double& value, FieldType type, bool littleEndian) {
    if (!IsKnownField(type)) return false;
    std::uint64_t raw = 0;
    const bool ok = ReadField(type, littleEndian, raw);
    value = type == FieldType::DOUBLE ? std::bit_cast<double>(raw) : static_cast<double>(raw);
    return ok;
}

inline bool CInputStream::ReadValue(bool& value, FieldType type, bool littleEndian) {
    return ReadInteger(value, type, littleEndian);
}

inline bool CInputStream::PeekValue(std::uint32_t& value, FieldType type, bool littleEndian) {
    if (!IsKnownField(type) || type == FieldType::DOUBLE) return false;
    const unsigned width = FieldWidth(type);
    if (FieldInWindow(width)) {
        value = static_cast<std::uint32_t>(
            input_stream_detail::Decode(data.get() + position, width, littleEndian));
        return true;
    }
    return PeekInPieces(value, type, littleEndian);
}

inline bool CInputStream::SkipValue(FieldType type) {
    if (!IsKnownField(type)) return false;
    const unsigned width = FieldWidth(type);
    const bool available = EnsureAvailable(width);
    position += width;
    return available;
}

inline bool CInputStream::SkipBytes(std::uint64_t count) {
    if (!EnsureAvailable(count)) return false;
    position += count;
    return true;
}
