#include "platform/File.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <utility>

#include "platform/TextConvert.h"

namespace {
std::atomic<std::uint64_t> g_bytesRead{0};

DWORD ErrorFromErrno(int error) {
    switch (error) {
        case ENOENT: return ERROR_FILE_NOT_FOUND;
        case ENOTDIR: return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EISDIR: return ERROR_ACCESS_DENIED;
        case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
        case EBADF: return ERROR_INVALID_HANDLE;
        default: return ERROR_INVALID_PARAMETER;
    }
}

// A path as the system takes it; a path with an embedded NUL cannot name a file.
bool ToSystemPath(std::wstring_view path, std::string& out) {
    if (path.empty() || path.find(L'\0') != std::wstring_view::npos) return false;
    out = WideToUtf8(path);
    return true;
}
}  // namespace

File::~File() { Close(); }

File::File(File&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, -1)), lastError_(other.lastError_) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        descriptor_ = std::exchange(other.descriptor_, -1);
        lastError_ = other.lastError_;
    }
    return *this;
}

bool File::Open(std::wstring_view path, Mode mode) {
    Close();
    std::string systemPath;
    if (!ToSystemPath(path, systemPath)) {
        lastError_ = ERROR_FILE_NOT_FOUND;
        return false;
    }
    const int flags = mode == Mode::ReadShared ? O_RDONLY | O_CLOEXEC | O_NONBLOCK : O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC;
    // O_NONBLOCK keeps the open of a FIFO from waiting for a writer; such a file is refused below.
    const int descriptor = ::open(systemPath.c_str(), flags, 0644);
    if (descriptor < 0) {
        lastError_ = ErrorFromErrno(errno);
        return false;
    }
    struct stat info {};
    if (::fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(descriptor);
        lastError_ = ERROR_ACCESS_DENIED;
        return false;
    }
    descriptor_ = descriptor;
    lastError_ = ERROR_SUCCESS;
    return true;
}

void File::Close() noexcept {
    if (descriptor_ >= 0) ::close(std::exchange(descriptor_, -1));
}

bool File::Size(std::uint64_t& size) const {
    struct stat info {};
    if (descriptor_ < 0) {
        lastError_ = ERROR_INVALID_HANDLE;
        return false;
    }
    if (::fstat(descriptor_, &info) != 0) {
        lastError_ = ErrorFromErrno(errno);
        return false;
    }
    size = static_cast<std::uint64_t>(info.st_size);
    return true;
}

bool File::ReadAt(std::uint64_t offset, void* buffer, std::size_t count, std::size_t& got) const {
    got = 0;
    if (descriptor_ < 0) {
        lastError_ = ERROR_INVALID_HANDLE;
        return false;
    }
    if (offset > static_cast<std::uint64_t>(LLONG_MAX)) {
        lastError_ = ERROR_INVALID_PARAMETER;
        return false;
    }
    auto* target = static_cast<unsigned char*>(buffer);
    while (got < count) {
        const ssize_t n = ::pread(descriptor_, target + got, count - got, static_cast<off_t>(offset + got));
        if (n < 0) {
            if (errno == EINTR) continue;
            lastError_ = ErrorFromErrno(errno);
            g_bytesRead.fetch_add(got, std::memory_order_relaxed);
            return false;
        }
        if (n == 0) break;  // end of file
        got += static_cast<std::size_t>(n);
    }
    g_bytesRead.fetch_add(got, std::memory_order_relaxed);
    return true;
}

bool File::WriteAt(std::uint64_t offset, const void* buffer, std::size_t count) {
    if (descriptor_ < 0) {
        lastError_ = ERROR_INVALID_HANDLE;
        return false;
    }
    const auto* source = static_cast<const unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::pwrite(descriptor_, source + done, count - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            lastError_ = ErrorFromErrno(errno);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool File::Sync() {
    if (descriptor_ < 0 || ::fsync(descriptor_) != 0) {
        lastError_ = descriptor_ < 0 ? ERROR_INVALID_HANDLE : ErrorFromErrno(errno);
        return false;
    }
    return true;
}

bool File::SizeOfPath(std::wstring_view path, std::uint64_t& size) {
    std::string systemPath;
    struct stat info {};
    if (!ToSystemPath(path, systemPath) || ::stat(systemPath.c_str(), &info) != 0) return false;
    size = static_cast<std::uint64_t>(info.st_size);
    return true;
}

std::uint64_t File::TotalBytesRead() noexcept { return g_bytesRead.load(std::memory_order_relaxed); }

bool ReplaceFileAtomically(std::wstring_view path, const void* data, std::size_t size) {
    std::string systemPath;
    if (!ToSystemPath(path, systemPath)) return false;
    // A temporary name unique to this process and call, in the same folder (so rename is atomic).
    static std::atomic<unsigned> counter{0};
    const std::string temporary = systemPath + ".tmp." + std::to_string(::getpid()) + "." +
                                  std::to_string(counter.fetch_add(1, std::memory_order_relaxed));
    File file;
    if (!file.Open(Utf8ToWide(temporary), File::Mode::CreateForWrite)) return false;
    const bool written = file.WriteAt(0, data, size) && file.Sync();
    file.Close();
    if (!written || ::rename(temporary.c_str(), systemPath.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool ReadWholeFile(std::wstring_view path, std::string& content, std::uint64_t limit) {
    File file;
    std::uint64_t size = 0;
    if (!file.Open(path, File::Mode::ReadShared) || !file.Size(size) || size > limit) return false;
    content.resize(static_cast<std::size_t>(size));
    std::size_t got = 0;
    if (!file.ReadAt(0, content.data(), content.size(), got)) return false;
    content.resize(got);  // the file may have shrunk meanwhile
    return true;
}
