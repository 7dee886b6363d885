#include "source/FlashFile5.h"

#include <cstring>

#include "flv/Header.h"
#include "platform/Bstr.h"
#include "platform/Com.h"
#include "platform/Variant.h"
#include "source/Cache.h"

namespace {
constexpr LONG kOperationModeRead = 1;
constexpr LONG kStateOpen = 1;
// Merge flags: every name replaces the same name, containers and streams shared.
constexpr LONG kMergeShared = 0x101;
// The flag of the object setters that shares the reference.
constexpr LONG kShareObject = 1;

bool ReadBool(IMediaParams* params, const wchar_t* name) {
    VARIANT_BOOL value = VARIANT_FALSE;
    (void)params->GetBoolDef(Bstr(name).Get(), -1, VARIANT_FALSE, &value);
    return value != VARIANT_FALSE;
}

// A flag of a cache container; false when it is missing.
bool CacheFlag(IMediaParams* cache, const wchar_t* name) {
    VARIANT_BOOL value = VARIANT_FALSE;
    return SUCCEEDED(cache->GetBool(Bstr(name).Get(), -1, &value)) && value != VARIANT_FALSE;
}

// Prepares the cache file of one kind and loads it when it exists; null when nothing loaded.
ComPtr<IMediaParams> LoadKind(CacheHandle& handle, const wchar_t* hash, const wchar_t* kind) {
    ComPtr<IMediaParams> loaded;
    if (!PrepareCache(handle, hash, kCacheKey, kCacheVersion, kind)) return nullptr;
    if (!LoadCache(handle, loaded)) return nullptr;
    return loaded;
}

// Whether the stored indexes of the loaded cache files describe everything the open needs. A
// cache file of one kind that says the other kind exists too is not enough when that kind is
// to be opened: its index would be missing, and with it the track.
bool UseStoredIndexes(IMediaParams* videoCache, IMediaParams* audioCache, bool onlyVideo,
                      bool onlyAudio) {
    if (videoCache && audioCache) {
        return CacheFlag(videoCache, L"VideoExist") && CacheFlag(videoCache, L"AudioExist");
    }
    if (videoCache) {
        return CacheFlag(videoCache, L"VideoExist") &&
               (onlyVideo || !CacheFlag(videoCache, L"AudioExist"));
    }
    if (audioCache) {
        return CacheFlag(audioCache, L"AudioExist") &&
               (onlyAudio || !CacheFlag(audioCache, L"VideoExist"));
    }
    return false;
}

// The bits of a variant's value as a signed 32-bit integer: its low 32 bits, whatever its type.
LONG LowLong(const VARIANT& value) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value.llVal, sizeof bits);
    return static_cast<LONG>(static_cast<std::uint32_t>(bits));
}

// Names compare case-sensitively; a null name matches nothing.
bool NameIs(BSTR name, const wchar_t* known) {
    return name != nullptr &&
           VarBstrCmp(name, Bstr(known).Get(), LOCALE_USER_DEFAULT, 0) == VARCMP_EQ;
}
}  // namespace

CFlashFile5::~CFlashFile5() {
    CloseFile(true);
}

// ---------------------------------------------------------------------------------------------
// Commands
// ---------------------------------------------------------------------------------------------

HRESULT CFlashFile5::SendCommandEx(ULONGLONG command, IUnknown* cmdParams, IUnknown** outInfo) {
    CriticalSectionLock guard(lock_);
    if (outInfo != nullptr) *outInfo = nullptr;
    return GuardedCall([&]() -> HRESULT {
        ComPtr<IMediaParams> params;
        if (cmdParams != nullptr) (void)QueryTo(cmdParams, params);
        if (params && static_cast<std::uint32_t>(command) == 0) {
            ULONGLONG operation = 0;
            if (SUCCEEDED(params->GetUInt64(Bstr(L"Operation").Get(), -1, &operation))) {
                command = operation;
            }
        }
        switch (static_cast<std::uint32_t>(command)) {
            case kCommandOpen:
                return OpenFile(params.Get());
            case kCommandClose:
                CloseFile(false);
                return S_OK;
            case kCommandPutContainerDesc:
                return put_ContainerDesc(cmdParams);
            case kCommandGetContainerDesc:
                return get_ContainerDesc(outInfo);
            default:
                return S_OK;
        }
    });
}

// ---------------------------------------------------------------------------------------------
// Open and close
// ---------------------------------------------------------------------------------------------

HRESULT CFlashFile5::OpenFile(IMediaParams* params) {
    CriticalSectionLock guard(lock_);
    if (input_) CloseFile(false);

    if (params == nullptr) return RaiseError(ZEV_E_INVALIDARG);
    LONG mode = -1;
    if (FAILED(params->GetLongDef(Bstr(L"OperationMode").Get(), -1, -1, &mode)) ||
        mode != kOperationModeRead) {
        return RaiseError(ZEV_E_INVALIDARG);
    }
    Bstr fileName;
    if (FAILED(params->GetString(Bstr(L"FileName").Get(), -1, fileName.Put()))) {
        return RaiseError(ZEV_E_INVALIDARG);
    }
    const bool onlyVideo = ReadBool(params, L"OnlyVideoOpen");
    const bool onlyAudio = ReadBool(params, L"OnlyAudioOpen");
    videoStreams_.clear();
    audioStreams_.clear();

    auto input = std::make_unique<CInputStream>();
    input->Open(fileName.View());
    // A file that cannot be opened (missing, a directory, no permission) is an error, not an
    // open file without tracks.
    if (!input->IsOpen()) return RaiseError(ZEV_E_FILEACCESS);
    input_ = std::move(input);

    CFLV_Header header;
    (void)header.Read(*input_);
    std::uint32_t previousTagSize = 0;
    (void)input_->ReadValue(previousTagSize, FieldType::UI32);
    if (!header.HasFlvSignature()) {
        // Not an FLV file: open, with no track.
        state_ = kStateOpen;
        return S_OK;
    }
    if (!manager_) manager_ = std::make_unique<CFLV_Manager>();

    CacheHandle videoHandle;
    CacheHandle audioHandle;
    ComPtr<IMediaParams> videoCache;
    ComPtr<IMediaParams> audioCache;
    Bstr hash;
    if (SUCCEEDED(params->GetString(Bstr(L"FileHash").Get(), -1, hash.Put())) &&
        IsUsableFileHash(hash.View())) {
        fileHash_ = hash.View();
        videoCache = LoadKind(videoHandle, hash.Get(), kCacheKindVideo);
        audioCache = LoadKind(audioHandle, hash.Get(), kCacheKindAudio);
    }
    ComPtr<IMediaParams> stored;
    if (UseStoredIndexes(videoCache.Get(), audioCache.Get(), onlyVideo, onlyAudio) &&
        SUCCEEDED(::CreateInstance(CLSID_MediaParams, stored))) {
        if (videoCache) (void)stored->Merge(kMergeShared, videoCache.Get());
        if (audioCache) (void)stored->Merge(kMergeShared, audioCache.Get());
    }
    const std::uint64_t firstTag = input_->Tell();
    manager_->BuildIndex(stored.Get(), *input_);
    stored = nullptr;
    if (manager_->StoredIndexUnusable()) {
        // A cache file found damaged as its index was read: as one that does not load, the file
        // is walked (by a new manager) and the cache files are written again.
        videoCache = nullptr;
        audioCache = nullptr;
        manager_ = std::make_unique<CFLV_Manager>();
        if (input_->SeekTo(firstTag)) manager_->BuildIndex(nullptr, *input_);
    }
    // The index is decoded once, here: the containers handed to the stream objects get streams
    // over the manager's records in place of the loaded ones (the same bytes to anyone who reads
    // them), which the stream objects take without decoding again.
    if (videoCache) ShareIndexStream(*manager_, true, videoCache.Get());
    if (audioCache) ShareIndexStream(*manager_, false, audioCache.Get());

    (void)params->SetLong(Bstr(L"ReadColorSpace").Get(), 0, colourSpace_);
    StreamList video;
    StreamList audio;
    if (!onlyAudio && manager_->facts.hasVideo) {
        const HRESULT hr = OpenStream(Kind::kVideo, params, videoCache.Get(), videoHandle, video);
        if (FAILED(hr)) return hr;
    }
    if (!onlyVideo && manager_->facts.hasAudio) {
        const HRESULT hr = OpenStream(Kind::kAudio, params, audioCache.Get(), audioHandle, audio);
        if (FAILED(hr)) return hr;
    }
    videoStreams_ = std::move(video);
    audioStreams_ = std::move(audio);
    state_ = kStateOpen;
    return S_OK;
}

HRESULT CFlashFile5::OpenStream(Kind kind, IMediaParams* params, IMediaParams* loaded,
                                CacheHandle& cache, StreamList& opened) {
    ComPtr<IMediaStream> stream = NewStream(kind);
    if (!stream) return RaiseError(ZEV_E_MEMORY);
    ComPtr<IMediaParams> info(loaded);
    if (!info) {
        if (FAILED(::CreateInstance(CLSID_MediaParams, info))) return RaiseError(ZEV_E_MEMORY);
        const bool filled = kind == Kind::kVideo ? SaveVideoInfo(manager_.get(), info.Get())
                                                 : SaveAudioInfo(manager_.get(), info.Get());
        if (filled) (void)SaveCache(cache, info.Get());
    }
    (void)params->SetParams(Bstr(L"FLVSettings").Get(), 0, kShareObject, info.Get());
    const HRESULT hr = stream->SendCommandEx(kStreamOpen, params, nullptr);
    // A stream object's failure passes on unchanged; a positive internal code is a failure too,
    // and is translated so that the host does not take it for success.
    if (hr < 0) return hr;
    if (hr > 0) return MapResult(hr);
    // A colour space asked for before the open reaches the new video stream object too (its
    // open does not read "ReadColorSpace"); the default needs no message.
    if (kind == Kind::kVideo && colourSpace_ != 0) {
        (void)stream->SendCommandEx(kStreamColorSpace, params, nullptr);
    }
    opened.push_back(std::move(stream));
    return S_OK;
}

void CFlashFile5::CloseFile(bool final) noexcept {
    CriticalSectionLock guard(lock_);
    SendToAll(kStreamClose, nullptr);
    input_.reset();
    manager_.reset();
    ResetState(final);
    state_ = 0;
}

void CFlashFile5::ResetState(bool final) noexcept {
    fileHash_.clear();
    colourSpace_ = 0;
    currentAudioTrack_ = 0;
    currentVideoTrack_ = 0;
    containerDesc_ = nullptr;
    videoStreams_.clear();
    audioStreams_.clear();
    if (final) return;
    // The placeholders: a container description and one unopened stream object of each kind.
    (void)::CreateInstance(CLSID_MediaParams, containerDesc_);
    try {
        if (ComPtr<IMediaStream> stream = NewStream(Kind::kVideo)) videoStreams_.push_back(stream);
        if (ComPtr<IMediaStream> stream = NewStream(Kind::kAudio)) audioStreams_.push_back(stream);
    } catch (const std::bad_alloc&) {
        // A placeholder that cannot be appended is left out.
    }
}

ComPtr<IMediaStream> CFlashFile5::NewStream(Kind kind) noexcept {
    ComPtr<IMediaStream> stream;
    (void)::CreateInstance(kind == Kind::kVideo ? CLSID_FlashVideoStream5 : CLSID_FlashAudioStream5,
                           stream);
    return stream;
}

void CFlashFile5::SendToAll(std::uint32_t command, IUnknown* params) {
    for (const ComPtr<IMediaStream>& stream : videoStreams_) {
        (void)stream->SendCommandEx(command, params, nullptr);
    }
    for (const ComPtr<IMediaStream>& stream : audioStreams_) {
        (void)stream->SendCommandEx(command, params, nullptr);
    }
}

// ---------------------------------------------------------------------------------------------
// Parameters
// ---------------------------------------------------------------------------------------------

HRESULT CFlashFile5::SetParam(BSTR name, VARIANT value) {
    CriticalSectionLock guard(lock_);
    return GuardedCall([&]() -> HRESULT {
        Variant copy;
        const HRESULT copied = copy.CopyFrom(&value);
        if (FAILED(copied)) return copied;
        if (NameIs(name, L"DecodeColorSpace")) colourSpace_ = LowLong(*copy.Get());
        // Whatever the name, the stream objects hear the current colour space.
        ComPtr<IMediaParams> container;
        if (SUCCEEDED(::CreateInstance(CLSID_MediaParams, container))) {
            (void)container->SetLong(Bstr(L"ReadColorSpace").Get(), 0, colourSpace_);
        }
        SendToAll(kStreamColorSpace, container.Get());
        return S_OK;
    });
}

HRESULT CFlashFile5::GetParam(BSTR name, VARIANT* value) {
    CriticalSectionLock guard(lock_);
    return GuardedCall([&]() -> HRESULT {
        if (!NameIs(name, L"HasTransparent")) return S_OK;
        if (value == nullptr) return E_POINTER;
        // An out value: what the variant held before is the caller's, and is not cleared.
        value->vt = VT_BOOL;
        value->boolVal = VARIANT_FALSE;
        return S_OK;
    });
}

// ---------------------------------------------------------------------------------------------
// IConnectionPointContainer
// ---------------------------------------------------------------------------------------------

HRESULT CFlashFile5::EnumConnectionPoints(IEnumConnectionPoints** points) {
    CConnectionPoint* const all[] = {&events_};
    return EnumConnectionPointsOf(all, points);
}

HRESULT CFlashFile5::FindConnectionPoint(REFIID riid, IConnectionPoint** point) {
    CConnectionPoint* const all[] = {&events_};
    return FindConnectionPointIn(all, riid, point);
}
