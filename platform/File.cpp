#include "platform/File.h"

#include <atomic>
#include <cstdint>

#include "platform/LargePages.h"

namespace {
std::atomic<std::uint64_t> g_bytesRead{0};

// Each system read or write moves at most this much (Windows counts the bytes in a DWORD).
constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;
constexpr std::uint64_t kLastOffset = static_cast<std::uint64_t>(INT64_MAX);
}  // namespace

bool File::ReadAt(std::uint64_t offset, void* buffer, std::size_t count, std::size_t& got) const {
    got = 0;
    if (!IsOpen()) {
        lastError_ = ERROR_INVALID_HANDLE;
        return false;
    }
    if (offset > kLastOffset) {
        lastError_ = ERROR_INVALID_PARAMETER;
        return false;
    }
    auto* target = static_cast<unsigned char*>(buffer);
    bool ok = true;
    while (got < count) {
        const std::uint64_t position = offset + got;
        if (position > kLastOffset) break;  // nothing lies beyond
        const std::size_t want = count - got < kMaxTransfer ? count - got : kMaxTransfer;
        std::size_t n = 0;
        if (!ReadOnce(position, target + got, want, n)) {
            ok = false;
            break;
        }
        if (n == 0) break;  // end of file
        got += n;
    }
    g_bytesRead.fetch_add(got, std::memory_order_relaxed);
    return ok;
}

bool File::WriteAt(std::uint64_t offset, const void* buffer, std::size_t count) {
    if (!IsOpen()) {
        lastError_ = ERROR_INVALID_HANDLE;
        return false;
    }
    if (offset > kLastOffset || count > kLastOffset - offset) {
        lastError_ = ERROR_INVALID_PARAMETER;
        return false;
    }
    const auto* source = static_cast<const unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const std::size_t want = count - done < kMaxTransfer ? count - done : kMaxTransfer;
        std::size_t n = 0;
        if (!WriteOnce(offset + done, source + done, want, n)) return false;
        done += n;
    }
    return true;
}

std::uint64_t File::TotalBytesRead() noexcept {
    return g_bytesRead.load(std::memory_order_relaxed);
}

bool ReadWholeFile(std::wstring_view path, std::string& content, std::uint64_t limit) {
    File file;
    std::uint64_t size = 0;
    if (!file.Open(path, File::Mode::ReadShared) || !file.Size(size) || size > limit) return false;
    content.reserve(static_cast<std::size_t>(size));
    AdviseLargePages(content.data(), content.capacity());
    content.resize(static_cast<std::size_t>(size));
    std::size_t got = 0;
    if (!file.ReadAt(0, content.data(), content.size(), got)) return false;
    content.resize(got);  // the file may have shrunk meanwhile
    return true;
}
