// fuzz_file: arbitrary bytes opened as an FLV file through FlashFile5, as a host opens a file:
// the source's walk, its stream objects, their decoders, reads to the end (bounded) with seeks,
// and a re-open.
//
// The input is the file. It is opened twice with the same hash: first without cache files (the
// file is walked and its index saved), then with them (the index comes from the cache). The
// cached open must find the same tracks, durations and packets as the one that walked the file.
#include <cstdint>
#include <filesystem>

#include "fuzz/FuzzSource.h"
#include "fuzz/FuzzSupport.h"
#include "fuzz/FuzzTargets.h"

namespace {
constexpr std::size_t kReadLimit = 24;

void RemoveCacheFiles() {
    const std::filesystem::path folder =
        std::filesystem::path(UsePrivateFolders()) / "Veltrano" / "FileCache";
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

TrackReading OpenAndRead(const std::wstring& path, const wchar_t* hash) {
    TrackReading reading;
    if (ComPtr<IMediaSource> source = OpenSource(path, hash)) {
        reading = ReadTracks(source.Get(), kReadLimit);
        FUZZ_CHECK(source->SendCommandEx(3, nullptr, nullptr) == S_OK);
    }
    return reading;
}
}  // namespace

int FuzzFile(const std::uint8_t* data, std::size_t size) {
    static MemoryFile file;
    RegisterComponent();
    (void)UsePrivateFolders();
    file.Assign(data, size);

    RemoveCacheFiles();
    const TrackReading walked = OpenAndRead(file.Path(), L"fuzz");
    const TrackReading cached = OpenAndRead(file.Path(), L"fuzz");

    FUZZ_CHECK(cached.videoTracks == walked.videoTracks);
    FUZZ_CHECK(cached.audioTracks == walked.audioTracks);
    FUZZ_CHECK(cached.videoDuration == walked.videoDuration);
    FUZZ_CHECK(cached.audioDuration == walked.audioDuration);
    FUZZ_CHECK(cached.videoPackets == walked.videoPackets);
    FUZZ_CHECK(cached.audioPackets == walked.audioPackets);
    return 0;
}
