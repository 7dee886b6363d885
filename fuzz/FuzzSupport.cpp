#include "fuzz/FuzzSupport.h"

#include <sys/mman.h>
#include <unistd.h>

#include <filesystem>

#include "mediakit/MediaKit.h"
#include "platform/Com.h"

namespace {
void WriteAll(int descriptor, const std::uint8_t* data, std::size_t size, std::uint64_t offset) {
    while (size > 0) {
        const ssize_t written = ::pwrite(descriptor, data, size, static_cast<off_t>(offset));
        FUZZ_CHECK(written > 0);
        data += written;
        size -= static_cast<std::size_t>(written);
        offset += static_cast<std::uint64_t>(written);
    }
}

// The private folder, removed at exit.
struct PrivateFolders {
    PrivateFolders() {
        const char* tmp = std::getenv("TMPDIR");
        const std::filesystem::path base =
            std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : (tmp ? tmp : "/tmp");
        root = base / ("flv-fuzz-" + std::to_string(::getpid()));
        std::filesystem::remove_all(root);
        std::filesystem::create_directories(root / "data");
        std::filesystem::create_directories(root / "run");
        data = (root / "data").string();
        ::setenv("XDG_DATA_HOME", data.c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", (root / "run").c_str(), 1);
    }
    ~PrivateFolders() {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    std::filesystem::path root;
    std::string data;
};
}  // namespace

MemoryFile::MemoryFile() {
    descriptor_ = ::memfd_create("fuzz-input", 0);
    FUZZ_CHECK(descriptor_ >= 0);
    path_ = L"/proc/self/fd/" + std::to_wstring(descriptor_);
}

MemoryFile::~MemoryFile() {
    if (descriptor_ >= 0) ::close(descriptor_);
}

void MemoryFile::Assign(const std::uint8_t* data, std::size_t size) {
    FUZZ_CHECK(::ftruncate(descriptor_, 0) == 0);
    size_ = 0;
    Append(data, size);
}

void MemoryFile::Append(const std::uint8_t* data, std::size_t size) {
    WriteAll(descriptor_, data, size, size_);
    size_ += size;
}

void RegisterMediaKit() {
    static const bool registered = [] {
        FUZZ_CHECK(MediaKitRegisterClasses() == S_OK);
        return true;
    }();
    (void)registered;
}

const std::string& UsePrivateFolders() {
    static const PrivateFolders folders;
    return folders.data;
}
