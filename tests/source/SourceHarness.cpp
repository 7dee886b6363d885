#include "tests/source/SourceHarness.h"

#include "mediakit/MediaKit.h"
#include "platform/Com.h"
#include "source/FlashFile5.h"
#include "streams/AudioStream.h"
#include "streams/VideoStream.h"
#include "tests/support/ComponentClasses.h"

namespace {
struct SourceClasses : ::testing::Environment {
    void SetUp() override {
        ASSERT_EQ(MediaKitRegisterClasses(), S_OK);
        classes.emplace().Add<CFlashFile5>(CLSID_FlashFile5);
        classes->Add<CFlashVideoStream5>(CLSID_FlashVideoStream5);
        classes->Add<CFlashAudioStream5>(CLSID_FlashAudioStream5);
    }
    void TearDown() override {
        classes.reset();
        MediaKitRevokeClasses();
    }
    std::optional<ComponentClassRegistration> classes;
};
[[maybe_unused]] auto* const kRegistration = ::testing::AddGlobalTestEnvironment(new SourceClasses);
}  // namespace

ComPtr<IMediaSource> NewSource() {
    ComPtr<IMediaSource> source;
    EXPECT_EQ(CreateInstance(CLSID_FlashFile5, source), S_OK);
    return source;
}

HRESULT Open(IMediaSource* source, IMediaParams* params) {
    return source->SendCommandEx(1, params, nullptr);
}

std::pair<LONG, LONG> Tracks(IMediaSource* source) {
    std::pair<LONG, LONG> counts{-1, -1};
    EXPECT_EQ(source->get_videoTracksCount(&counts.first), S_OK);
    EXPECT_EQ(source->get_audioTracksCount(&counts.second), S_OK);
    return counts;
}

LONG Status(IMediaSource* source) {
    LONG status = -1;
    EXPECT_EQ(ComPtr<IMediaSource>(source).As<IMediaFileTemplate>()->get_Status(&status), S_OK);
    return status;
}
