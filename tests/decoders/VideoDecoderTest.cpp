// The video decoder against ffmpeg on the same files: every frame, in order, byte for byte.
#include <algorithm>

#include "tests/decoders/DecoderHarness.h"

namespace {

// One file per codec family the decoder treats differently.
const Sample kH264{"dec_h264_bframes.flv",
                   "-f lavfi -i testsrc2=size=176x144:rate=25 -t 2 -c:v libx264 -bf 2 -g 25 "
                   "-pix_fmt yuv420p"};
const Sample kSorenson{"dec_flv1.flv",
                       "-f lavfi -i testsrc2=size=176x144:rate=25 -t 2 -c:v flv1 -g 10"};
const Sample kScreen1{"dec_flashsv.flv",
                      "-f lavfi -i testsrc2=size=100x70:rate=10 -t 2 -c:v flashsv -g 6"};
const Sample kScreen2{"dec_flashsv2.flv",
                      "-f lavfi -i testsrc2=size=100x70:rate=10 -t 2 -c:v flashsv2 -g 6"};
const Sample kVp6{"vp6_mp3.flv", ""};

// A property of the VideoFormat that describes `frame`.
LONG FormatValue(IMediaPacket* frame, HRESULT (STDMETHODCALLTYPE IVideoFormat::*get)(LONG*)) {
    ComPtr<IUnknown> format;
    LONG value = -1;
    EXPECT_EQ(frame->GetFormat(format.Put()), S_OK);
    const auto video = format.As<IVideoFormat>();
    EXPECT_TRUE(video && SUCCEEDED((video.Get()->*get)(&value)));
    return value;
}

// Each row: every frame as ffmpeg decodes it in that pixel format, each described by a format
// (an unknown colour space, 7, gives planar 4:2:0).
TEST(VideoDecoder, EveryCodecMatchesFfmpegFrameForFrame) {
    const struct {
        Sample sample;
        LONG colorSpace;
        const char* pixelFormat;
    } rows[] = {{kH264, kColorSpaceYuv420, "yuv420p"},
                {kH264, kColorSpaceBgra32, "bgra"},
                {kSorenson, 7, "yuv420p"},
                {kScreen1, kColorSpaceBgr24, "bgr24"},
                {kScreen2, kColorSpaceBgr24, "bgr24"},
                {kVp6, kColorSpaceYuv420, "yuv420p"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.sample.name);
        LOAD_SAMPLE(path, file, row.sample);
        const LONG codec = HostVideoCodec(file);
        std::size_t beforeEnd = 0;
        const auto frames =
            Decode(StartVideoDecoder(codec, file.videoExtra, row.colorSpace).Get(),
                   CLSID_VideoPacket, file.video, nullptr, Then::kDrain, &beforeEnd);
        EXPECT_EQ(FrameHashes(frames), PeerHashes(*path, row.pixelFormat));
        // H.264 holds B-frames back for reordering: the end of input releases them.
        EXPECT_TRUE(codec != kVideoCodecH264 || beforeEnd < frames.size());
        const auto streams = ProbeStreams(*path);
        const auto probe = std::find_if(streams.begin(), streams.end(),
                                        [](const ProbeStream& stream) { return stream.video; });
        ASSERT_TRUE(probe != streams.end() && !frames.empty());
        EXPECT_EQ(FormatValue(frames[0].Get(), &IVideoFormat::GetWidth), probe->width);
        EXPECT_EQ(FormatValue(frames[0].Get(), &IVideoFormat::GetDisplayHeight), probe->height);
        EXPECT_EQ(FormatValue(frames[0].Get(), &IVideoFormat::GetColorSpace),
                  row.colorSpace == 7 ? kColorSpaceYuv420 : row.colorSpace);
    }
}

// VP6 with alpha: each frame holds a 3-byte offset, the colour frame, then the alpha frame (a
// VP6 frame whose luma is the alpha plane). Built from a VP6 file with each frame as its own
// alpha: the colour is ffmpeg's VP6, and the alpha of BGRA output is that frame's luma.
TEST(VideoDecoder, Vp6AlphaDecodesColourAndAlpha) {
    LOAD_SAMPLE(path, file, (Sample{"vp6_tiny.flv", ""}));
    std::vector<Bytes> payloads;
    for (const Bytes& frame : file.video) {
        const std::size_t n = frame.size();
        Bytes payload = {std::uint8_t(n >> 16), std::uint8_t(n >> 8), std::uint8_t(n)};
        for (int copy = 0; copy < 2; ++copy)
            payload.insert(payload.end(), frame.begin(), frame.end());
        payloads.push_back(payload);
    }
    const auto decode = [&](LONG colorSpace) {
        const auto decoder = StartVideoDecoder(kVideoCodecVp6Alpha, file.videoExtra, colorSpace);
        return Decode(decoder.Get(), CLSID_VideoPacket, payloads);
    };
    const auto yuv = decode(kColorSpaceYuv420), bgra = decode(kColorSpaceBgra32);
    EXPECT_EQ(FrameHashes(yuv), PeerHashes(*path, "yuv420p"));
    ASSERT_TRUE(!bgra.empty() && bgra.size() == yuv.size());
    EXPECT_EQ(FormatValue(bgra[0].Get(), &IVideoFormat::GetAlpha), 1);
    for (std::size_t i = 0; i < bgra.size(); ++i) {
        const std::string pixels = PacketData(bgra[i].Get()), luma = PacketData(yuv[i].Get());
        std::size_t same = 0;
        for (std::size_t p = 0; p < pixels.size() / 4; ++p) same += pixels[4 * p + 3] == luma[p];
        EXPECT_EQ(same, pixels.size() / 4) << "frame " << i;
    }
}

// Reset inside a GOP: the frames fed before the next keyframe are dropped, and from that
// keyframe on the output is ffmpeg's, frame for frame (closed GOPs: the keyframe's place in
// presentation order is its place in the tags). A damaged frame (one 16x16 block claiming
// more bytes than follow) before the screen video settles nothing about its version.
TEST(VideoDecoder, ResetResumesAtTheNextKeyFrame) {
    const std::pair<Sample, std::size_t> rows[] = {
        {kH264, 13}, {kSorenson, 14}, {kScreen1, 3}, {kScreen2, 8}, {kVp6, 20}};
    for (const auto& [sample, resetAt] : rows) {
        SCOPED_TRACE(sample.name);
        LOAD_SAMPLE(path, file, sample);
        const bool screen = HostVideoCodec(file) == kVideoCodecScreen;
        const auto decoder = StartVideoDecoder(HostVideoCodec(file), file.videoExtra,
                                               screen ? kColorSpaceBgr24 : kColorSpaceYuv420);
        const auto expected = PeerHashes(*path, screen ? "bgr24" : "yuv420p");
        std::vector<Bytes> before(file.video.begin(), file.video.begin() + resetAt);
        if (screen) before.insert(before.begin(), {0x00, 0x10, 0x00, 0x10, 0x00, 0x40, 0x00, 0x78});
        const auto first =
            FrameHashes(Decode(decoder.Get(), CLSID_VideoPacket, before, nullptr, Then::kRead));
        ASSERT_TRUE(!first.empty() && first.size() <= expected.size());
        EXPECT_TRUE(std::equal(first.begin(), first.end(), expected.begin()));
        ASSERT_EQ(decoder->Reset(0), S_OK);
        EXPECT_TRUE(ReadAll(decoder.Get()).empty());
        ASSERT_FALSE(file.keyFrames[resetAt]) << "the reset should fall inside a GOP";
        std::size_t key = resetAt;
        while (key < file.video.size() && !file.keyFrames[key]) ++key;
        ASSERT_LT(key, expected.size());
        const std::vector<Bytes> after(file.video.begin() + resetAt, file.video.end());
        EXPECT_EQ(FrameHashes(Decode(decoder.Get(), CLSID_VideoPacket, after)),
                  std::vector<std::string>(expected.begin() + key, expected.end()));
    }
}

TEST(VideoDecoder, UnsupportedCodecFailsEveryStepCleanly) {
    ComPtr<IVideoDecoder> decoder;
    ComPtr<IVideoFormat> format;
    ComPtr<IUnknown> out;
    ASSERT_EQ(CreateInstance(CLSID_VideoDecoder, decoder), S_OK);
    ASSERT_EQ(CreateInstance(CLSID_VideoFormat, format), S_OK);
    const auto packet = MakePacket(CLSID_VideoPacket, {1, 2, 3});
    EXPECT_EQ(decoder->Command(kProcessorConfigure, packet.Get(), nullptr), E_INVALIDARG);
    ASSERT_EQ(format->SetCodec(999), S_OK);
    EXPECT_EQ(decoder->Command(kProcessorConfigure, format.Get(), nullptr), kUnsupportedCodec);
    EXPECT_EQ(decoder->Command(kProcessorStart, nullptr, nullptr), kUnsupportedCodec);
    EXPECT_EQ(decoder->Write(kWriteData, packet.Get()), kUnsupportedCodec);
    EXPECT_EQ(decoder->Read(0, 0.0, out.Put()), kUnsupportedCodec);
    EXPECT_FALSE(out);
}

// Random payloads, some starting like real frames, with a reset on the way: no crash, no frame
// without data.
TEST(VideoDecoder, GarbageInputNeverCrashes) {
    std::mt19937 random(1234);
    const Bytes avcRecord = {0x01, 0x64, 0x00, 0x0D, 0xFF, 0xE1, 0x00, 0x02,
                             0x67, 0x64, 0x01, 0x00, 0x02, 0x68, 0xEE};
    for (LONG codec : {kVideoCodecSorenson, kVideoCodecScreen, kVideoCodecVp6, kVideoCodecVp6Alpha,
                       kVideoCodecH264}) {
        SCOPED_TRACE(codec);
        const auto decoder = StartVideoDecoder(
            codec, codec == kVideoCodecH264 ? avcRecord : Bytes{0}, kColorSpaceBgra32);
        const auto payloads = Garbage(random, 100, 600,
                                      codec == kVideoCodecScreen
                                          ? Bytes{0x30, 0x40, 0x30, 0x30, 0x00, 0x10, 0x78, 0x9C}
                                          : Bytes{0x00, 0x00, 0x84, 0x00, 0x02, 0x0B, 0x01, 0x20});
        Decode(decoder.Get(), CLSID_VideoPacket, payloads, nullptr, Then::kHold);
        ASSERT_EQ(decoder->Reset(0), S_OK);
        for (const auto& frame : Decode(decoder.Get(), CLSID_VideoPacket, payloads)) {
            EXPECT_FALSE(PacketData(frame.Get()).empty());
        }
    }
}

// Frames decoded and held, others inside the codec's reorder buffer and threads: the leak
// checker at exit finds anything the released decoder leaves.
TEST(VideoDecoder, ReleasedInTheMiddleOfAStreamLeavesNothingBehind) {
    LOAD_SAMPLE(path, file, kH264);
    Decode(StartVideoDecoder(HostVideoCodec(file), file.videoExtra).Get(), CLSID_VideoPacket,
           std::vector<Bytes>(file.video.begin(), file.video.begin() + 25), nullptr, Then::kHold);
}

}  // namespace
