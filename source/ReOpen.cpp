// ReOpenFile: for a file that another program is still writing. The source measures the file
// again, lets its manager index the tags added since the last walk, stores the grown index in
// the index cache, and hands it to its first video and first audio stream object (command
// 1006), which replace their own indexes with it. No tag already indexed is read again.
#include "platform/Bstr.h"
#include "platform/Com.h"
#include "source/Cache.h"
#include "source/FlashFile5.h"

namespace {
// The flag of the object setters that shares the reference.
constexpr LONG kShareObject = 1;
}  // namespace

HRESULT CFlashFile5::ReOpenFile() {
    CriticalSectionLock guard(lock_);
    return GuardedCall([&]() -> HRESULT {
        if (!input_ || !manager_) return RaiseError(ZEV_E_INVALIDOPERATION);
        if (!input_->RefreshSize()) return RaiseError(ZEV_E_FILEACCESS);
        manager_->RefreshIndex(nullptr, *input_);
        ComPtr<IMediaParams> outer;
        if (FAILED(::CreateInstance(CLSID_MediaParams, outer))) return RaiseError(ZEV_E_MEMORY);
        const HRESULT hr = RefreshStreams(Kind::kVideo, outer.Get());
        if (FAILED(hr)) return hr;
        return RefreshStreams(Kind::kAudio, outer.Get());
    });
}

HRESULT CFlashFile5::RefreshStreams(Kind kind, IMediaParams* outer) {
    const bool video = kind == Kind::kVideo;
    // The lock is held (re-entered): the list cannot change meanwhile.
    const StreamList snapshot = Streams(kind);
    if (snapshot.empty()) return S_OK;
    const Bstr settingsName(L"FLVSettings");
    ComPtr<IMediaParams> inner;
    if (SUCCEEDED(::CreateInstance(CLSID_MediaParams, inner))) {
        const bool filled = video ? SaveVideoInfo(manager_.get(), inner.Get())
                                  : SaveAudioInfo(manager_.get(), inner.Get());
        if (!filled) return RaiseError(ZEV_E_MEMORY);
        (void)outer->SetParams(settingsName.Get(), 0, kShareObject, inner.Get());
        CacheHandle cache;
        (void)PrepareCache(cache, fileHash_.c_str(), kCacheKey, kCacheVersion,
                           video ? kCacheKindVideo : kCacheKindAudio);
        (void)SaveCache(cache, inner.Get());
    } else {
        // Without settings of its own kind the stream object walks on by itself; the other
        // kind's settings, left from the video step, would replace its index with theirs.
        (void)outer->Remove(settingsName.Get());
    }
    (void)snapshot.front()->SendCommandEx(kStreamRefresh, outer, nullptr);
    return S_OK;
}
