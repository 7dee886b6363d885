// The stream index cache: per FLV file and per kind of stream, a parameter container saved in
// the user's application-data folder with the stream's description and its stored index, so
// that a second opening of the same file needs no walk.
//
// A file is named after the hash that the host gives as "FileHash", the component's key and
// version, and the kind letter ("v" video, "a" audio):
//   <application data>/Veltrano/FileCache/zevflashfile-5-0-1-207-v-<hash>.cache
// and is guarded across threads and processes by the named mutex
//   zevflashfile-5-0-1-207-v-<hash>
// held only for one existence test, load or save. The component never computes or checks the
// hash, and never deletes or expires a cache file.
#pragma once

#include <string>
#include <string_view>

#include "mediakit/MediaInterfaces.h"
#include "platform/ComPtr.h"

class CFLV_Manager;

// The key and version under which the component keeps its cache files.
inline constexpr wchar_t kCacheKey[] = L"zevflashfile";
inline constexpr wchar_t kCacheVersion[] = L"5,0,1,207";
inline constexpr wchar_t kCacheKindVideo[] = L"v";
inline constexpr wchar_t kCacheKindAudio[] = L"a";

// One cache file: its full path (empty until prepared) and its named mutex (none until
// prepared). Closing or destroying the handle closes the mutex and empties the path.
class CacheHandle {
  public:
    CacheHandle() = default;
    ~CacheHandle() { Close(); }
    CacheHandle(const CacheHandle&) = delete;
    CacheHandle& operator=(const CacheHandle&) = delete;

    void Close() noexcept;
    const std::wstring& Path() const noexcept { return path; }

  private:
    friend bool PrepareCache(CacheHandle&, const wchar_t*, const wchar_t*, const wchar_t*,
                             const wchar_t*);
    friend bool LoadCache(CacheHandle&, ComPtr<IMediaParams>&);
    friend bool SaveCache(CacheHandle&, IMediaParams*);

    // Holds the mutex for one operation; a mutex that could not be created makes the wait fail
    // at once and the operation go ahead unguarded.
    class Guard;

    std::wstring path;
    void* mutex = nullptr;
};

// A hash the component can use in a file name and a mutex name: not empty, at most 200
// characters, no path separator ('/' or '\\'), no control character, not "." or "..". Any other
// hash disables the cache for that open, so that no file outside the cache folder is ever read
// or written.
bool IsUsableFileHash(std::wstring_view hash);

// Prepares `handle` for the cache file of `hash` and reports whether the file exists. A missing,
// empty or unusable hash prepares nothing and answers false.
bool PrepareCache(CacheHandle& handle, const wchar_t* hash, const wchar_t* key,
                  const wchar_t* version, const wchar_t* kind);
// Loads the cache file into `container`: into the given container when there is one, else into
// a new one handed to the caller (also when the load fails). True when the load succeeded.
bool LoadCache(CacheHandle& handle, ComPtr<IMediaParams>& container);
// Saves `container` as the cache file, replacing an earlier one. A handle that was never
// prepared stores nothing.
bool SaveCache(CacheHandle& handle, IMediaParams* container);

// Fill a container with a stream's description and stored index, in this order:
//   video: "VideoExist", "AudioExist" (SetBool -1), "VideoCodecType", "VideoWidth",
//          "VideoHeight" (SetLong -1), "VideoFrameRate" (SetDouble -1), "VideoDateRate"
//          (SetLong -1), "FileVideoIndexes" (SetStream 0, 1);
//   audio: "VideoExist", "AudioExist", "AudioCodecType", "AudioDataRate", "FileAudioIndexes";
// then, when the stream changes its codec configuration later on, "FileVideoConfigChanges" or
// "FileAudioConfigChanges" (SetStream 0, 1; flv/StoredIndex.h).
// The index stream holds no bytes: it reads as the stored index stream of the manager's index
// and extra data of that kind, over the manager's records, shared (flv/StoredIndexStream.h), so
// that a save of the container makes the bytes as it writes them and the stream objects that
// load the container take the records without decoding anything.
// False for a null manager or container, or when the index stream cannot be made (the scalar
// values then stay set). May throw std::bad_alloc.
bool SaveVideoInfo(const CFLV_Manager* manager, IMediaParams* container);
bool SaveAudioInfo(const CFLV_Manager* manager, IMediaParams* container);

// Puts into `container`, as "FileVideoIndexes" (video true) or "FileAudioIndexes", a stream that
// reads as the stream of that name that the manager's last load read (CFLV_Manager::
// LoadedStoredIndex) but holds no bytes: its records are the manager's, shared
// (flv/StoredIndexStream.h). The stream objects that load the container take them without
// decoding anything, and the stream loaded from the cache file is let go. Nothing is put when
// that stream cannot be stood in for (the container keeps its bytes, and whoever loads it
// decodes them). Failures leave the container as it was.
void ShareIndexStream(const CFLV_Manager& manager, bool video, IMediaParams* container);
