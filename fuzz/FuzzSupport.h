// The fuzz targets' entry points, one per parser entry point of the component, and what they
// share. Each entry point takes one input, checks what must hold for it (FUZZ_CHECK aborts
// otherwise) and returns 0; libFuzzer reaches each through FuzzMain.cpp, and the reliability
// tests replay files through all of them (and drive FlashFile5 with the helpers below).
//
// Shared: an in-memory file that CInputStream opens by path, the classes the targets create
// registered in the process, private folders for the index cache and the named mutexes,
// containers and memory streams, and FlashFile5 driven as a host drives it, each step's result
// checked to be one the component may give.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "flv/Header.h"
#include "flv/Manager.h"
#include "frame/Interfaces.h"
#include "io/InputStream.h"
#include "mediakit/MediaInterfaces.h"
#include "platform/Bstr.h"
#include "platform/ComPtr.h"
#include "platform/MemoryStream.h"

// CFLV_Manager's walk of a file, and its extension after the file grew (WalkFuzzer.cpp).
int FuzzWalk(const std::uint8_t* data, std::size_t size);
// CFLV_TemplateData reading tags at indexed positions and in sequence (TagFuzzer.cpp).
int FuzzTag(const std::uint8_t* data, std::size_t size);
// CFLV_ScriptData::Read of a script tag body, and its write back (ScriptFuzzer.cpp).
int FuzzScript(const std::uint8_t* data, std::size_t size);
// MediaParams::LoadFromFile of a container file, as the index cache keeps it (ParamsFuzzer.cpp).
int FuzzParams(const std::uint8_t* data, std::size_t size);
// The long values of a stored index's description, in the order of fuzz_stored_index's input.
inline constexpr const wchar_t* kStoredIndexLongNames[] = {L"VideoCodecType", L"VideoWidth",
                                                           L"VideoHeight",    L"VideoDateRate",
                                                           L"AudioCodecType", L"AudioDataRate"};
// A stored index loaded by CFLV_Manager and used by FlashFile5 as a stale index cache
// (StoredIndexFuzzer.cpp).
int FuzzStoredIndex(const std::uint8_t* data, std::size_t size);
// A file opened and read through FlashFile5, without and with the index cache (FileFuzzer.cpp).
int FuzzFile(const std::uint8_t* data, std::size_t size);

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
    // Opens `input` on the file (a failure is a broken check).
    void Open(CInputStream& input) const;
    void Append(const std::uint8_t* data, std::size_t size);
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

// The index cache file of `hash` and kind letter `kind` ('v', 'a') under the application-data
// folder `dataHome` (what XDG_DATA_HOME names).
std::filesystem::path CacheFilePath(const std::filesystem::path& dataHome, char kind,
                                    const std::string& hash);

// Walks the FLV file at `path` from its first tag into `manager`, as the source object does.
void WalkFile(const std::filesystem::path& path, CFLV_Manager& manager);

// A new parameter container (mediakit registered), a stream's whole content, and a memory
// stream at its start holding `bytes`; each failure is a broken check.
ComPtr<IMediaParams> NewContainer();
std::string StreamBytes(IStream* stream);
ComPtr<IStream> MemoryStreamOf(std::string_view bytes);

// Registers mediakit and the component's classes (FlashFile5 and both stream objects) once.
void RegisterComponent();

// S_OK or S_FALSE, a code of the component's error table, E_FAIL, E_POINTER or E_OUTOFMEMORY.
// Anything else (an uninitialised value, a code from nowhere) is a fault.
bool IsKnownComponentResult(HRESULT hr);

// A new FlashFile5 that has opened `path` ("OperationMode" 1, and "FileHash" `hash` unless
// null); null when the open failed, which must be with a known result (kept in `result`).
ComPtr<IMediaSource> OpenSource(const std::wstring& path, const wchar_t* hash,
                                HRESULT* result = nullptr);
// The current track count and duration of one kind (the call's result checked).
LONG TrackCount(IMediaSource* source, bool video);
double TrackDuration(IMediaSource* source, bool video);

// One delivered packet (its bytes only when asked for).
struct Packet {
    double time = 0.0;
    double duration = 0.0;
    std::string bytes;
};
// Reads the current track of one kind until no packet comes or a read fails (then `failed`,
// when given, is set), at most `limit` packets; audio `audioMs` at a time. Every packet lasts
// no less than nothing, on a timeline that never runs back.
std::vector<Packet> ReadPackets(IMediaSource* source, bool video, std::size_t limit,
                                bool keepBytes = false, double audioMs = 100.0,
                                bool* failed = nullptr);

// What a pass over the tracks saw: [0] video, [1] audio.
struct TrackReading {
    LONG tracks[2] = {};
    double duration[2] = {};
    std::size_t packets[2] = {};
    bool operator==(const TrackReading&) const = default;
};
// Reads the current video and audio track from the start (at most `limit` packets each), seeks
// to the middle, past the end and before the start and reads again, then re-opens the file and
// reads once more. Every result is checked.
TrackReading ReadTracks(IMediaSource* source, std::size_t limit);
// Opens `path` (with `hash`), reads it as ReadTracks does and closes it; nothing when the open
// failed.
TrackReading OpenAndRead(const std::wstring& path, const wchar_t* hash, std::size_t limit);
