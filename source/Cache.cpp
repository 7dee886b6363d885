#include "source/Cache.h"

#include <memory>

#include "flv/Manager.h"
#include "flv/StoredIndex.h"
#include "flv/StoredIndexStream.h"
#include "frame/ComponentModule.h"
#include "platform/Bstr.h"
#include "platform/Com.h"
#include "platform/Folders.h"
#include "platform/NamedMutex.h"

namespace {
constexpr std::size_t kMaxHashLength = 200;
constexpr wchar_t kVendorFolder[] = L"Veltrano";
constexpr wchar_t kCacheFolder[] = L"FileCache";
constexpr wchar_t kCacheExtension[] = L".cache";

// "zevflashfile-5-0-1-207-v-" with the commas of the prefix made dashes, then the hash as given.
std::wstring BaseName(const wchar_t* key, const wchar_t* version, const wchar_t* kind,
                      const wchar_t* hash) {
    std::wstring prefix = std::wstring(key) + L"-" + version + L"-" + kind + L"-";
    for (wchar_t& c : prefix) {
        if (c == L',') c = L'-';
    }
    return prefix + hash;
}

HRESULT SetBool(IMediaParams* container, const wchar_t* name, bool value) {
    return container->SetBool(Bstr(name).Get(), -1, value ? VARIANT_TRUE : VARIANT_FALSE);
}
HRESULT SetLong(IMediaParams* container, const wchar_t* name, LONG value) {
    return container->SetLong(Bstr(name).Get(), -1, value);
}

// The stored index of one stream under `name`: a stream over the manager's records, shared
// (flv/StoredIndexStream.h), whose bytes are made as a save of the container reads them. No
// serialized copy of the index is made, and the stream objects that load the container take the
// records without decoding them. False when the index cannot be written as a stored index.
bool SetIndexStream(IMediaParams* container, const wchar_t* name, const CFLV_Manager& manager,
                    bool video) {
    auto content = std::make_shared<StoredIndexContent>();
    const CExtraData* extra = video ? manager.videoExtra.get() : manager.audioExtra.get();
    if (extra != nullptr) (video ? content->videoExtra : content->audioExtra) = *extra;
    content->entries = video ? manager.videoIndex : manager.audioIndex;
    content->kind = video ? kStoredVideoKind : kStoredAudioKind;
    ComPtr<IStream> stream;
    const HRESULT made = CreateStoredIndexStream(std::move(content), &ComponentModule(), stream);
    if (made == E_OUTOFMEMORY) throw std::bad_alloc();
    if (FAILED(made)) return false;
    (void)container->SetStream(Bstr(name).Get(), 0, 1, stream.Get());
    return true;
}
// The later codec configurations of one stream as a memory stream under `name`; nothing when
// the stream has none (its cache file then reads as before they were kept).
void SetConfigChangesStream(IMediaParams* container, const wchar_t* name,
                            const std::vector<ConfigChange>& changes) {
    if (changes.empty()) return;
    ComPtr<IStream> stream;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, stream.Put()))) throw std::bad_alloc();
    const HRESULT written = WriteConfigChanges(stream.Get(), changes);
    if (written == E_OUTOFMEMORY) throw std::bad_alloc();
    if (SUCCEEDED(written)) (void)container->SetStream(Bstr(name).Get(), 0, 1, stream.Get());
}
}  // namespace

class CacheHandle::Guard {
  public:
    explicit Guard(void* mutex) : mutex_(mutex) {
        owned_ =
            mutex_ != nullptr && WaitForSingleObjectEx(mutex_, INFINITE, FALSE) == WAIT_OBJECT_0;
    }
    ~Guard() {
        if (owned_) ReleaseMutex(mutex_);
    }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

  private:
    void* mutex_;
    bool owned_ = false;
};

void CacheHandle::Close() noexcept {
    if (mutex != nullptr) CloseHandle(mutex);
    mutex = nullptr;
    path.clear();
}

namespace {
// Windows' reserved device names, which name a device whatever extension follows them.
bool IsDeviceName(std::wstring_view hash) {
    std::wstring stem(hash.substr(0, hash.find(L'.')));
    while (!stem.empty() && stem.back() == L' ') stem.pop_back();
    for (wchar_t& c : stem) {
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    }
    if (stem == L"CON" || stem == L"PRN" || stem == L"AUX" || stem == L"NUL" || stem == L"CONIN$" ||
        stem == L"CONOUT$") {
        return true;
    }
    return stem.size() == 4 && (stem.starts_with(L"COM") || stem.starts_with(L"LPT")) &&
           stem[3] >= L'1' && stem[3] <= L'9';
}
}  // namespace

bool IsUsableFileHash(std::wstring_view hash) {
    if (hash.empty() || hash.size() > kMaxHashLength || hash == L"." || hash == L"..") return false;
    // A Windows file name ends in neither a dot nor a space.
    if (hash.back() == L'.' || hash.back() == L' ') return false;
    constexpr std::wstring_view kNotInFileNames = L"/\\:*?\"<>|";
    for (wchar_t c : hash) {
        if (c < 0x20 || c == 0x7F || kNotInFileNames.find(c) != std::wstring_view::npos)
            return false;
    }
    return !IsDeviceName(hash);
}

bool PrepareCache(CacheHandle& handle, const wchar_t* hash, const wchar_t* key,
                  const wchar_t* version, const wchar_t* kind) {
    handle.Close();
    if (hash == nullptr || !IsUsableFileHash(hash)) return false;
    wchar_t folder[MAX_PATH];
    if (SUCCEEDED(
            SHGetFolderPathW(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, folder))) {
        // Failures to create the folders show later as a save that fails; they are not errors here.
        handle.path = std::wstring(folder) + kPathSeparator + kVendorFolder + kPathSeparator;
        (void)CreateDirectoryW(handle.path.c_str(), nullptr);
        handle.path += std::wstring(kCacheFolder) + kPathSeparator;
        (void)CreateDirectoryW(handle.path.c_str(), nullptr);
    }
    const std::wstring base = BaseName(key, version, kind, hash);
    // A long folder and hash may pass MAX_PATH: the long form keeps such a path usable for the
    // existence test, the load and the save alike.
    handle.path = LongPathForm(handle.path + base + kCacheExtension);
    handle.mutex = CreateMutexW(nullptr, FALSE, base.c_str());
    CacheHandle::Guard guard(handle.mutex);
    return PathFileExistsW(handle.path.c_str()) != FALSE;
}

bool LoadCache(CacheHandle& handle, ComPtr<IMediaParams>& container) {
    if (handle.path.empty()) return false;
    CacheHandle::Guard guard(handle.mutex);
    if (!PathFileExistsW(handle.path.c_str())) return false;
    if (!container && FAILED(CreateInstance(CLSID_MediaParams, container))) return false;
    return container->LoadFromFile(Bstr(handle.path).Get()) == S_OK;
}

bool SaveCache(CacheHandle& handle, IMediaParams* container) {
    if (container == nullptr || handle.path.empty()) return false;
    CacheHandle::Guard guard(handle.mutex);
    return container->SaveToFile(Bstr(handle.path).Get()) == S_OK;
}

bool SaveVideoInfo(const CFLV_Manager* manager, IMediaParams* container) {
    if (manager == nullptr || container == nullptr) return false;
    const StreamFacts& facts = manager->facts;
    SetBool(container, L"VideoExist", facts.hasVideo);
    SetBool(container, L"AudioExist", facts.hasAudio);
    SetLong(container, L"VideoCodecType", facts.videoCodec);
    SetLong(container, L"VideoWidth", facts.width);
    SetLong(container, L"VideoHeight", facts.height);
    (void)container->SetDouble(Bstr(L"VideoFrameRate").Get(), -1, facts.frameRate);
    SetLong(container, L"VideoDateRate", facts.videoDataRate);
    if (!SetIndexStream(container, L"FileVideoIndexes", *manager, true)) return false;
    SetConfigChangesStream(container, L"FileVideoConfigChanges", manager->videoConfigChanges);
    return true;
}

bool SaveAudioInfo(const CFLV_Manager* manager, IMediaParams* container) {
    if (manager == nullptr || container == nullptr) return false;
    const StreamFacts& facts = manager->facts;
    SetBool(container, L"VideoExist", facts.hasVideo);
    SetBool(container, L"AudioExist", facts.hasAudio);
    SetLong(container, L"AudioCodecType", facts.soundFormat);
    SetLong(container, L"AudioDataRate", facts.audioDataRate);
    if (!SetIndexStream(container, L"FileAudioIndexes", *manager, false)) return false;
    SetConfigChangesStream(container, L"FileAudioConfigChanges", manager->audioConfigChanges);
    return true;
}

void ShareIndexStream(const CFLV_Manager& manager, bool video, IMediaParams* container) {
    if (container == nullptr) return;
    std::shared_ptr<const StoredIndexContent> content = manager.LoadedStoredIndex(video);
    ComPtr<IStream> stream;
    if (!content ||
        FAILED(CreateStoredIndexStream(std::move(content), &ComponentModule(), stream))) {
        return;
    }
    (void)container->SetStream(Bstr(video ? L"FileVideoIndexes" : L"FileAudioIndexes").Get(), 0, 1,
                               stream.Get());
}
