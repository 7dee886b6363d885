#include "platform/File.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <utility>

#include "platform/TextConvert.h"

namespace {

DWORD ErrorFromErrno(int error) {
    switch (error) {
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EISDIR:
        case ENXIO:  // a FIFO without a reader, a device without its driver
        case EBADF:  // only for an open descriptor: reading a write handle or the reverse
            return ERROR_ACCESS_DENIED;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        case ENOSPC:
        case EDQUOT:
            return ERROR_DISK_FULL;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        default:
            return ERROR_INVALID_PARAMETER;
    }
}

// A path as the system takes it. Windows tells an empty path (ERROR_PATH_NOT_FOUND) from one
// that cannot name a file, as one with an embedded NUL (ERROR_INVALID_NAME).
bool ToSystemPath(std::wstring_view path, std::string& out, DWORD& error) {
    if (path.empty()) {
        error = ERROR_PATH_NOT_FOUND;
        return false;
    }
    if (path.find(L'\0') != std::wstring_view::npos) {
        error = ERROR_INVALID_NAME;
        return false;
    }
    out = WideToUtf8(path);
    return true;
}

// ENOENT is ERROR_PATH_NOT_FOUND when the folder is missing, ERROR_FILE_NOT_FOUND otherwise.
DWORD MissingError(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) return ERROR_FILE_NOT_FOUND;
    struct stat info {};
    const std::string folder = path.substr(0, slash);
    return ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? ERROR_FILE_NOT_FOUND
                                                                       : ERROR_PATH_NOT_FOUND;
}
}  // namespace

File::~File() {
    Close();
}

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
    if (!ToSystemPath(path, systemPath, lastError_)) return false;
    // O_NONBLOCK keeps the open of a FIFO from waiting for a peer; such a file is refused below.
    // Truncation waits until the file is known to be a regular one.
    const int flags =
        (mode == Mode::ReadShared ? O_RDONLY : O_WRONLY | O_CREAT) | O_CLOEXEC | O_NONBLOCK;
    const int descriptor = ::open(systemPath.c_str(), flags, 0644);
    if (descriptor < 0) {
        const int error = errno;
        lastError_ = error == ENOENT ? MissingError(systemPath) : ErrorFromErrno(error);
        return false;
    }
    struct stat info {};
    if (::fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(descriptor);
        lastError_ = ERROR_ACCESS_DENIED;
        return false;
    }
    if (mode == Mode::CreateForWrite && ::ftruncate(descriptor, 0) != 0) {
        lastError_ = ErrorFromErrno(errno);
        ::close(descriptor);
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

bool File::ReadOnce(std::uint64_t position, void* target, std::size_t count,
                    std::size_t& got) const {
    for (;;) {
        const ssize_t n = ::pread(descriptor_, target, count, static_cast<off_t>(position));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            lastError_ = ErrorFromErrno(errno);
            return false;
        }
        got = static_cast<std::size_t>(n);
        return true;
    }
}

bool File::WriteOnce(std::uint64_t position, const void* source, std::size_t count,
                     std::size_t& written) {
    for (;;) {
        const ssize_t n = ::pwrite(descriptor_, source, count, static_cast<off_t>(position));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            lastError_ = n < 0 ? ErrorFromErrno(errno) : ERROR_DISK_FULL;
            return false;
        }
        written = static_cast<std::size_t>(n);
        return true;
    }
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
    DWORD ignored = 0;
    struct stat info {};
    if (!ToSystemPath(path, systemPath, ignored) || ::stat(systemPath.c_str(), &info) != 0 ||
        !S_ISREG(info.st_mode)) {
        return false;
    }
    size = static_cast<std::uint64_t>(info.st_size);
    return true;
}

bool ReplaceFileAtomically(std::wstring_view path, const void* data, std::size_t size) {
    std::string systemPath;
    DWORD ignored = 0;
    if (!ToSystemPath(path, systemPath, ignored)) return false;
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
    // Make the rename itself durable; the file is complete either way.
    const std::size_t slash = systemPath.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : systemPath.substr(0, slash);
    const int folderDescriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderDescriptor >= 0) {
        (void)::fsync(folderDescriptor);
        ::close(folderDescriptor);
    }
    return true;
}
