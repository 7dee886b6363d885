// The video decoder against ffmpeg on the same files: every frame, in order, byte for byte. Also
// both decoders on codecs they cannot decode and on random input.
#include <bitset>

#include "tests/decoders/DecoderHarness.h"

namespace {

// One file per codec family the decoder treats differently.
const Clip kH264{"dec_h264_bframes.flv",
                 "-f lavfi -i testsrc2=size=176x144:rate=25 -t 2 -c:v libx264 -bf 2 -g 25 "
                 "-pix_fmt yuv420p"};
const Clip kSorenson{"dec_flv1.flv",
                     "-f lavfi -i testsrc2=size=176x144:rate=25 -t 2 -c:v flv1 -g 10"};
const Clip kScreen1{"dec_flashsv.flv",
                    "-f lavfi -i testsrc2=size=100x70:rate=10 -t 2 -c:v flashsv -g 6"};
const Clip kScreen2{"dec_flashsv2.flv",
                    "-f lavfi -i testsrc2=size=100x70:rate=10 -t 2 -c:v flashsv2 -g 6"};
const Clip kVp6{"vp6_mp3.flv", ""};

// Each row: every frame as ffmpeg decodes it in that pixel format (an unknown colour space, 7,
// gives planar 4:2:0), as many as ffmpeg's: H.264 holds B-frames back for reordering, and the
// end of input must release them. A decoder released with frames held, in the codec too, leaves
// nothing for the leak checker at exit. Then a reset inside a GOP (before the frame `resetAt`, when
// not 0): the frames fed before the next keyframe are dropped, and from that keyframe on the output
// is ffmpeg's (closed GOPs: the keyframe's place in presentation order is its place in the tags).
// A damaged frame (one 16x16 block claiming more bytes than follow) before the screen video
// settles nothing about its version.
TEST(VideoDecoder, EveryCodecMatchesFfmpegFrameForFrameAlsoAfterAReset) {
    const struct {
        Clip clip;
        LONG colorSpace;
        const char* pixelFormat;
        std::size_t resetAt;
    } rows[] = {{kH264, kColorSpaceYuv420, "yuv420p", 13},
                {kH264, kColorSpaceBgra32, "bgra", 0},
                {kSorenson, 7, "yuv420p", 14},
                {kScreen1, kColorSpaceBgr24, "bgr24", 3},
                {kScreen2, kColorSpaceBgr24, "bgr24", 8},
                {kVp6, kColorSpaceYuv420, "yuv420p", 20}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.clip.name);
        LOAD_CLIP(path, file, row.clip);
        const auto expected = PeerHashes(*path, row.pixelFormat);
        const auto frames =
            Decode(StartVideoDecoder(file.videoCodec, file.videoExtra, row.colorSpace).Get(),
                   CLSID_VideoPacket, file.video);
        // Frames outlive their decoder, and a copy made before a frame is first read (frames
        // are packed when first read) shows the same picture.
        ASSERT_FALSE(frames.empty());
        ComPtr<IUnknown> copy;
        ASSERT_EQ(frames.back()->Duplicate(0, copy.Put()), S_OK);
        EXPECT_EQ(PacketData(copy.As<IMediaPacket>().Get()), PacketData(frames.back().Get()));
        EXPECT_EQ(FrameHashes(frames), expected);
        const auto decoder = StartVideoDecoder(file.videoCodec, file.videoExtra, row.colorSpace);
        Decode(StartVideoDecoder(file.videoCodec, file.videoExtra).Get(), CLSID_VideoPacket,
               std::vector<Bytes>(file.video.begin(), file.video.begin() + 12), nullptr,
               Then::kHold);
        if (row.resetAt == 0) continue;
        std::vector<Bytes> before(file.video.begin(), file.video.begin() + row.resetAt);
        if (file.videoCodec == kVideoCodecScreen)
            before.insert(before.begin(), {0x00, 0x10, 0x00, 0x10, 0x00, 0x40, 0x00, 0x78});
        const auto first =
            FrameHashes(Decode(decoder.Get(), CLSID_VideoPacket, before, nullptr, Then::kRead));
        ASSERT_TRUE(!first.empty() && first.size() <= expected.size());
        EXPECT_TRUE(std::equal(first.begin(), first.end(), expected.begin()));
        ASSERT_EQ(decoder->Reset(0), S_OK);
        EXPECT_TRUE(ReadAll(decoder.Get()).empty());
        std::size_t key = row.resetAt;
        while (key < file.video.size() && !file.keyFrames[key]) ++key;
        ASSERT_LT(key, expected.size());
        const std::vector<Bytes> after(file.video.begin() + row.resetAt, file.video.end());
        EXPECT_EQ(FrameHashes(Decode(decoder.Get(), CLSID_VideoPacket, after)),
                  std::vector<std::string>(expected.begin() + key, expected.end()));
    }
}

// VP6 with alpha: each frame holds a 3-byte offset, the colour frame, then the alpha frame (a
// VP6 frame whose luma is the alpha plane). Built from a VP6 file with each frame as its own
// alpha: the colour is ffmpeg's VP6, and the alpha of BGRA output is that frame's luma.
TEST(VideoDecoder, Vp6AlphaDecodesColourAndAlpha) {
    LOAD_CLIP(path, file, (Clip{"vp6_tiny.flv", ""}));
    std::vector<Bytes> payloads;
    for (const Bytes& frame : file.video) {
        const std::size_t n = frame.size();
        payloads.push_back({std::uint8_t(n >> 16), std::uint8_t(n >> 8), std::uint8_t(n)});
        for (int copy = 0; copy < 2; ++copy)
            payloads.back().insert(payloads.back().end(), frame.begin(), frame.end());
    }
    const auto decode = [&](LONG colorSpace) {
        const auto decoder = StartVideoDecoder(kVideoCodecVp6Alpha, file.videoExtra, colorSpace);
        return Decode(decoder.Get(), CLSID_VideoPacket, payloads);
    };
    const auto yuv = decode(kColorSpaceYuv420), bgra = decode(kColorSpaceBgra32);
    EXPECT_EQ(FrameHashes(yuv), PeerHashes(*path, "yuv420p"));
    ASSERT_TRUE(!bgra.empty() && bgra.size() == yuv.size());
    for (std::size_t i = 0; i < bgra.size(); ++i) {
        const std::string pixels = PacketData(bgra[i].Get()), luma = PacketData(yuv[i].Get());
        std::size_t same = 0;
        for (std::size_t p = 0; p < pixels.size() / 4; ++p) same += pixels[4 * p + 3] == luma[p];
        EXPECT_EQ(same, pixels.size() / 4) << "frame " << i;
    }
}

// A codec that cannot be decoded, or an audio output format without channels (nothing to divide
// by): each step fails cleanly, and Read gives no packet.
TEST(Decoders, UnsupportedOrUnconfiguredFailsEveryStepCleanly) {
    ComPtr<IVideoDecoder> video;
    ComPtr<IAudioDecoder> audio;
    ComPtr<IVideoFormat> format;
    ComPtr<IUnknown> out;
    ASSERT_TRUE(CreateInstance(CLSID_VideoDecoder, video) == S_OK &&
                CreateInstance(CLSID_AudioDecoder, audio) == S_OK &&
                CreateInstance(CLSID_VideoFormat, format) == S_OK && format->SetCodec(999) == S_OK);
    const auto picture = MakePacket(CLSID_VideoPacket, {1, 2, 3});
    const auto sound =
        MakePacket(CLSID_AudioPacket, {1, 2}, AudioFormat(0x15099, Wave(1, 8000)).Get());
    EXPECT_EQ(video->Command(kProcessorConfigure, format.Get(), nullptr), kUnsupportedCodec);
    EXPECT_EQ(video->Write(kWriteData, picture.Get()), kUnsupportedCodec);
    EXPECT_EQ(audio->Command(kProcessorConfigure, AudioFormat(0, {}).Get(), nullptr), E_INVALIDARG);
    audio = StartAudioDecoder(1, 8000, {});
    EXPECT_EQ(audio->Write(kWriteData, sound.Get()), kUnsupportedCodec);
    EXPECT_TRUE(video->Read(0, 0.0, out.Put()) == kUnsupportedCodec && !out);
    EXPECT_TRUE(audio->Read(0, 0.0, out.Put()) == kUnsupportedCodec && !out);
}

// A Sorenson picture header may claim up to 65535 x 65535 pixels: one beyond the decoder's bound
// (12000 x 12000 here, which libavcodec itself would accept) is refused at once, instead of
// clearing and converting hundreds of megabytes for a picture of a few bytes.
TEST(Decoders, APictureOfGiantSizeIsRefused) {
    std::string bits =
        "00000000000000001"  // picture start code
        "00001"              // version 1
        "00000000"           // temporal reference
        "001"                // size: 16-bit width and height follow
        + std::bitset<16>(12000).to_string() + std::bitset<16>(12000).to_string() +
        "00"     // intra picture
        "0"      // no deblocking
        "00001"  // quantiser
        "0";     // no extra information
    bits.resize(bits.size() + 64 * 8, '0');
    Bytes picture;
    for (std::size_t i = 0; i + 8 <= bits.size(); i += 8)
        picture.push_back(static_cast<std::uint8_t>(std::stoi(bits.substr(i, 8), nullptr, 2)));
    const auto decoder = StartVideoDecoder(kVideoCodecSorenson, {}, kColorSpaceBgr24);
    EXPECT_TRUE(Decode(decoder.Get(), CLSID_VideoPacket, {picture}, nullptr, Then::kDrain).empty());
}

// Random payloads for every codec of both decoders, every third starting like a real frame (an
// MPEG audio frame header for audio), in two passes with a reset after each (audio in mono,
// then stereo; video held, then drained): no crash, no frame without data, and only whole
// stereo sample frames.
TEST(Decoders, GarbageInputNeverCrashes) {
    std::mt19937 random(1234);
    const Bytes avcRecord = {0x01, 0x64, 0x00, 0x0D, 0xFF, 0xE1, 0x00, 0x02,
                             0x67, 0x64, 0x01, 0x00, 0x02, 0x68, 0xEE};
    for (LONG codec :
         {kVideoCodecSorenson, kVideoCodecScreen, kVideoCodecVp6, kVideoCodecVp6Alpha,
          kVideoCodecH264, kAudioCodecPcmLittleEndian16, kAudioCodecPcm8, kAudioCodecAdpcm,
          kAudioCodecMp3, kAudioCodecAac, kAudioCodecNellymoser, kAudioCodecSpeex}) {
        SCOPED_TRACE(codec);
        const bool isVideo = codec < kAudioCodecPcmLittleEndian16;
        const Bytes start = !isVideo ? Bytes{0xFF, 0xFB, 0x90, 0x64}
                            : codec == kVideoCodecScreen
                                ? Bytes{0x30, 0x40, 0x30, 0x30, 0x00, 0x10, 0x78, 0x9C}
                                : Bytes{0x00, 0x00, 0x84, 0x00, 0x02, 0x0B, 0x01, 0x20};
        const ComPtr<IMediaProcessor> decoder(
            isVideo ? static_cast<IMediaProcessor*>(
                          StartVideoDecoder(codec, codec == kVideoCodecH264 ? avcRecord : Bytes{0},
                                            kColorSpaceBgra32)
                              .Get())
                    : StartAudioDecoder(2, 44100, {0x12, 0x10}).Get());  // AAC LC 44100 stereo
        for (int pass = 1; pass <= 2; ++pass) {
            std::vector<Bytes> payloads(100);
            for (std::size_t i = 0; i < payloads.size(); ++i) {
                payloads[i].resize(random() % (isVideo ? 600 : 900));
                for (auto& byte : payloads[i]) byte = static_cast<std::uint8_t>(random());
                if (payloads[i].size() > start.size() && i % 3 == 0)
                    std::copy(start.begin(), start.end(), payloads[i].begin());
            }
            const auto input =
                AudioFormat(codec, Wave(pass, codec == kAudioCodecSpeex ? 16000 : 22050));
            const Then then = pass == 2 ? Then::kDrain : isVideo ? Then::kHold : Then::kRead;
            for (const auto& packet :
                 Decode(decoder.Get(), isVideo ? CLSID_VideoPacket : CLSID_AudioPacket, payloads,
                        isVideo ? nullptr : input.Get(), then))
                EXPECT_TRUE(isVideo ? !PacketData(packet.Get()).empty()
                                    : PacketData(packet.Get()).size() % 4 == 0);
            ASSERT_EQ(decoder->Reset(0), S_OK);
        }
    }
}

}  // namespace
