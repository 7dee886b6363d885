#include "io/InputStream.h"

#include <algorithm>
#include <cstring>

#include "mediakit/MediaInterfaces.h"
#include "platform/Com.h"
#include "platform/TextConvert.h"

void CInputStream::Open(std::wstring_view path) {
    Close();
    fileName = Bstr(path);
    windowStart = 0;
    position = 0;
    std::uint64_t size = 0;
    if (!file.Open(path, File::Mode::ReadShared)) return;
    if (!file.Size(size)) {
        file.Close();
        return;
    }
    fileSize = size;
    // A failed first read leaves an empty window; the next SeekTo or refill tries again.
    (void)LoadWindow(0, 0);
}

void CInputStream::Close() noexcept {
    fileName.Reset();
    data.reset();
    blockSize = 0;
    length = 0;
    file.Close();
    fileSize = 0;
}

bool CInputStream::RefreshSize() {
    if (!file.IsOpen()) return false;
    std::uint64_t size = 0;
    if (!file.Size(size)) return false;
    fileSize = size;
    windowStart += position;
    position = 0;
    length = 0;
    return true;
}

bool CInputStream::PeekAt(std::uint64_t offset, void* buffer, std::size_t count) const {
    if (offset > fileSize || count > fileSize - offset) return false;
    if (count == 0) return true;
    if (offset >= windowStart && offset - windowStart <= length &&
        count <= length - (offset - windowStart)) {
        std::memcpy(buffer, data.get() + (offset - windowStart), count);
        return true;
    }
    std::size_t got = 0;
    return file.ReadAt(offset, buffer, count, got) && got == count;
}

bool CInputStream::Refill(std::uint64_t count) {
    if (count > kMaxRequest) return false;
    const std::uint64_t newStart = windowStart + position;
    if (newStart > fileSize || count > fileSize - newStart) return false;
    windowCapacity = std::max(windowCapacity, count);
    return LoadWindow(newStart, count);
}

bool CInputStream::LoadWindow(std::uint64_t offset, std::uint64_t needed) {
    const std::uint64_t wanted =
        offset < fileSize ? std::min(windowCapacity, fileSize - offset) : 0;
    if (wanted > blockSize) {
        // Allocated before anything changes, so that an allocation failure leaves the stream
        // as it was.
        auto block = std::make_unique_for_overwrite<unsigned char[]>(wanted);
        data = std::move(block);
        blockSize = wanted;
    }
    windowStart = offset;
    position = 0;
    length = 0;
    std::size_t got = 0;
    if (wanted > 0 && !file.ReadAt(offset, data.get(), wanted, got)) return false;
    // The file may have shrunk since it was measured: only the bytes actually read are valid.
    length = got;
    return got >= needed;
}

bool CInputStream::ReadFieldInPieces(FieldType type, bool littleEndian, std::uint64_t& raw) {
    if (!bitMode && bitOffset != 0) {
        ++position;
        bitOffset = 0;
    }
    raw = 0;
    const unsigned width = FieldWidth(type);
    if (width <= 3) {
        if (!EnsureAvailable(width)) return false;
        raw = input_stream_detail::Decode(data.get() + position, width, littleEndian);
        position += width;
        return true;
    }
    // 32-bit fields and doubles come in 2-byte pieces, each made available on its own; a
    // double is big-endian whatever the flag says, and first probes its leading piece.
    const bool littleHalves = littleEndian && width == 4;
    if (width == 8) (void)EnsureAvailable(2);
    bool available = false;
    for (unsigned piece = 0; piece < width / 2; ++piece) {
        std::uint64_t half = 0;
        available = EnsureAvailable(2);
        if (available) {
            half = input_stream_detail::Decode(data.get() + position, 2, littleHalves);
            position += 2;
        }
        // Little-endian: the first piece is the low half.
        raw = littleHalves ? raw | (half << (16 * piece)) : (raw << 16) | half;
    }
    return available;
}

bool CInputStream::PeekInPieces(std::uint32_t& value, FieldType type, bool littleEndian) {
    const std::uint64_t savedStart = windowStart;
    const std::uint64_t savedPosition = position;
    std::uint64_t raw = 0;
    const bool ok = ReadFieldInPieces(type, littleEndian, raw);
    value = static_cast<std::uint32_t>(raw);
    if (windowStart == savedStart) {
        position = savedPosition;
    } else {
        // A piece reloaded the window at a later cursor; go back to where the peek began.
        const std::uint64_t offset = savedStart + savedPosition;
        if (offset >= windowStart) {
            position = offset - windowStart;
        } else {
            (void)LoadWindow(offset, 0);
        }
    }
    return ok;
}

bool CInputStream::ReadBytes(std::unique_ptr<BYTE[]>& block, std::uint64_t count,
                             std::uint64_t* readLength) {
    if (!EnsureAvailable(count)) return false;
    auto copy = std::make_unique_for_overwrite<BYTE[]>(count);
    if (count > 0) std::memcpy(copy.get(), data.get() + position, count);
    position += count;
    block = std::move(copy);
    if (readLength != nullptr) *readLength = count;
    return true;
}

bool CInputStream::ReadBytes(std::vector<BYTE>& block, std::uint64_t count) {
    if (!EnsureAvailable(count)) return false;
    const unsigned char* first = data.get() + position;
    block.assign(first, first + count);
    position += count;
    return true;
}

bool CInputStream::ReadText(wchar_t* buffer, std::uint64_t count, std::uint64_t* characters) {
    if (!EnsureAvailable(count)) return false;
    // UTF-8 never yields more characters than bytes, so `count` characters always suffice;
    // the conversion writes nothing past them and reports how many it wrote.
    int converted = 0;
    if (count > 0) {
        converted =
            MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(data.get() + position),
                                static_cast<int>(count), buffer, static_cast<int>(count));
    }
    buffer[converted] = L'\0';
    position += count;
    if (characters != nullptr) *characters = static_cast<std::uint64_t>(converted);
    return true;
}

bool CInputStream::ReadText(std::wstring& text, std::uint64_t count) {
    // The bytes are made available before the buffer is sized, so that a length field larger
    // than the file never allocates.
    if (!EnsureAvailable(count)) return false;
    std::wstring decoded(count, L'\0');
    std::uint64_t characters = 0;
    if (!ReadText(decoded.data(), count, &characters)) return false;
    decoded.resize(characters);
    text = std::move(decoded);
    return true;
}

template <class Packet>
bool CInputStream::ReadPacket(const GUID& classId, ComPtr<Packet>& packet, std::uint64_t count) {
    if (!EnsureAvailable(count)) return false;
    // EnsureAvailable bounds count by kMaxRequest, so it fits the packet's LONG sizes.
    const LONG size = static_cast<LONG>(count);
    ComPtr<Packet> created;
    if (FAILED(CreateInstance(classId, created)) || !created ||
        FAILED(created->Allocate(size, 0)) ||
        FAILED(created->CopyIn(0, data.get() + position, size))) {
        packet.Reset();
        return false;
    }
    position += count;
    packet = std::move(created);
    return true;
}

bool CInputStream::ReadPayload(ComPtr<IMediaPacket>& packet, std::uint64_t count) {
    return ReadPacket(CLSID_VideoPacket, packet, count);
}

bool CInputStream::ReadPayload(ComPtr<IAudioPacket>& packet, std::uint64_t count) {
    return ReadPacket(CLSID_AudioPacket, packet, count);
}
