#include "io/OutputStream.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {
constexpr std::size_t kMinimumGrowth = 256;
}  // namespace

COutputStream::COutputStream(std::size_t capacity) {
    if (capacity > 0) (void)Reserve(capacity);
}

bool COutputStream::OpenOutput(std::wstring_view path) {
    CloseOutput();
    if (!file.Open(path, File::Mode::CreateForWrite)) return false;
    filePointer = 0;
    try {
        fileName = Bstr(path);
    } catch (const std::bad_alloc&) {
        file.Close();
        return false;
    }
    return true;
}

void COutputStream::SeekOutput(std::uint64_t offset) noexcept {
    if (file.IsOpen()) filePointer = offset;
}

std::uint64_t COutputStream::Flush() {
    if (!file.IsOpen() || failed) return 0;
    if (!file.WriteAt(filePointer, data.get(), position)) return 0;
    filePointer += position;
    return position;
}

void COutputStream::CloseOutput() noexcept {
    fileName.Reset();
    file.Close();
}

bool COutputStream::Reserve(std::size_t count) noexcept {
    if (failed) return false;
    if (count <= length - position) return true;
    const std::size_t content = static_cast<std::size_t>(position);
    if (count > SIZE_MAX - content) {
        failed = true;
        return false;
    }
    const std::size_t needed = content + count;
    std::size_t grown = std::max(needed, kMinimumGrowth);
    if (length <= SIZE_MAX / 2) grown = std::max(grown, static_cast<std::size_t>(length) * 2);
    auto* block = new (std::nothrow) unsigned char[grown];
    if (block == nullptr) {
        failed = true;
        return false;
    }
    if (content > 0) std::memcpy(block, data.get(), content);
    data.reset(block);
    length = grown;
    return true;
}

void COutputStream::Append(const void* bytes, std::size_t count) noexcept {
    if (count == 0 || !Reserve(count)) return;
    std::memcpy(data.get() + position, bytes, count);
    position += count;
}
