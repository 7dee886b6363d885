#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "flv/Manager.h"
#include "mediakit/MediaKit.h"
#include "platform/Bstr.h"
#include "platform/Com.h"
#include "platform/TextConvert.h"
#include "source/Cache.h"
#include "tests/support/TempDir.h"

namespace {
namespace fs = std::filesystem;

// Points the application-data folder and the lock folder at a temporary folder per test.
class CacheTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(MediaKitRegisterClasses(), S_OK);
        setenv("XDG_DATA_HOME", (temp.Path() / "data").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (temp.Path() / "run").c_str(), 1);
        fs::create_directories(temp.Path() / "run");
    }
    fs::path CacheFolder() const { return temp.Path() / "data" / "Veltrano" / "FileCache"; }
    fs::path LockFolder() const {
        return temp.Path() / "run" / ("zev-locks-" + std::to_string(getuid()));
    }

    static ComPtr<IMediaParams> NewContainer() {
        ComPtr<IMediaParams> container;
        EXPECT_EQ(CreateInstance(CLSID_MediaParams, container), S_OK);
        return container;
    }
    // A manager with a few index entries and extra data, as a walk would leave it.
    static void Fill(CFLV_Manager& manager) {
        manager.facts.hasVideo = manager.facts.hasAudio = true;
        manager.facts.videoCodec = 7;
        manager.facts.width = 640;
        manager.facts.height = 360;
        manager.facts.frameRate = 29.97;
        manager.facts.videoDataRate = 800;
        manager.facts.soundFormat = 10;
        manager.facts.audioDataRate = 128;
        for (std::uint64_t i = 0; i < 20; ++i) {
            manager.videoIndex.push_back({1000 + i * 100, i * 33, i % 10 == 0 ? 1u : 2u});
            manager.audioIndex.push_back({1050 + i * 100, i * 23, 2});
        }
        const BYTE avc[] = {1, 0x64, 0, 0x1F, 0xFF};
        const BYTE aac[] = {0x12, 0x10};
        manager.videoExtra = std::make_unique<CExtraData>();
        manager.videoExtra->Assign(avc, sizeof avc);
        manager.audioExtra = std::make_unique<CExtraData>();
        manager.audioExtra->Assign(aac, sizeof aac);
    }

    TempDir temp;
};

TEST_F(CacheTest, FilesAndMutexesCarryTheComponentsNames) {
    CacheHandle video;
    EXPECT_FALSE(PrepareCache(video, L"0123abcd", kCacheKey, kCacheVersion, kCacheKindVideo));
    const fs::path expected = CacheFolder() / "zevflashfile-5-0-1-207-v-0123abcd.cache";
    EXPECT_EQ(fs::path(WideToUtf8(video.Path())), expected);
    EXPECT_TRUE(fs::is_directory(CacheFolder()));
    // The mutex is the base name: its lock file appears in the lock folder.
    EXPECT_TRUE(fs::exists(LockFolder() / "zevflashfile-5-0-1-207-v-0123abcd"));

    auto container = NewContainer();
    ASSERT_EQ(container->SetLong(Bstr(L"VideoCodecType").Get(), -1, 2), S_OK);
    ASSERT_TRUE(SaveCache(video, container.Get()));
    EXPECT_TRUE(fs::exists(expected));
    CacheHandle again;
    EXPECT_TRUE(PrepareCache(again, L"0123abcd", kCacheKey, kCacheVersion, kCacheKindVideo));
}

TEST_F(CacheTest, OnlyThePrefixCommasBecomeDashes) {
    CacheHandle audio;
    PrepareCache(audio, L"a,b", kCacheKey, kCacheVersion, kCacheKindAudio);
    EXPECT_EQ(fs::path(WideToUtf8(audio.Path())).filename(), "zevflashfile-5-0-1-207-a-a,b.cache");
}

TEST_F(CacheTest, HashThatIsNoPlainFileNameDisablesTheCache) {
    for (const wchar_t* hash : {L"", L"../escape", L"a/b", L"a\\b", L".", L"..", L"tab\there"}) {
        CacheHandle handle;
        EXPECT_FALSE(PrepareCache(handle, hash, kCacheKey, kCacheVersion, kCacheKindVideo))
            << WideToUtf8(hash);
        EXPECT_TRUE(handle.Path().empty());
        EXPECT_FALSE(SaveCache(handle, NewContainer().Get()));
    }
    CacheHandle none;
    EXPECT_FALSE(PrepareCache(none, nullptr, kCacheKey, kCacheVersion, kCacheKindVideo));
    const std::wstring tooLong(201, L'x');
    EXPECT_FALSE(IsUsableFileHash(tooLong));
    EXPECT_TRUE(IsUsableFileHash(std::wstring(200, L'x')));
    EXPECT_FALSE(fs::exists(temp.Path() / "escape.cache"));
}

TEST_F(CacheTest, SavedInfoLoadsBackIntoAManager) {
    CFLV_Manager source;
    Fill(source);
    auto video = NewContainer();
    auto audio = NewContainer();
    ASSERT_TRUE(SaveVideoInfo(&source, video.Get()));
    ASSERT_TRUE(SaveAudioInfo(&source, audio.Get()));

    CacheHandle videoHandle;
    CacheHandle audioHandle;
    PrepareCache(videoHandle, L"h1", kCacheKey, kCacheVersion, kCacheKindVideo);
    PrepareCache(audioHandle, L"h1", kCacheKey, kCacheVersion, kCacheKindAudio);
    ASSERT_TRUE(SaveCache(videoHandle, video.Get()));
    ASSERT_TRUE(SaveCache(audioHandle, audio.Get()));

    ComPtr<IMediaParams> loadedVideo;  // none given: LoadCache makes one
    ComPtr<IMediaParams> loadedAudio;
    ASSERT_TRUE(LoadCache(videoHandle, loadedVideo));
    ASSERT_TRUE(LoadCache(audioHandle, loadedAudio));
    auto merged = NewContainer();
    ASSERT_EQ(merged->Merge(0x101, loadedVideo.Get()), S_OK);
    ASSERT_EQ(merged->Merge(0x101, loadedAudio.Get()), S_OK);

    CFLV_Manager copy;
    CInputStream unused;
    copy.BuildIndex(merged.Get(), unused);
    EXPECT_EQ(copy.videoIndex, source.videoIndex);
    EXPECT_EQ(copy.audioIndex, source.audioIndex);
    EXPECT_EQ(copy.facts.videoCodec, 7);
    EXPECT_EQ(copy.facts.width, 640);
    EXPECT_EQ(copy.facts.height, 360);
    EXPECT_DOUBLE_EQ(copy.facts.frameRate, 29.97);
    EXPECT_EQ(copy.facts.videoDataRate, 800);
    EXPECT_EQ(copy.facts.audioDataRate, 128);
    ASSERT_TRUE(copy.videoExtra && copy.audioExtra);
    EXPECT_EQ(copy.videoExtra->Length(), 5u);
    EXPECT_EQ(copy.audioExtra->Length(), 2u);
}

TEST_F(CacheTest, DamagedFileFailsToLoadAndIsOverwrittenBySave) {
    CacheHandle handle;
    PrepareCache(handle, L"damaged", kCacheKey, kCacheVersion, kCacheKindVideo);
    std::ofstream(WideToUtf8(handle.Path()), std::ios::binary) << "not a container";
    ComPtr<IMediaParams> loaded;
    EXPECT_FALSE(LoadCache(handle, loaded));
    EXPECT_TRUE(loaded);  // handed over even when the load failed
    CFLV_Manager manager;
    Fill(manager);
    auto fresh = NewContainer();
    ASSERT_TRUE(SaveVideoInfo(&manager, fresh.Get()));
    ASSERT_TRUE(SaveCache(handle, fresh.Get()));
    ComPtr<IMediaParams> reloaded = NewContainer();
    EXPECT_TRUE(LoadCache(handle, reloaded));
}
}  // namespace
