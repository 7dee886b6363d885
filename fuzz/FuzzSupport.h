// What the fuzz targets share: an in-memory file that CInputStream opens by path, the classes
// the targets create registered in the process, private folders for the index cache and the
// named mutexes, and the check that stops a run on a broken invariant.
//
// A check that fails prints what broke and aborts, so libFuzzer keeps the input as a crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/Types.h"

#define FUZZ_CHECK(condition)                                                \
    do {                                                                     \
        if (!(condition)) ::FuzzCheckFailed(#condition, __FILE__, __LINE__); \
    } while (false)

[[noreturn]] inline void FuzzCheckFailed(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "fuzz check failed: %s at %s:%d\n", condition, file, line);
    std::abort();
}

// A file in memory (memfd) with a path that any open() accepts: /proc/self/fd/N. One per target
// serves every input: Assign replaces the content, Append grows it as a writer would.
class MemoryFile {
  public:
    MemoryFile();
    ~MemoryFile();
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    void Assign(const std::uint8_t* data, std::size_t size);
    void Append(const std::uint8_t* data, std::size_t size);
    std::uint64_t Size() const noexcept { return size_; }
    const std::wstring& Path() const noexcept { return path_; }

  private:
    int descriptor_ = -1;
    std::uint64_t size_ = 0;
    std::wstring path_;
};

// Registers the mediakit classes (the parameter container, packets, formats, decoders) once.
void RegisterMediaKit();

// Points the application-data folder (XDG_DATA_HOME) and the lock folder (XDG_RUNTIME_DIR) at a
// fresh folder of this process under /dev/shm (or $TMPDIR), removed when the process ends.
// Returns the application-data folder.
const std::string& UsePrivateFolders();
