// fuzz_file: arbitrary bytes opened as an FLV file through FlashFile5, as a host opens a file:
// the source's walk, its stream objects, their decoders, reads to the end (bounded) with seeks,
// and a re-open.
//
// The input is the file. It is opened twice with the same hash: first without cache files (the
// file is walked and its index saved), then with them (the index comes from the cache). The
// cached open must find the same tracks, durations and packets as the one that walked the file.

#include "fuzz/FuzzSupport.h"

int FuzzFile(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kReadLimit = 24;
    static MemoryFile file;
    RegisterComponent();
    file.Assign(data, size);
    std::error_code ignored;
    std::filesystem::remove_all(CacheFilePath(UsePrivateFolders(), 'v', "fuzz").parent_path(),
                                ignored);
    const TrackReading walked = OpenAndRead(file.Path(), L"fuzz", kReadLimit);
    const TrackReading cached = OpenAndRead(file.Path(), L"fuzz", kReadLimit);
    FUZZ_CHECK(cached == walked);
    return 0;
}
