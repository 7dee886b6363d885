// The index cache: the names of its files and mutexes, the hash rule, what a saved entry gives
// back to a manager, and a damaged file.
#include <unistd.h>

#include <fstream>

#include "flv/Manager.h"
#include "platform/TextConvert.h"
#include "source/Cache.h"
#include "tests/source/SourceHarness.h"
#include "tests/support/FlvBuilder.h"
#include "tests/support/FlvTestFile.h"

namespace {
namespace fs = std::filesystem;

using CacheTest = SourceTest;

bool Prepare(CacheHandle& handle, const wchar_t* hash, const wchar_t* kind) {
    return PrepareCache(handle, hash, kCacheKey, kCacheVersion, kind);
}

TEST_F(CacheTest, FilesAndMutexesCarryTheComponentsNames) {
    CacheHandle video, audio;
    EXPECT_FALSE(Prepare(video, L"0123abcd", kCacheKindVideo));
    EXPECT_EQ(fs::path(WideToUtf8(video.Path())), CacheFile("v", "0123abcd"));
    // The mutex is the file's base name: its lock file appears in the lock folder.
    EXPECT_TRUE(fs::exists(temp.Path() / "run" / ("zev-locks-" + std::to_string(getuid())) /
                           "zevflashfile-5-0-1-207-v-0123abcd"));
    // Only the commas of the name's prefix become dashes: a comma of the hash stays.
    EXPECT_FALSE(Prepare(audio, L"a,b", kCacheKindAudio));
    EXPECT_EQ(fs::path(WideToUtf8(audio.Path())), CacheFile("a", "a,b"));

    ASSERT_TRUE(SaveCache(video, NewParams().Get()));
    EXPECT_TRUE(fs::exists(CacheFile("v", "0123abcd")));
}

// A hash that is not a plain file name (empty, a path, a dot name, a control character, over
// 200 characters) gives no cache file: nothing is read or written outside the folder.
TEST_F(CacheTest, AHashThatIsNoPlainFileNameDisablesTheCache) {
    for (const std::wstring& hash :
         std::initializer_list<std::wstring>{L"", L"../escape", L"a/b", L"a\\b", L".", L"..",
                                             L"tab\there", std::wstring(201, L'x')}) {
        CacheHandle handle;
        EXPECT_FALSE(Prepare(handle, hash.c_str(), kCacheKindVideo)) << WideToUtf8(hash);
        EXPECT_TRUE(handle.Path().empty());
        EXPECT_FALSE(SaveCache(handle, NewParams().Get()));
    }
    EXPECT_TRUE(IsUsableFileHash(std::wstring(200, L'x')));
    EXPECT_FALSE(fs::exists(temp.Path() / "data" / "Veltrano" / "escape.cache"));
}

// What SaveVideoInfo and SaveAudioInfo put in the two files loads back into a manager: the same
// indexes, facts and extra data.
TEST_F(CacheTest, SavedInfoLoadsBackIntoAManager) {
    FlvBuilder flv;
    flv.AvcSequenceHeader(0);
    for (std::uint32_t time = 0; time < 800; time += 40) {
        flv.AvcFrame(time, time % 400 == 0 ? 1 : 2, 0, 50);
        flv.AacFrame(time, 20);
    }
    FlvTestFile file(flv.Bytes());
    CFLV_Manager source;
    source.BuildIndex(nullptr, file.InputAt(13));
    auto merged = NewParams();
    for (const wchar_t* kind : {kCacheKindVideo, kCacheKindAudio}) {
        const bool video = kind == kCacheKindVideo;
        auto info = NewParams();
        ASSERT_TRUE(video ? SaveVideoInfo(&source, info.Get())
                          : SaveAudioInfo(&source, info.Get()));
        CacheHandle handle;
        Prepare(handle, L"h1", kind);
        ASSERT_TRUE(SaveCache(handle, info.Get()));
        ComPtr<IMediaParams> loaded;  // none given: LoadCache makes one
        ASSERT_TRUE(LoadCache(handle, loaded));
        ASSERT_EQ(merged->Merge(0x101, loaded.Get()), S_OK);
    }
    CFLV_Manager copy;
    CInputStream unused;
    copy.BuildIndex(merged.Get(), unused);
    EXPECT_EQ(copy.videoIndex, source.videoIndex);
    EXPECT_EQ(copy.audioIndex, source.audioIndex);
    EXPECT_EQ(copy.facts.videoCodec, 7);
    ASSERT_TRUE(copy.videoExtra);
    EXPECT_EQ(copy.videoExtra->Length(), FlvBuilder::AvcRecord().size());
}

// A damaged file fails to load (the container is handed over all the same) and a save
// replaces it with one that loads.
TEST_F(CacheTest, DamagedFileFailsToLoadAndIsOverwrittenBySave) {
    CacheHandle handle;
    Prepare(handle, L"damaged", kCacheKindVideo);
    std::ofstream(WideToUtf8(handle.Path()), std::ios::binary) << "not a container";
    ComPtr<IMediaParams> loaded;
    EXPECT_FALSE(LoadCache(handle, loaded));
    EXPECT_TRUE(loaded);
    ASSERT_TRUE(SaveCache(handle, NewParams().Get()));
    EXPECT_TRUE(LoadCache(handle, loaded));
}

}  // namespace
