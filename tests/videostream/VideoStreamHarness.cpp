#include "tests/videostream/VideoStreamHarness.h"

#include "platform/Com.h"
#include "streams/VideoStream.h"
#include "tests/support/ComponentClasses.h"
#include "tests/support/FlvBuilder.h"

const Sample kH264Sample{"vs_h264_bframes_aac.flv",
                         "-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi "
                         "-i sine=frequency=440:sample_rate=44100 -t 2 -c:v libx264 -bf 2 -g 12 "
                         "-pix_fmt yuv420p -c:a aac"};
const Sample kSorensonSample{"vs_flv1.flv",
                             "-f lavfi -i testsrc2=size=160x120:rate=25 -t 2 -c:v flv1 -g 10"};
const Sample kScreenSample{"vs_flashsv.flv",
                           "-f lavfi -i testsrc2=size=96x64:rate=10 -t 2 -c:v flashsv -g 6"};
const Sample kLargeSample{"vs_flv1_large.flv",
                          "-f lavfi -i testsrc2=size=640x480:rate=25 -t 2 -c:v flv1 -q:v 1 "
                          "-g 250"};

[[maybe_unused]] static auto* const kRegistration = ::testing::AddGlobalTestEnvironment(
    new ProgramClasses<CFlashVideoStream5>(CLSID_FlashVideoStream5));

ComPtr<IMediaStream> NewVideoStream() {
    ComPtr<IMediaStream> stream;
    EXPECT_EQ(CreateInstance(CLSID_FlashVideoStream5, stream), S_OK);
    return stream;
}

ComPtr<IMediaStream> OpenVideoStream(const std::filesystem::path& file, const wchar_t* hash) {
    ComPtr<IMediaStream> stream = NewVideoStream();
    if (!stream) return nullptr;
    const HRESULT hr = stream->SendCommandEx(1001, OpenParams(file, hash).Get(), nullptr);
    EXPECT_EQ(hr, S_OK) << file;
    return hr == S_OK ? stream : nullptr;
}

std::optional<ReadFrame> ReadNext(IMediaStream* stream) {
    ComPtr<IUnknown> data;
    EXPECT_EQ(stream->Read(0, 0.0, data.Put()), S_OK);
    return FrameOf(data.Get());
}

std::vector<ReadFrame> ReadToEnd(IMediaStream* stream) {
    std::vector<ReadFrame> frames;
    // Bounded: a file of a few seconds never has this many frames, however cut.
    for (int i = 0; i < 100000; ++i) {
        auto frame = ReadNext(stream);
        if (!frame) break;
        frames.push_back(std::move(*frame));
    }
    return frames;
}

std::vector<FlvTag> VideoTagsOf(const std::filesystem::path& file) {
    std::vector<FlvTag> tags = TagsOf(FileBytes(file));
    std::erase_if(tags, [](const FlvTag& tag) { return tag.type != 9; });
    return tags;
}

std::string RebuildFlv(const std::vector<FlvTag>& tags,
                       const std::function<std::uint32_t(std::size_t, std::uint32_t)>& retime,
                       const std::vector<std::pair<std::string, std::string>>& metadata) {
    FlvBuilder builder(0x01);
    if (!metadata.empty()) builder.Script(0, FlvBuilder::OnMetaData(metadata));
    for (std::size_t i = 0; i < tags.size(); ++i) {
        builder.Tag(9, retime(i, tags[i].time), tags[i].body);
    }
    return builder.Bytes();
}
