// What the reliability tests and their worker program share: opening a file through FlashFile5
// (its classes registered in the process), reading a track to its current end, the index a
// fresh walk gives, and the stored index of a cache file.
//
// No GoogleTest here: the worker program (ReliabilityWorker.cpp) uses it too.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "flv/IndexEntry.h"
#include "flv/StreamFacts.h"
#include "frame/Interfaces.h"
#include "platform/ComPtr.h"

// Registers mediakit, FlashFile5 and both stream objects in this process once.
void RegisterReliabilityClasses();

// Opens `file` through a new FlashFile5 ("OperationMode" 1, "FileName", and "FileHash" unless
// `hash` is null); `source` is set whatever the result.
HRESULT OpenThroughSource(const std::filesystem::path& file, const wchar_t* hash,
                          ComPtr<IMediaSource>& source);
long TrackCount(IMediaSource* source, bool video);
double TrackDuration(IMediaSource* source, bool video);

// One packet as the host received it.
struct DeliveredPacket {
    double time = 0.0;
    double duration = 0.0;
    std::string bytes;
};
// Reads the current track of one kind until no packet comes or a read fails (at most `limit`
// packets); audio in blocks of `audioMs`. `failed` (optional) tells whether a read failed.
std::vector<DeliveredPacket> ReadToCurrentEnd(IMediaSource* source, bool video, std::size_t limit,
                                              double audioMs = 100.0, bool* failed = nullptr);

// What one walk of the whole file gives, as the source object walks it.
struct ScannedFile {
    std::vector<IndexEntry> video;
    std::vector<IndexEntry> audio;
    StreamFacts facts;
};
ScannedFile ScanFile(const std::filesystem::path& file);

// The cache file of `hash` and kind letter `kind` ('v', 'a') under the application-data folder
// `dataHome` (what XDG_DATA_HOME names).
std::filesystem::path CacheFilePath(const std::filesystem::path& dataHome, char kind,
                                    const std::string& hash);
// The stored index that a cache file holds; false when the file does not load.
bool StoredIndexOf(const std::filesystem::path& cacheFile, std::vector<IndexEntry>& video,
                   std::vector<IndexEntry>& audio);

std::string ReadWhole(const std::filesystem::path& file);
void WriteWhole(const std::filesystem::path& file, const std::string& bytes);

// Starts the worker program (reliability_worker, beside the test programs) with `arguments`;
// the environment is inherited. Returns its process id, or -1.
int StartWorker(const std::vector<std::string>& arguments);
// Waits for a worker; its exit status, or -1 when it did not exit normally.
int WaitForWorker(int pid);
// True once the worker has ended (then `status` is as WaitForWorker gives it).
bool WorkerEnded(int pid, int& status);
