// What the reliability tests and their worker program share, beside FlashFile5 driven as a host
// drives it (fuzz/FuzzSupport.h): the index a fresh walk gives, the stored index of a cache
// file, and the worker processes.
//
// No GoogleTest here: the worker program (ReliabilityWorker.cpp) uses it too.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"

// Opens `file` through a new FlashFile5 (see OpenSource); null when the open failed.
inline ComPtr<IMediaSource> OpenFile(const std::filesystem::path& file, const wchar_t* hash,
                                     HRESULT* result = nullptr) {
    return OpenSource(file.wstring(), hash, result);
}

// What one walk of the whole file gives, as the source object walks it.
struct ScannedFile {
    std::vector<IndexEntry> video;
    std::vector<IndexEntry> audio;
    StreamFacts facts;
};
ScannedFile ScanFile(const std::filesystem::path& file);

// The stored index that a cache container holds, or a cache file (false when it does not load).
void StoredIndexIn(IMediaParams* cache, std::vector<IndexEntry>& video,
                   std::vector<IndexEntry>& audio);
bool StoredIndexOf(const std::filesystem::path& cacheFile, std::vector<IndexEntry>& video,
                   std::vector<IndexEntry>& audio);
// The cache file loads and holds the walk's video (or audio) index.
bool HoldsIndex(const std::filesystem::path& cacheFile, const ScannedFile& scanned, bool video);

// Starts the worker program (reliability_worker, beside the test programs) with `arguments`;
// the environment is inherited. Returns its process id, or -1.
int StartWorker(const std::vector<std::string>& arguments);
// Waits for a worker: its exit status, or -1 when it did not exit normally. With `poll`, does
// not wait: false while the worker runs.
bool WorkerEnded(int pid, int& status, bool poll = true);
