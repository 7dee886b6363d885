// The index cache: the names of its files and mutexes. (The hash rule, a damaged file and what a
// saved entry gives back are checked through the source object and the stream objects.)
#include <unistd.h>

#include "platform/TextConvert.h"
#include "source/Cache.h"
#include "tests/source/SourceHarness.h"

namespace {
namespace fs = std::filesystem;

using CacheTest = SourceTest;

TEST_F(CacheTest, FilesAndMutexesCarryTheComponentsNames) {
    CacheHandle video, audio;
    EXPECT_FALSE(PrepareCache(video, L"0123abcd", kCacheKey, kCacheVersion, kCacheKindVideo));
    EXPECT_EQ(fs::path(WideToUtf8(video.Path())), CacheFile("v", "0123abcd"));
    // The mutex is the file's base name: its lock file appears in the lock folder.
    EXPECT_TRUE(fs::exists(temp.Path() / "run" / ("zev-locks-" + std::to_string(getuid())) /
                           "zevflashfile-5-0-1-207-v-0123abcd"));
    // Only the commas of the name's prefix become dashes: a comma of the hash stays.
    EXPECT_FALSE(PrepareCache(audio, L"a,b", kCacheKey, kCacheVersion, kCacheKindAudio));
    EXPECT_EQ(fs::path(WideToUtf8(audio.Path())), CacheFile("a", "a,b"));

    ASSERT_TRUE(SaveCache(video, NewParams().Get()));
    EXPECT_TRUE(fs::exists(CacheFile("v", "0123abcd")));
    EXPECT_TRUE(IsUsableFileHash(std::wstring(200, L'x')));  // the longest hash that is used
}

}  // namespace
