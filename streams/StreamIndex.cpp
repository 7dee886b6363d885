#include "streams/StreamIndex.h"

#include "platform/Bstr.h"
#include "platform/Com.h"
#include "source/Cache.h"

void BuildStreamIndex(IMediaParams* params, CInputStream& input, CFLV_Manager& manager,
                      StreamKind kind) {
    // A stored index found damaged as it is read counts as none: a new manager walks the file.
    const std::uint64_t firstTag = input.Tell();
    const auto walkInstead = [&] {
        manager = CFLV_Manager();
        if (input.SeekTo(firstTag)) manager.BuildIndex(nullptr, input);
    };
    ComPtr<IMediaParams> settings;
    (void)params->GetParams(Bstr(L"FLVSettings").Get(), 0, 1, settings.Put());
    if (settings) {
        manager.BuildIndex(settings.Get(), input);
        if (manager.StoredIndexUnusable()) walkInstead();
        return;
    }

    const bool video = kind == StreamKind::kVideo;
    // A hash that is not a plain file name leaves the cache alone: nothing is read or written.
    Bstr hash;
    const bool useCache = SUCCEEDED(params->GetString(Bstr(L"FileHash").Get(), -1, hash.Put())) &&
                          hash && IsUsableFileHash(hash.View());
    CacheHandle cache;
    ComPtr<IMediaParams> loaded;
    if (useCache) {
        (void)PrepareCache(cache, hash.Get(), kCacheKey, kCacheVersion,
                           video ? kCacheKindVideo : kCacheKindAudio);
        if (!LoadCache(cache, loaded)) loaded = nullptr;  // a failed load is not used
    }
    manager.BuildIndex(loaded.Get(), input);
    if (loaded && manager.StoredIndexUnusable()) {
        loaded = nullptr;  // as a cache file that does not load: walked, and written again
        walkInstead();
    }
    const bool found = video ? manager.facts.hasVideo : manager.facts.hasAudio;
    if (!useCache || loaded || !found) return;
    ComPtr<IMediaParams> fresh;
    if (FAILED(::CreateInstance(CLSID_MediaParams, fresh))) return;
    const bool filled =
        video ? SaveVideoInfo(&manager, fresh.Get()) : SaveAudioInfo(&manager, fresh.Get());
    if (filled) (void)SaveCache(cache, fresh.Get());
}
