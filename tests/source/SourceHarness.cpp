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
        source.emplace().Add<CFlashFile5>(CLSID_FlashFile5);
        AddStreams();
    }
    void TearDown() override {
        streams.reset();
        source.reset();
        MediaKitRevokeClasses();
    }
    void AddStreams() {
        streams.emplace().Add<CFlashVideoStream5>(CLSID_FlashVideoStream5);
        streams->Add<CFlashAudioStream5>(CLSID_FlashAudioStream5);
    }
    std::optional<ComponentClassRegistration> source, streams;
};
auto* const kRegistration =
    static_cast<SourceClasses*>(::testing::AddGlobalTestEnvironment(new SourceClasses));
}  // namespace

WithoutRealStreamClasses::WithoutRealStreamClasses() {
    kRegistration->streams.reset();
}

WithoutRealStreamClasses::~WithoutRealStreamClasses() {
    kRegistration->AddStreams();
}

ComPtr<IMediaSource> NewSource() {
    ComPtr<IMediaSource> source;
    EXPECT_EQ(CreateInstance(CLSID_FlashFile5, source), S_OK);
    return source;
}

HRESULT Open(IMediaSource* source, IMediaParams* params) {
    return source->SendCommandEx(1, params, nullptr);
}

std::pair<int, int> Tracks(IMediaSource* source) {
    LONG video = -1, audio = -1;
    EXPECT_EQ(source->get_videoTracksCount(&video), S_OK);
    EXPECT_EQ(source->get_audioTracksCount(&audio), S_OK);
    return {video, audio};
}

LONG Status(IMediaSource* source) {
    LONG status = -1;
    EXPECT_EQ(ComPtr<IMediaSource>(source).As<IMediaFileTemplate>()->get_Status(&status), S_OK);
    return status;
}
