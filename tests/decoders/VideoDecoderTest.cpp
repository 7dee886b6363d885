// The video decoder against ffmpeg on the same files: every frame, in order, byte for byte.
#include <gtest/gtest.h>

#include <random>

#include "platform/Bstr.h"
#include "platform/Com.h"
#include "tests/decoders/DecoderHarness.h"
#include "tests/support/FfmpegTools.h"

namespace {

constexpr HRESULT kUnsupportedCodec = MakeHResult(0x80070032u);

// Generated samples; each test skips when ffmpeg is missing.
struct Sample {
    const char* name;
    const char* arguments;
};
const Sample kH264{"dec_h264_bframes.flv",
                   "-f lavfi -i testsrc2=size=176x144:rate=25 -t 2 -c:v libx264 -bf 2 -g 25 "
                   "-pix_fmt yuv420p"};
const Sample kSorenson{"dec_flv1.flv",
                       "-f lavfi -i testsrc2=size=176x144:rate=25 -t 2 -c:v flv1 -g 10"};
const Sample kScreen1{"dec_flashsv.flv",
                      "-f lavfi -i testsrc2=size=100x70:rate=10 -t 2 -c:v flashsv -g 6"};
const Sample kScreen1Small{"dec_flashsv_small.flv",
                           "-f lavfi -i testsrc2=size=64x48:rate=10 -t 1 -c:v flashsv -g 6"};
const Sample kScreen2{"dec_flashsv2.flv",
                      "-f lavfi -i testsrc2=size=100x70:rate=10 -t 2 -c:v flashsv2 -g 6"};

std::optional<FlvFile> Load(const std::optional<std::filesystem::path>& path) {
    if (!path) return std::nullopt;
    return ReadFlvFile(*path);
}

#define LOAD_GENERATED(var, sample)                                            \
    if (!FfmpegAvailable()) GTEST_SKIP() << "ffmpeg and ffprobe are needed";   \
    const auto var##Path = GeneratedSample((sample).name, (sample).arguments); \
    ASSERT_TRUE(var##Path) << "ffmpeg could not make " << (sample).name;       \
    const auto var = Load(var##Path);                                          \
    ASSERT_TRUE(var)

#define LOAD_SHARED(var, name)                                                   \
    if (!FfmpegAvailable()) GTEST_SKIP() << "ffmpeg and ffprobe are needed";     \
    const auto var##Path = SharedTestFile(name);                                 \
    if (!var##Path) GTEST_SKIP() << "test file " << (name) << " is not present"; \
    const auto var = Load(var##Path);                                            \
    ASSERT_TRUE(var)

// ffmpeg's frames of a file as MD5s. Its scale filter converts in as many slices as it has
// threads, and the slice borders change a few chroma samples of RGB to YUV conversions: one
// thread converts the whole frame at once, as the decoder does.
std::vector<std::string> PeerHashes(const std::filesystem::path& file, const char* pixelFormat) {
    std::string output;
    RunCommand("ffmpeg -nostdin -v error -filter_threads 1 -i '" + file.string() +
                   "' -map 0:v -fps_mode passthrough -pix_fmt " + pixelFormat + " -f framemd5 -",
               &output);
    std::vector<std::string> hashes;
    std::size_t start = 0;
    while (start < output.size()) {
        std::size_t end = output.find('\n', start);
        if (end == std::string::npos) end = output.size();
        const std::string line = output.substr(start, end - start);
        start = end + 1;
        if (line.empty() || line[0] == '#') continue;
        const std::size_t comma = line.rfind(',');
        if (comma == std::string::npos) continue;
        hashes.push_back(line.substr(line.find_first_not_of(' ', comma + 1)));
    }
    return hashes;
}

// Decodes the whole video track and checks it against ffmpeg's frames in that pixel format.
void ExpectSameFrames(const std::filesystem::path& path, const FlvFile& file, LONG colorSpace,
                      const char* pixelFormat) {
    const auto decoder = StartVideoDecoder(HostVideoCodec(file), file.videoExtra, colorSpace);
    ASSERT_TRUE(decoder);
    const auto frames = DecodeVideo(decoder.Get(), file.video);
    const auto expected = PeerHashes(path, pixelFormat);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(FrameHashes(frames), expected);
}

LONG FormatValue(IMediaPacket* frame, HRESULT (STDMETHODCALLTYPE IVideoFormat::*get)(LONG*)) {
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(frame->GetFormat(unknown.Put()), S_OK);
    const auto format = unknown.As<IVideoFormat>();
    LONG value = -1;
    if (format) {
        EXPECT_EQ((format.Get()->*get)(&value), S_OK);
    }
    return value;
}

TEST(VideoDecoder, H264WithBFramesMatchesFfmpegAndDrainsAtTheEnd) {
    LOAD_GENERATED(file, kH264);
    const auto decoder = StartVideoDecoder(HostVideoCodec(*file), file->videoExtra);
    std::vector<ComPtr<IMediaPacket>> frames;
    for (const auto& tag : file->video) {
        ASSERT_EQ(decoder->Write(kWriteData, MakeVideoPacket(tag.payload).Get()), S_OK);
        for (auto& frame : ReadAll(decoder.Get())) frames.push_back(std::move(frame));
    }
    // Reordering holds frames back until the end of input releases them.
    const std::size_t beforeEnd = frames.size();
    ASSERT_EQ(decoder->Write(kWriteEndOfInput, nullptr), S_OK);
    for (auto& frame : ReadAll(decoder.Get())) frames.push_back(std::move(frame));
    EXPECT_LT(beforeEnd, frames.size());
    EXPECT_EQ(FrameHashes(frames), PeerHashes(*filePath, "yuv420p"));

    // Each frame describes itself: 176x144 planar 4:2:0, H.264, 176*144*3/2 bytes.
    ASSERT_FALSE(frames.empty());
    IMediaPacket* first = frames.front().Get();
    EXPECT_EQ(FormatValue(first, &IVideoFormat::GetWidth), 176);
    EXPECT_EQ(FormatValue(first, &IVideoFormat::GetHeight), 144);
    EXPECT_EQ(FormatValue(first, &IVideoFormat::GetDisplayWidth), 176);
    EXPECT_EQ(FormatValue(first, &IVideoFormat::GetDisplayHeight), 144);
    EXPECT_EQ(FormatValue(first, &IVideoFormat::GetColorSpace), kColorSpaceYuv420);
    EXPECT_EQ(FormatValue(first, &IVideoFormat::GetCodec), kVideoCodecH264);
    EXPECT_EQ(PacketData(first).size(), 176u * 144u * 3u / 2u);

    // After the drain the decoder has nothing left and a second end of input changes nothing.
    EXPECT_EQ(decoder->Write(kWriteEndOfInput, nullptr), S_OK);
    EXPECT_TRUE(ReadAll(decoder.Get()).empty());
}

TEST(VideoDecoder, RealFilesMatchFfmpeg) {
    for (const char* name : {"h264_bframes_aac.flv", "h264_speex_zero_length_tag.flv",
                             "vp6_tiny.flv", "vp6_mp3.flv", "flv1_nellymoser8k_recording.flv"}) {
        SCOPED_TRACE(name);
        LOAD_SHARED(file, name);
        ExpectSameFrames(*filePath, *file, kColorSpaceYuv420, "yuv420p");
    }
}

// VP6 with alpha: each frame holds a 3-byte offset, the colour frame, then the alpha frame (a
// VP6 frame whose luma is the alpha plane). Built from a VP6 file with each frame as its own
// alpha: the colour is ffmpeg's VP6, and the alpha of BGRA output is that frame's luma.
TEST(VideoDecoder, Vp6AlphaDecodesColourAndAlpha) {
    LOAD_SHARED(file, "vp6_tiny.flv");
    std::vector<FlvVideoTag> tags = file->video;
    for (auto& tag : tags) {
        const std::vector<std::uint8_t> frame = tag.payload;
        const std::size_t offset = frame.size();
        tag.payload = {static_cast<std::uint8_t>(offset >> 16),
                       static_cast<std::uint8_t>(offset >> 8), static_cast<std::uint8_t>(offset)};
        tag.payload.insert(tag.payload.end(), frame.begin(), frame.end());
        tag.payload.insert(tag.payload.end(), frame.begin(), frame.end());
    }
    const auto yuv = StartVideoDecoder(kVideoCodecVp6Alpha, file->videoExtra, kColorSpaceYuv420);
    const auto yuvFrames = DecodeVideo(yuv.Get(), tags);
    EXPECT_EQ(FrameHashes(yuvFrames), PeerHashes(*filePath, "yuv420p"));
    const auto bgra = StartVideoDecoder(kVideoCodecVp6Alpha, file->videoExtra, kColorSpaceBgra32);
    const auto bgraFrames = DecodeVideo(bgra.Get(), tags);
    ASSERT_EQ(bgraFrames.size(), yuvFrames.size());
    ASSERT_FALSE(bgraFrames.empty());
    EXPECT_EQ(FormatValue(bgraFrames[0].Get(), &IVideoFormat::GetAlpha), 1);
    EXPECT_EQ(FormatValue(bgraFrames[0].Get(), &IVideoFormat::GetColorSpace), kColorSpaceBgra32);
    for (std::size_t i = 0; i < bgraFrames.size(); ++i) {
        const std::string pixels = PacketData(bgraFrames[i].Get());
        const std::string planes = PacketData(yuvFrames[i].Get());
        const std::size_t count = pixels.size() / 4;
        ASSERT_LE(count, planes.size());
        std::size_t same = 0;
        for (std::size_t p = 0; p < count; ++p) same += pixels[4 * p + 3] == planes[p];
        EXPECT_EQ(same, count) << "frame " << i;
    }
}

TEST(VideoDecoder, SorensonMatchesFfmpeg) {
    LOAD_GENERATED(file, kSorenson);
    ExpectSameFrames(*filePath, *file, kColorSpaceYuv420, "yuv420p");
}

TEST(VideoDecoder, ScreenVideoBothVersionsMatchFfmpegAsBgr24) {
    LOAD_GENERATED(version1, kScreen1);
    ExpectSameFrames(*version1Path, *version1, kColorSpaceBgr24, "bgr24");
    LOAD_GENERATED(version2, kScreen2);
    ExpectSameFrames(*version2Path, *version2, kColorSpaceBgr24, "bgr24");
    // A source that marks its keyframes is trusted: unmarked frames are inter frames.
    const auto marked = StartVideoDecoder(kVideoCodecScreen, {}, kColorSpaceBgr24);
    EXPECT_EQ(FrameHashes(DecodeVideo(marked.Get(), version2->video, 0, true)),
              PeerHashes(*version2Path, "bgr24"));
    LOAD_SHARED(real, "screenvideo.flv");
    ExpectSameFrames(*realPath, *real, kColorSpaceBgr24, "bgr24");
}

// A damaged first frame settles nothing; the stream after it decodes as ffmpeg decodes it.
TEST(VideoDecoder, ScreenVideoVersionIsPickedPastADamagedFirstFrame) {
    LOAD_GENERATED(file, kScreen2);
    const auto decoder = StartVideoDecoder(kVideoCodecScreen, {}, kColorSpaceBgr24);
    // A 16x16 frame whose only block claims more bytes than follow.
    const std::vector<std::uint8_t> damaged = {0x00, 0x10, 0x00, 0x10, 0x00, 0x40, 0x00, 0x78};
    ASSERT_EQ(decoder->Write(kWriteData, MakeVideoPacket(damaged).Get()), S_OK);
    EXPECT_TRUE(ReadAll(decoder.Get()).empty());
    EXPECT_EQ(FrameHashes(DecodeVideo(decoder.Get(), file->video)), PeerHashes(*filePath, "bgr24"));
}

// libavcodec's screen video decoder refuses frames of another size than its first; a keyframe
// of a new size starts a new decoder.
TEST(VideoDecoder, ScreenVideoChangingSizeGoesOnDecoding) {
    LOAD_GENERATED(large, kScreen1);
    LOAD_GENERATED(small, kScreen1Small);
    auto tags = large->video;
    tags.insert(tags.end(), small->video.begin(), small->video.end());
    const auto decoder = StartVideoDecoder(kVideoCodecScreen, {}, kColorSpaceBgr24);
    const auto frames = DecodeVideo(decoder.Get(), tags);
    auto expected = PeerHashes(*largePath, "bgr24");
    const auto more = PeerHashes(*smallPath, "bgr24");
    expected.insert(expected.end(), more.begin(), more.end());
    EXPECT_EQ(FrameHashes(frames), expected);
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(FormatValue(frames.back().Get(), &IVideoFormat::GetWidth), 64);
    EXPECT_EQ(FormatValue(frames.back().Get(), &IVideoFormat::GetHeight), 48);
}

TEST(VideoDecoder, ConvertedColourSpacesMatchFfmpeg) {
    LOAD_GENERATED(h264, kH264);
    ExpectSameFrames(*h264Path, *h264, kColorSpaceBgr24, "bgr24");
    ExpectSameFrames(*h264Path, *h264, kColorSpaceBgra32, "bgra");
    // Screen video decodes as BGR24: planar YUV is a conversion of it.
    LOAD_GENERATED(screen, kScreen1);
    ExpectSameFrames(*screenPath, *screen, kColorSpaceYuv420, "yuv420p");
}

TEST(VideoDecoder, UnknownColourSpaceValuesDecodeAsYuv420) {
    LOAD_GENERATED(file, kSorenson);
    const auto decoder = StartVideoDecoder(HostVideoCodec(*file), {}, 7);
    VARIANT value{};
    Bstr name(L"DecodeColorSpace");
    ASSERT_EQ(decoder->GetParam(name.Get(), &value), S_OK);
    EXPECT_EQ(value.vt, VT_I4);
    EXPECT_EQ(value.lVal, kColorSpaceYuv420);
    const auto frames = DecodeVideo(decoder.Get(), file->video);
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(FormatValue(frames[0].Get(), &IVideoFormat::GetColorSpace), kColorSpaceYuv420);
    EXPECT_EQ(FrameHashes(frames), PeerHashes(*filePath, "yuv420p"));
}

// Reset in the middle of a GOP: the frames fed before the next keyframe are dropped, and from
// that keyframe on the output is ffmpeg's, frame for frame.
void ExpectResumeAtNextKeyFrame(const std::filesystem::path& path, const FlvFile& file,
                                LONG colorSpace, const char* pixelFormat, std::size_t resetAt) {
    const auto decoder = StartVideoDecoder(HostVideoCodec(file), file.videoExtra, colorSpace);
    for (std::size_t i = 0; i < resetAt; ++i) {
        ASSERT_EQ(decoder->Write(kWriteData, MakeVideoPacket(file.video[i].payload).Get()), S_OK);
    }
    ASSERT_EQ(decoder->Reset(0), S_OK);
    ComPtr<IUnknown> none;
    ASSERT_EQ(decoder->Read(0, 0.0, none.Put()), S_OK);
    EXPECT_FALSE(none);
    std::size_t key = resetAt;
    while (key < file.video.size() && !file.video[key].keyFrame) ++key;
    ASSERT_LT(key, file.video.size());
    ASSERT_FALSE(file.video[resetAt].keyFrame) << "the reset should fall inside a GOP";
    const auto frames = DecodeVideo(decoder.Get(), file.video, resetAt);
    // In a closed GOP the keyframe's place in presentation order is its place in the tags.
    const auto expected = PeerHashes(path, pixelFormat);
    ASSERT_LT(key, expected.size());
    EXPECT_EQ(FrameHashes(frames),
              std::vector<std::string>(expected.begin() + key, expected.end()));
}

TEST(VideoDecoder, ResetResumesAtTheNextKeyFrame) {
    {
        LOAD_GENERATED(h264, kH264);
        ExpectResumeAtNextKeyFrame(*h264Path, *h264, kColorSpaceYuv420, "yuv420p", 13);
    }
    {
        LOAD_GENERATED(sorenson, kSorenson);
        ExpectResumeAtNextKeyFrame(*sorensonPath, *sorenson, kColorSpaceYuv420, "yuv420p", 14);
    }
    {
        LOAD_GENERATED(screen1, kScreen1);
        ExpectResumeAtNextKeyFrame(*screen1Path, *screen1, kColorSpaceBgr24, "bgr24", 3);
    }
    {
        LOAD_GENERATED(screen2, kScreen2);
        ExpectResumeAtNextKeyFrame(*screen2Path, *screen2, kColorSpaceBgr24, "bgr24", 8);
    }
    {
        LOAD_SHARED(vp6, "vp6_mp3.flv");
        ExpectResumeAtNextKeyFrame(*vp6Path, *vp6, kColorSpaceYuv420, "yuv420p", 20);
    }
}

TEST(VideoDecoder, UnsupportedCodecFailsEveryStepCleanly) {
    ComPtr<IVideoDecoder> decoder;
    ASSERT_EQ(CreateInstance(CLSID_VideoDecoder, decoder), S_OK);
    // Nothing configured yet.
    ComPtr<IUnknown> out;
    EXPECT_TRUE(FAILED(decoder->Read(0, 0.0, out.Put())));
    EXPECT_FALSE(out);
    EXPECT_TRUE(FAILED(decoder->Write(kWriteData, MakeVideoPacket({1, 2, 3}).Get())));

    ComPtr<IVideoFormat> format;
    ASSERT_EQ(CreateInstance(CLSID_VideoFormat, format), S_OK);
    format->SetCodec(999);
    EXPECT_EQ(decoder->Command(kProcessorConfigure, format.Get(), nullptr), kUnsupportedCodec);
    EXPECT_EQ(decoder->Command(kProcessorStart, nullptr, nullptr), kUnsupportedCodec);
    EXPECT_EQ(decoder->Write(kWriteData, MakeVideoPacket({1, 2, 3}).Get()), kUnsupportedCodec);
    EXPECT_EQ(decoder->Read(0, 0.0, out.Put()), kUnsupportedCodec);
    EXPECT_FALSE(out);
    // A configuration that is no format at all.
    EXPECT_EQ(decoder->Command(kProcessorConfigure, MakeVideoPacket({1}).Get(), nullptr),
              E_INVALIDARG);
    // A supported codec afterwards works.
    format->SetCodec(kVideoCodecSorenson);
    EXPECT_EQ(decoder->Command(kProcessorConfigure, format.Get(), nullptr), S_OK);
    EXPECT_EQ(decoder->Command(kProcessorStart, nullptr, nullptr), S_OK);
    EXPECT_EQ(decoder->Read(0, 0.0, out.Put()), S_OK);
    EXPECT_EQ(decoder->Command(kProcessorStop, nullptr, nullptr), S_OK);
}

TEST(VideoDecoder, GarbageInputNeverCrashes) {
    std::mt19937 random(1234);
    const std::vector<std::uint8_t> avcRecord = {0x01, 0x64, 0x00, 0x0D, 0xFF, 0xE1, 0x00, 0x02,
                                                 0x67, 0x64, 0x01, 0x00, 0x02, 0x68, 0xEE};
    for (LONG codec : {kVideoCodecSorenson, kVideoCodecScreen, kVideoCodecVp6, kVideoCodecVp6Alpha,
                       kVideoCodecH264}) {
        SCOPED_TRACE(codec);
        const auto extra = codec == kVideoCodecH264 ? avcRecord : std::vector<std::uint8_t>{0x00};
        for (LONG colorSpace : {kColorSpaceYuv420, kColorSpaceBgra32}) {
            const auto decoder = StartVideoDecoder(codec, extra, colorSpace);
            for (int i = 0; i < 150; ++i) {
                std::vector<std::uint8_t> payload(random() % 600);
                for (auto& byte : payload) byte = static_cast<std::uint8_t>(random());
                // Some frames start like real ones, so that decoders go past their headers.
                if (payload.size() > 8 && i % 3 == 0) {
                    const std::uint8_t sorenson[] = {0x00, 0x00, 0x84, 0x00,
                                                     0x02, 0x0B, 0x01, 0x20};
                    const std::uint8_t screen[] = {0x30, 0x40, 0x30, 0x30, 0x00, 0x10, 0x78, 0x9C};
                    const std::uint8_t* start = codec == kVideoCodecScreen ? screen : sorenson;
                    std::copy(start, start + 8, payload.begin());
                }
                EXPECT_TRUE(SUCCEEDED(decoder->Write(kWriteData, MakeVideoPacket(payload).Get())));
                for (const auto& frame : ReadAll(decoder.Get())) {
                    EXPECT_GT(PacketData(frame.Get()).size(), 0u);
                }
                if (i == 100) decoder->Reset(0);
            }
            EXPECT_EQ(decoder->Write(kWriteEndOfInput, nullptr), S_OK);
            ReadAll(decoder.Get());
        }
    }
}

TEST(VideoDecoder, ReleasedInTheMiddleOfAStreamLeavesNothingBehind) {
    LOAD_GENERATED(file, kH264);
    auto decoder = StartVideoDecoder(HostVideoCodec(*file), file->videoExtra);
    // Frames decoded and held, others inside the codec's reorder buffer and threads.
    for (std::size_t i = 0; i < file->video.size() / 2; ++i) {
        ASSERT_EQ(decoder->Write(kWriteData, MakeVideoPacket(file->video[i].payload).Get()), S_OK);
    }
    decoder = nullptr;  // the leak checker at exit finds anything left
}

}  // namespace
