#include "platform/File.h"

#include <atomic>
#include <string>
#include <utility>

namespace {
HANDLE AsHandle(void* handle) {
    return static_cast<HANDLE>(handle);
}

// The OVERLAPPED of a positioned transfer on a synchronous handle.
OVERLAPPED At(std::uint64_t offset) {
    OVERLAPPED overlapped{};
    overlapped.Offset = static_cast<DWORD>(offset);
    overlapped.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return overlapped;
}

bool ValidPath(std::wstring_view path, DWORD& error) {
    if (path.empty()) {
        error = ERROR_PATH_NOT_FOUND;
        return false;
    }
    if (path.find(L'\0') != std::wstring_view::npos) {
        error = ERROR_INVALID_NAME;
        return false;
    }
    return true;
}
}  // namespace

File::~File() {
    Close();
}

File::File(File&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), lastError_(other.lastError_) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = std::exchange(other.handle_, nullptr);
        lastError_ = other.lastError_;
    }
    return *this;
}

bool File::Open(std::wstring_view path, Mode mode) {
    Close();
    if (!ValidPath(path, lastError_)) return false;
    const std::wstring name(path);
    // Readers share everything, so that writers keep writing and a cache save may rename a new
    // file over the one being read. A directory does not open (ERROR_ACCESS_DENIED) without
    // FILE_FLAG_BACKUP_SEMANTICS.
    const HANDLE handle = mode == Mode::ReadShared
                              ? CreateFileW(name.c_str(), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                              : CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        lastError_ = GetLastError();
        return false;
    }
    // Only files on a disk: a pipe or a device name ("CON", "NUL") is refused.
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        lastError_ = ERROR_ACCESS_DENIED;
        return false;
    }
    handle_ = handle;
    lastError_ = ERROR_SUCCESS;
    return true;
}

void File::Close() noexcept {
    if (handle_ != nullptr) CloseHandle(AsHandle(std::exchange(handle_, nullptr)));
}

bool File::Size(std::uint64_t& size) const {
    LARGE_INTEGER value{};
    if (handle_ == nullptr) {
        lastError_ = ERROR_INVALID_HANDLE;
        return false;
    }
    if (!GetFileSizeEx(AsHandle(handle_), &value)) {
        lastError_ = GetLastError();
        return false;
    }
    size = static_cast<std::uint64_t>(value.QuadPart);
    return true;
}

bool File::ReadOnce(std::uint64_t position, void* target, std::size_t count,
                    std::size_t& got) const {
    OVERLAPPED overlapped = At(position);
    DWORD n = 0;
    if (!ReadFile(AsHandle(handle_), target, static_cast<DWORD>(count), &n, &overlapped)) {
        const DWORD error = GetLastError();
        if (error != ERROR_HANDLE_EOF) {  // at or past the end of the file: nothing read
            lastError_ = error;
            return false;
        }
    }
    got = n;
    return true;
}

bool File::WriteOnce(std::uint64_t position, const void* source, std::size_t count,
                     std::size_t& written) {
    OVERLAPPED overlapped = At(position);
    DWORD n = 0;
    if (!WriteFile(AsHandle(handle_), source, static_cast<DWORD>(count), &n, &overlapped) ||
        n == 0) {
        lastError_ = n == 0 ? ERROR_DISK_FULL : GetLastError();
        return false;
    }
    written = n;
    return true;
}

bool File::Sync() {
    if (handle_ == nullptr || !FlushFileBuffers(AsHandle(handle_))) {
        lastError_ = handle_ == nullptr ? ERROR_INVALID_HANDLE : GetLastError();
        return false;
    }
    return true;
}

bool File::SizeOfPath(std::wstring_view path, std::uint64_t& size) {
    DWORD ignored = 0;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!ValidPath(path, ignored) ||
        !GetFileAttributesExW(std::wstring(path).c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) {
        return false;
    }
    size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

bool ReplaceFileAtomically(std::wstring_view path, const void* data, std::size_t size) {
    DWORD ignored = 0;
    if (!ValidPath(path, ignored)) return false;
    const std::wstring target(path);
    // A temporary name unique to this process and call, in the same folder (so that the move is
    // a rename on one volume).
    static std::atomic<unsigned> counter{0};
    const std::wstring temporary = target + L".tmp." + std::to_wstring(GetCurrentProcessId()) +
                                   L"." +
                                   std::to_wstring(counter.fetch_add(1, std::memory_order_relaxed));
    File file;
    if (!file.Open(temporary, File::Mode::CreateForWrite)) return false;
    const bool written = file.WriteAt(0, data, size) && file.Sync();
    file.Close();
    if (!written) {
        DeleteFileW(temporary.c_str());
        return false;
    }
    constexpr DWORD kMoveFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    if (MoveFileExW(temporary.c_str(), target.c_str(), kMoveFlags)) return true;
    // A file that someone holds open cannot be renamed over (ERROR_ACCESS_DENIED), even when
    // every handle shares deletion, as File::Mode::ReadShared does (a loaded container keeps its
    // cache file open to read its large streams). Such a file can itself be renamed and deleted:
    // it goes aside under a name of its own and is deleted (it disappears when the last handle
    // closes; its readers keep reading the old bytes), and the new file takes its name. A
    // folder, or anything else that fails, stays as it was.
    const DWORD attributes = GetFileAttributesW(target.c_str());
    const bool heldFile =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    const std::wstring aside = temporary + L".old";
    if (heldFile && MoveFileExW(target.c_str(), aside.c_str(), MOVEFILE_WRITE_THROUGH)) {
        if (MoveFileExW(temporary.c_str(), target.c_str(), kMoveFlags)) {
            DeleteFileW(aside.c_str());
            return true;
        }
        (void)MoveFileExW(aside.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH);
    }
    DeleteFileW(temporary.c_str());
    return false;
}
